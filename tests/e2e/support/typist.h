#pragma once

// The "user" of the desktop tests: types, presses keys and clicks through a master keyboard and
// pointer of its own, so its keys come from a different XTEST device than the application's.

#include "platform/xcb_handles.h"
#include "tests/e2e/support/desktop.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pimsel::e2e {

class Typist {
public:
    enum class MasterLifetime { removeOnDestruction, keep };
    // `core` types through the session's own keyboard (the core XTEST device), as a user's physical
    // keyboard would, instead of a master of its own.
    enum class Keyboard { own, core };
    static constexpr int virtualCoreKeyboard = 3;

    // Connects to $DISPLAY and adds the master "pimsel-typist", or reuses it.
    explicit Typist(Keyboard keyboard = Keyboard::own,
                    MasterLifetime lifetime = MasterLifetime::removeOnDestruction);
    ~Typist();
    Typist(const Typist&) = delete;
    Typist& operator=(const Typist&) = delete;

    bool isReady() const { return ready_; }
    const std::string& error() const { return error_; }

    // Keyboard focus of the typist's master; every later key goes to this window.
    bool focus(xcb_window_t window);
    // Makes `window` the active window of the session (the core keyboard's focus, where synthesised
    // keys go) through the window manager, and waits until it is.
    bool activate(xcb_window_t window);
    // UTF-8 text of characters on the keymap; "\n" is Return, "\t" is Tab, "\b" is BackSpace.
    bool type(const std::string& utf8);
    // A named key with optional modifiers: "Tab", "shift+Tab", "ctrl+BackSpace", "Down".
    bool key(const std::string& combo);
    bool press(const std::string& keyName) { return sendKey(keyName, true, true); }
    bool release(const std::string& keyName) { return sendKey(keyName, false, true); }
    // One press or release of `keyName`; without `wait`, returns before the server has read it.
    bool sendKey(const std::string& keyName, bool down, bool wait = false);
    // Moves the typist's pointer to (x, y) in root coordinates and clicks `button`.
    bool click(int x, int y, int button = 1);
    // Waits until the server has processed everything sent so far.
    void sync();
    void setKeyDelay(std::chrono::milliseconds delay) { keyDelay_ = delay; }

    static bool removeMaster();
    // (device, keycode) of every key held down on an XTEST keyboard of the session.
    static std::vector<std::pair<int, int>> keysHeldOnXtestKeyboards();

private:
    struct KeyStroke {
        std::uint8_t keycode = 0;
        bool shift = false;
    };
    bool fakeKey(std::uint8_t keycode, bool down, bool wait = true);
    bool findKeysym(std::uint32_t keysym, KeyStroke& out) const;
    bool typeKeysym(std::uint32_t keysym);
    void pause() const;

    xcb::Connection connection_;
    xcb::Connection plain_; // default client pointer: reads the core keyboard's focus
    MasterLifetime lifetime_;
    bool ready_ = false;
    bool createdMaster_ = false;
    std::string error_;
    int masterKeyboard_ = 0;
    int xtestKeyboard_ = 0;
    int xtestPointer_ = 0;
    KeyboardMapping keymap_;
    std::chrono::milliseconds keyDelay_{6};
};

} // namespace pimsel::e2e
