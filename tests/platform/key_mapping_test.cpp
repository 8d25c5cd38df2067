#include "platform/key_mapping.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace pimsel;

namespace {

// "action text modifiers" of a key-down, or "none" when the key is not handed over.
std::string describe(const std::optional<InputEvent>& event) {
    static const char* const actions[] = {"text",  "bs", "wbs",  "tab",  "ret",   "esc",
                                          "space", "up", "down", "left", "right", "mod"};
    if (!event)
        return "none";
    std::string out = actions[int(event->action)];
    if (!event->text.isEmpty())
        out += ' ' + event->text.toStdString();
    for (const auto& [modifier, name] : {std::pair{Modifier::shift, " shift"},
                                         {Modifier::control, " ctrl"},
                                         {Modifier::alt, " alt"},
                                         {Modifier::super, " super"}})
        if (event->modifiers.testFlag(modifier))
            out += name;
    return event->type == InputEvent::Type::keyDown ? out : "not a key-down";
}

constexpr Modifiers none{}, shift{Modifier::shift}, ctrl{Modifier::control}, super{Modifier::super};

TEST(KeyDownEvent, MapsKeysymTextAndModifiers) {
    const struct {
        std::uint32_t keysym;
        const char* text; // UTF-8
        Modifiers modifiers;
        const char* expected;
    } cases[] = {
        {XKB_KEY_NoSymbol, "\u200c", shift, "text \u200c shift"}, // a zero-width non-joiner is text
        {XKB_KEY_Tab, "\t", ctrl, "mod ctrl"},
        {XKB_KEY_KP_Enter, "\r", none, "ret"},
        {XKB_KEY_space, " ", shift, "space shift"},
        {XKB_KEY_KP_Down, "", none, "down"},
        {XKB_KEY_Control_L, "", ctrl, "none"},
        {XKB_KEY_Delete, "\x7f", none, "none"},    // types a control character
        {XKB_KEY_NoSymbol, "a\x01", none, "none"}, // text mixing letters and a control
        {XKB_KEY_v, "v", super, "mod super"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(keyDownEvent(c.keysym, QString::fromUtf8(c.text), c.modifiers)), c.expected)
            << "keysym " << c.keysym;
}

// Through a real keymap: the layout decides the text, the state decides the modifiers.
struct XkbDeleter {
    void operator()(xkb_context* p) const { xkb_context_unref(p); }
    void operator()(xkb_keymap* p) const { xkb_keymap_unref(p); }
    void operator()(xkb_state* p) const { xkb_state_unref(p); }
};

class KeymapReadingTest : public ::testing::Test {
protected:
    void load(const char* layout) {
        context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        ASSERT_TRUE(context);
        const xkb_rule_names names{"evdev", "pc105", layout, "", ""};
        keymap.reset(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
        ASSERT_TRUE(keymap) << "xkb data for " << layout << " missing";
        state.reset(xkb_state_new(keymap.get()));
    }
    // Reads `key` while the keys in `held` are down.
    std::string press(xkb_keycode_t key, std::initializer_list<xkb_keycode_t> held = {}) {
        for (xkb_keycode_t k : held)
            xkb_state_update_key(state.get(), k, XKB_KEY_DOWN);
        const std::string read = describe(readKeyDown(state.get(), key));
        for (xkb_keycode_t k : held)
            xkb_state_update_key(state.get(), k, XKB_KEY_UP);
        return read;
    }
    KeyGrabPlan plan(std::initializer_list<KeyAction> actions, const char* trigger = "",
                     bool anyText = false) {
        SwallowableKeys keys;
        for (KeyAction action : actions)
            keys.insert(action);
        keys.triggerText = QString::fromUtf8(trigger);
        keys.anyText = anyText;
        return keyGrabPlan(keys, keymap.get());
    }

    // evdev keycodes (+8)
    static constexpr xkb_keycode_t keyY = 29, key7 = 16, keyA = 38, keySemicolon = 47, keyPeriod = 60,
                                   keyTab = 23, keyBackspace = 22, keyLeftShift = 50, keyLeftCtrl = 37,
                                   keyCapsLock = 66, keyGrave = 49, keyReturn = 36, keyKeypadEnter = 104,
                                   keySpace = 65;

    std::unique_ptr<xkb_context, XkbDeleter> context;
    std::unique_ptr<xkb_keymap, XkbDeleter> keymap;
    std::unique_ptr<xkb_state, XkbDeleter> state;
};

TEST_F(KeymapReadingTest, LayoutDecidesTheTextAndTheStateTheModifiers) {
    load("us");
    EXPECT_EQ(press(keySemicolon, {keyLeftShift}), "text : shift");
    EXPECT_EQ(press(keyTab, {keyLeftShift}), "tab shift");
    EXPECT_EQ(press(keyBackspace, {keyLeftCtrl}), "wbs ctrl");
    EXPECT_EQ(press(keyA, {keyLeftCtrl}), "mod ctrl");
    EXPECT_EQ(press(keyA), "text a") << "released modifiers are gone";
    EXPECT_EQ(press(keyA, {keyCapsLock}), "text A") << "Caps Lock is not a modifier the coordinator reads";

    load("de");
    EXPECT_EQ(press(keyY), "text z");
    EXPECT_EQ(press(key7, {keyLeftShift}), "text / shift");
    EXPECT_EQ(press(keyGrave), "none") << "the circumflex key is dead in this layout";
}

std::set<std::uint32_t> withLocks(std::uint32_t mask) {
    return {mask, mask | xmask::lock, mask | xmask::mod2, mask | xmask::lock | xmask::mod2};
}

TEST_F(KeymapReadingTest, GrabPlanHoldsExactlyTheKeysThatProduceTheSwallowableActions) {
    load("us");
    EXPECT_TRUE(plan({}).empty());
    EXPECT_EQ(plan({}, ":"), (KeyGrabPlan{{keySemicolon, withLocks(xmask::shift)}}))
        << "only Shift+semicolon types the trigger";

    KeyGrabPlan held = plan({KeyAction::tab, KeyAction::returnKey});
    std::set<std::uint32_t> plainAndShift = withLocks(0);
    plainAndShift.merge(withLocks(xmask::shift));
    EXPECT_EQ(held.at(keyTab), plainAndShift);
    EXPECT_TRUE(held.count(keyReturn) && held.count(keyKeypadEnter));
    EXPECT_FALSE(held.count(keyA));
    for (const auto& [keycode, masks] : held)
        for (std::uint32_t mask : masks)
            EXPECT_FALSE(mask & (xmask::mod1 | xmask::control)) << "keycode " << keycode << " mask " << mask;

    held = plan({KeyAction::wordBackspace});
    ASSERT_EQ(held.size(), 1u);
    EXPECT_TRUE(held.at(keyBackspace).count(xmask::control));
    EXPECT_FALSE(held.at(keyBackspace).count(0)) << "a plain Backspace is not a word delete";

    held = plan({}, "", true);
    EXPECT_TRUE(held.count(keyA) && held.count(key7));
    EXPECT_FALSE(held.count(keyTab) || held.count(keyLeftShift));
    EXPECT_FALSE(held.count(keySpace)) << "space is its own action";

    load("de");
    EXPECT_EQ(plan({}, ":"), (KeyGrabPlan{{keyPeriod, withLocks(xmask::shift)}}))
        << "Shift+period on a German keyboard";
}

} // namespace
