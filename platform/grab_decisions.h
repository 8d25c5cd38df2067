#pragma once

// The grabbed keys that wait for the handler's decision, shared by the hook's thread (which holds
// them and passes on the ones not decided in time) and the main thread (which decides them), and
// the server's clock that their ages are judged by. No X calls here: the hook ends each grab as
// these tell it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

namespace pimsel {

class GrabDecisions {
public:
    using Clock = std::chrono::steady_clock;

    struct Pending {
        int device;
        std::uint32_t time;
        Clock::time_point deadline;
        bool claimed = false; // the handler is deciding it: the time-out leaves it alone
    };

    // `timeout`: how long a grabbed key may wait for its decision.
    explicit GrabDecisions(std::chrono::milliseconds timeout)
        : timeout_(timeout) {}

    // When the server sent an event stamped `serverTime`, on our clock. Ages are judged by the
    // server's stamp, not by when this process got round to the event: after a stall (a stopped
    // process, swap, a debugger) a key can be read long after the user typed it.
    Clock::time_point sentAt(std::uint32_t serverTime) const;
    // Hook thread: the smallest gap between an event's stamp and its arrival seen so far is the
    // clocks' offset; a late event only gives a larger one. A wrap of the server's 32-bit
    // millisecond clock starts afresh.
    void learnServerTime(std::uint32_t serverTime);
    bool isLate(std::uint32_t serverTime) const;

    // Hook thread: the grab holds this key until its decision or the time-out.
    void hold(int device, std::uint32_t time);
    // Main thread: whether a grabbed key still waits for its decision (the time-out has not passed
    // it on to the application).
    bool isHeld(int device, std::uint32_t time) const;
    // Main thread: takes a grabbed key out of the time-out's reach until its decision. False when
    // the time-out has passed it on already: the application has it.
    bool claim(int device, std::uint32_t time);
    // Main thread: the key is decided now. False when it was already passed on after the time-out.
    bool take(int device, std::uint32_t time);
    // While a key of `device` waits for its decision, the server holds back the device's keys.
    bool isFrozen(int device) const;

    // Hook thread: the keys the time-out passes on now, no longer pending.
    std::vector<Pending> takeExpired(Clock::time_point now);
    std::optional<Clock::time_point> nextDeadline() const;

private:
    const std::chrono::milliseconds timeout_;
    mutable std::mutex mutex_;
    std::vector<Pending> pending_;
    static constexpr long long noOffset = std::numeric_limits<long long>::min();
    std::atomic<long long> serverOffset_{noOffset};
};

} // namespace pimsel
