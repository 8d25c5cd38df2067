#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace pimsel {

// The key events Pimsel is about to synthesise. The synthesiser announces each (keycode, press or
// release) before posting it through the core XTEST device; the hook drops the raw events that
// match, in order, and hands over everything else, including keys the user types meanwhile.
class OwnEventLedger {
public:
    struct Key {
        std::uint32_t keycode = 0;
        bool press = true;
    };

    // The XTEST slave device the synthesiser posts through; -1 until known.
    void setSourceDevice(int deviceId);
    int sourceDevice() const;

    void expect(const std::vector<Key>& keys);
    // True when this raw event is the next one announced: it is then consumed.
    bool takeRaw(int sourceDevice, std::uint32_t keycode, bool press, std::uint32_t serverTime);
    // True when a grabbed key press is one of ours (announced, or consumed as raw event already).
    bool isOwnGrabbedPress(int sourceDevice, std::uint32_t keycode, std::uint32_t serverTime) const;
    std::size_t pendingCount() const;

    // An announced event that never arrives stops blocking the ones after it.
    static constexpr std::chrono::milliseconds patience{2000};

private:
    struct Expected {
        Key key;
        std::chrono::steady_clock::time_point at;
    };
    struct Seen {
        std::uint32_t keycode;
        std::uint32_t time;
    };
    void dropStale(std::chrono::steady_clock::time_point now);

    mutable std::mutex mutex_;
    int source_ = -1;
    std::deque<Expected> expected_;
    std::deque<Seen> recent_;
};

} // namespace pimsel
