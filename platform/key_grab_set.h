#pragma once

// The passive grabs that withhold the keys the handler may swallow, on every master keyboard at
// once, planned for each keyboard's keymap and locked layout. Two threads change them: the main thread
// to the handler's set after each event, and the hook's own thread, which widens them the moment
// it reads a key that may open a shortcode, before the main thread has looked at that key. That key
// is grabbed too, on its own: the server freezes the keyboard on it until the hook replays it, after
// sending the wider grabs, so the keys typed behind it meet those grabs however busy the server is.

#include "engine/input_event.h"
#include "platform/key_mapping.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace pimsel {

class KeyGrabSet {
public:
    struct Keyboard {
        std::shared_ptr<xkb_keymap> keymap;
        std::uint32_t layout = 0; // the locked one
    };

    // `connection` is not owned and outlives the set; `changed` runs after every change of the
    // grabs (reading their replies may have queued events on the connection).
    KeyGrabSet(xcb_connection_t* connection, xcb_window_t root, std::function<void()> changed);

    // The master keyboards to plan for; takes effect with the next apply().
    void setKeyboards(std::map<int, Keyboard> keyboards);
    // True when `device` had another layout locked before.
    bool setLayout(int device, std::uint32_t layout);

    // Grab exactly what `keys` needs; `keys` also says what a key that opens a token adds.
    void apply(const SwallowableKeys& keys);
    // Hook thread: a key that may open a token was read; hold what the token may need at once,
    // until openingHandled(). The requests are sent, not waited for: confirm() reads the answers.
    void widenForOpening();
    void openingHandled();
    // Reads the server's answers to what widenForOpening() sent and drops what it refused; left to
    // a change under way on another thread, which reads them itself.
    void confirm();
    // Hook thread, on every key: cheap, and never waits for grabs being changed.
    bool opens(const InputEvent& reading) const;

    // Whether a press of `keycode` with the core modifier `mask` activates a grab, on any master.
    bool activates(std::uint32_t keycode, std::uint32_t mask) const;
    // The (keycode, modifiers) grabs held now for the handler; refused ones are not counted.
    int count();

private:
    struct Request {
        std::uint32_t keycode;
        xcb_input_xi_passive_grab_device_cookie_t cookie;
    };

    void grab(const SwallowableKeys& keys);
    void readReplies();

    xcb_connection_t* connection_;
    xcb_window_t root_;
    std::function<void()> changed_;

    mutable std::mutex mutex_; // what the reading thread looks at
    std::map<int, Keyboard> keyboards_;
    KeyGrabPlan held_; // what the handler may take
    QString openingText_;

    std::mutex changing_; // one change of the grabs at a time
    SwallowableKeys applied_;
    int openingsInFlight_ = 0;
    KeyGrabPlan requested_; // held_ and the opening key's own grab
    std::vector<Request> unanswered_;
    bool syncPending_ = false;
    std::atomic<bool> unconfirmed_ = false;
};

} // namespace pimsel
