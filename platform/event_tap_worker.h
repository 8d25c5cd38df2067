#pragma once

// The input hook's own thread and its two X connections: one observes every key through raw
// events and follows the keyboards, the other holds the passive grabs and answers them. Private to
// EventTapManager.

#include "platform/event_tap_manager.h"
#include "platform/grab_decisions.h"
#include "platform/grab_pairing.h"
#include "platform/key_grab_set.h"
#include "platform/keyboard_tracker.h"
#include "platform/xcb_handles.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

namespace pimsel {

struct EventTapManager::Delivery {
    InputEvent event;
    bool grabbed = false;
    int device = 0;
    std::uint32_t time = 0;
    bool opening = false;                         // its reading widened the grabs to what a new token needs
    std::chrono::steady_clock::time_point readAt; // when the worker read it
};

class EventTapManager::Worker {
public:
    using Clock = std::chrono::steady_clock;

    explicit Worker(EventTapManager* owner);
    ~Worker() { stop(); }

    bool open();
    void launch();
    std::pair<int, int> descriptors() const { return {observe_.fd(), grab_.fd()}; }
    void stop();
    void wake();

    // Main thread: the handler's answer for a grabbed key. False when the key was already passed on
    // after the time-out.
    bool decide(int device, std::uint32_t time, bool swallow);

    GrabDecisions& decisions() { return decisions_; }
    KeyGrabSet& grabs() { return *grabs_; }

private:
    void post(GrabPairing::Outgoing outgoing);
    void run();
    bool drain(xcb_connection_t* c, bool isGrabConnection);
    bool confirmGrabs();
    void handleDeadlines(Clock::time_point now);
    void scheduleReload(std::chrono::milliseconds delay);
    void reloadKeyboards();
    void announceKeymapChange();
    void layoutLocked(int device, std::uint32_t layout);
    void handleObserveEvent(xcb_generic_event_t* event);
    void handleGrabEvent(xcb_generic_event_t* event);
    void replay(int device);
    void catchUpObserved();

    EventTapManager* owner_;
    xcb::Connection observe_;
    xcb::Connection grab_;
    std::uint8_t xiOpcode_ = 0;
    std::uint8_t xkbEventBase_ = 0;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    // Worker thread only.
    std::unique_ptr<KeyboardTracker> keyboards_;
    GrabPairing pairing_;
    std::optional<Clock::time_point> reloadAt_;

    // Shared with the main thread.
    GrabDecisions decisions_;
    std::unique_ptr<KeyGrabSet> grabs_;
};

} // namespace pimsel
