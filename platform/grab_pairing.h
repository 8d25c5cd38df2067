#pragma once

// The order in which the hook hands keys to the main thread. Raw events (every key) and grab events
// (the keys our passive grabs hold) come on two connections with no order between them; a key is
// handed over once, in the order the server sent the raw events, and marked grabbed when one of
// our grabs holds it. No X calls here: the hook feeds in what it read and takes out what leaves.

#include "engine/input_event.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace pimsel {

// How long a raw key press that should have activated one of our grabs waits for the grab event
// before it is handed over as an ordinary key (another client's active grab pre-empts ours).
inline constexpr std::chrono::milliseconds grabPairing{40};

struct KeyId {
    int device;
    std::uint32_t keycode;
    std::uint32_t time;
    bool operator==(const KeyId&) const = default;
};

class GrabPairing {
public:
    using Clock = std::chrono::steady_clock;

    // An event on its way to the main thread. Events leave in the order the server sent them; a
    // raw key press that one of our grabs should catch holds back the ones after it until its grab
    // event is paired with it or it is given up as unheld.
    struct Outgoing {
        KeyId id;
        InputEvent event;
        bool awaitingGrab = false;
        bool grabbed = false;
        Clock::time_point deadline{};
        bool opening = false;
        Clock::time_point readAt = Clock::now();
    };

    // `post` takes each event as it leaves, its canSwallow set to whether a grab holds it.
    explicit GrabPairing(std::function<void(Outgoing)> post);

    // Raw side. True once when the grab event of this key came first: it is handed over already.
    bool takeGrabbedFirst(const KeyId& id);
    // A raw press one of our grabs should catch; it waits for its grab event until `deadline`.
    void awaitGrab(const KeyId& id, InputEvent reading, Clock::time_point deadline, bool opening);
    // A raw press no grab of ours holds. Should a grab that was on its way out still catch it, it is
    // passed on from there.
    void passRaw(const KeyId& id, InputEvent reading, bool opening);
    // An event that no grab can hold (a mouse button).
    void pass(const KeyId& id, InputEvent event);

    // Grab side. True once when this key was handed over as unheld: its grab passes it on.
    bool takePassed(const KeyId& id);
    bool awaitsGrab(const KeyId& id) const;
    // Pairs a grab event with its waiting raw press, which leaves as grabbed; false when none waits.
    bool pairGrab(const KeyId& id);
    // A grab event whose raw press is still on its way: it leaves now, and the raw one goes by.
    void grabbedFirst(const KeyId& id, InputEvent reading);

    // Deadlines. `frozen(device)` tells whether the server holds back the device's keys for now.
    bool overdue(Clock::time_point now, const std::function<bool(int)>& frozen) const;
    void handleDeadlines(Clock::time_point now, const std::function<bool(int)>& frozen);
    std::optional<Clock::time_point> nextDeadline() const;

private:
    void enqueue(Outgoing outgoing);
    void flush();

    std::function<void(Outgoing)> post_;
    std::deque<Outgoing> outbox_;
    std::deque<KeyId> grabbedFirst_;
    std::deque<KeyId> passedRaw_;
};

} // namespace pimsel
