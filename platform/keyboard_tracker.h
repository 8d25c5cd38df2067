#pragma once

// The master keyboards as the hook reads them: each one's keymap and an xkb state that follows its
// raw events, so a key is read with the modifiers and layout it was typed in, not the ones the
// server holds by the time the hook gets round to it.

#include "engine/input_event.h"
#include "platform/key_grab_set.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace pimsel {

class KeyboardTracker {
public:
    struct Reloaded {
        std::map<int, KeyGrabSet::Keyboard> keyboards; // each master's keymap and locked layout
        int xtestKeyboard = -1; // the core keyboard's XTEST slave; -1 when none was found
    };

    // `connection` is not owned and outlives the tracker; `newMaster` runs when a key comes from a
    // master keyboard the last reload did not see.
    KeyboardTracker(xcb_connection_t* connection, std::function<void()> newMaster);
    ~KeyboardTracker();
    KeyboardTracker(const KeyboardTracker&) = delete;
    KeyboardTracker& operator=(const KeyboardTracker&) = delete;

    // False when no xkb context could be made.
    bool ready() const { return context_ != nullptr; }
    bool empty() const { return masters_.empty(); }

    // Reads the master keyboards afresh; none when the server did not answer.
    std::optional<Reloaded> reload();

    // Whether `device` is a master keyboard that can be followed.
    bool track(int device);
    // A key-down of `keycode` on `device`, read in the state before the key itself is applied.
    std::optional<InputEvent> readKeyDown(int device, std::uint32_t keycode);
    // The core modifier mask in effect on `device` now.
    std::uint32_t modifiers(int device);
    // A key of `device` went down or up: the state follows it.
    void follow(int device, std::uint32_t keycode, bool press);
    // The server locked `layout` on `device`: the layout locked there now, none for an unknown one.
    std::optional<std::uint32_t> lockLayout(int device, std::uint32_t layout);

private:
    struct Deleter {
        void operator()(xkb_state* p) const;
        void operator()(xkb_context* p) const;
    };
    using StatePtr = std::unique_ptr<xkb_state, Deleter>;
    using ContextPtr = std::unique_ptr<xkb_context, Deleter>;
    struct Master {
        std::shared_ptr<xkb_keymap> keymap;
        StatePtr state;
        std::vector<std::uint32_t> down; // keys held now, to carry into a reloaded state
    };

    std::shared_ptr<xkb_keymap> keymapOf(int device);
    StatePtr trackedState(xkb_keymap* keymap, int device);
    Master* masterFor(int device);
    xkb_state* stateFor(int device);
    int coreKeyboardId();

    xcb_connection_t* connection_;
    std::function<void()> newMaster_;
    ContextPtr context_;
    int coreKeyboard_ = -1;
    std::map<int, Master> masters_;
};

} // namespace pimsel
