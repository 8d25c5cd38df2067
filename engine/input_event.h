#pragma once

#include <QFlags>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>

namespace pimsel {

// The coordinator's reading of one key-down. The platform layer maps its own keys onto it.
enum class KeyAction : std::uint8_t {
    text, // payload: the typed text, non-empty
    backspace,
    wordBackspace,
    tab,
    returnKey,
    escape,
    space,
    up,
    down,
    left,
    right,
    modified, // any other key with Control or Super held
};
inline constexpr int keyActionCount = 12;

enum class Modifier : std::uint8_t {
    shift = 0x1,
    control = 0x2,
    alt = 0x4,
    super = 0x8,
};
Q_DECLARE_FLAGS(Modifiers, Modifier)
Q_DECLARE_OPERATORS_FOR_FLAGS(Modifiers)

struct InputEvent {
    enum class Type : std::uint8_t { keyDown, mouseDown, other };

    Type type = Type::other;
    KeyAction action = KeyAction::text;
    QString text;          // typed text for `text` (control characters already made empty)
    Modifiers modifiers;   // held at the time of the event
    QPoint globalPosition; // pointer position for mouseDown
    // False when nothing held the key back: the application has it already, so the handler's
    // answer cannot withhold it and the handler must not act as though it had.
    bool canSwallow = true;
    // For a key held back while the handler decides (valid only during handleEvent): keeps it held
    // until the answer, and says whether it still is — false when the wait ran out and the key
    // went on to the application. A handler calls it after its slow checks, before it acts on the
    // key as taken. Empty when there is nothing to keep.
    std::function<bool()> hold;

    static InputEvent keyDown(KeyAction action, QString text = {}, Modifiers modifiers = {}) {
        return InputEvent{Type::keyDown, action, std::move(text), modifiers, {}, true, {}};
    }
    static InputEvent mouseDown(QPoint globalPosition) {
        return InputEvent{Type::mouseDown, KeyAction::text, {}, {}, globalPosition, false, {}};
    }
};

// Which key-downs the handler may swallow in its current state. The input hook grabs exactly
// these keys and nothing else, so this must agree with what handleEvent would swallow.
struct SwallowableKeys {
    std::uint32_t actions = 0; // bit (1 << int(KeyAction)) for non-text actions
    bool anyText = false;      // every `text` key (browser or picker open)
    QString triggerText;       // a `text` key whose whole text equals this (non-empty when set)
    // What a token opened by the next key would need, for the hook to hold the moment it reads a key
    // with the text `openingText`, before the handler has checked the context: the keys typed right
    // after that one are then held too, and passed on if the handler does not take them.
    QString openingText;
    std::uint32_t openingActions = 0;

    bool contains(KeyAction action) const { return actions & (1u << static_cast<unsigned>(action)); }
    void insert(KeyAction action) { actions |= (1u << static_cast<unsigned>(action)); }
    bool mayContain(const InputEvent& event) const {
        if (event.type != InputEvent::Type::keyDown)
            return false;
        if (event.action == KeyAction::text)
            return anyText || (!triggerText.isEmpty() && event.text == triggerText);
        return contains(event.action);
    }
    bool isEmpty() const { return actions == 0 && !anyText && triggerText.isEmpty(); }
    // These keys and the ones a token opened now would need.
    SwallowableKeys withOpening() const {
        SwallowableKeys keys = *this;
        keys.actions |= openingActions;
        if (keys.triggerText.isEmpty())
            keys.triggerText = openingText;
        return keys;
    }
    bool operator==(const SwallowableKeys&) const = default;
};

// What the input hook hands events to. Called on the main thread, in order.
class InputEventHandler {
public:
    virtual ~InputEventHandler() = default;
    // true = swallow the event; never true for an event that cannot be swallowed.
    virtual bool handleEvent(const InputEvent& event) = 0;
    virtual SwallowableKeys swallowableKeys() const = 0;
    // The hook's way to hand over at once the events it has read but not handed over yet (empty:
    // none). A handler that acts on something else than those events — a click on its own window,
    // which the toolkit may deliver first — calls it before, so that the keys typed earlier come
    // first.
    virtual void setCatchUp(std::function<void()> catchUp) { static_cast<void>(catchUp); }
};

} // namespace pimsel
