#include "platform/own_event_ledger.h"

#include <algorithm>

namespace pimsel {

void OwnEventLedger::setSourceDevice(int deviceId) {
    std::lock_guard lock(mutex_);
    source_ = deviceId;
}

int OwnEventLedger::sourceDevice() const {
    std::lock_guard lock(mutex_);
    return source_;
}

void OwnEventLedger::expect(const std::vector<Key>& keys) {
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    for (const Key& key : keys)
        expected_.push_back({key, now});
}

void OwnEventLedger::dropStale(std::chrono::steady_clock::time_point now) {
    while (!expected_.empty() && now - expected_.front().at > patience)
        expected_.pop_front();
}

bool OwnEventLedger::takeRaw(int sourceDevice, std::uint32_t keycode, bool press, std::uint32_t serverTime) {
    std::lock_guard lock(mutex_);
    if (sourceDevice != source_)
        return false;
    dropStale(std::chrono::steady_clock::now());
    if (expected_.empty() || expected_.front().key.keycode != keycode || expected_.front().key.press != press)
        return false;
    expected_.pop_front();
    if (press) {
        recent_.push_back({keycode, serverTime});
        if (recent_.size() > 64)
            recent_.pop_front();
    }
    return true;
}

bool OwnEventLedger::isOwnGrabbedPress(int sourceDevice, std::uint32_t keycode,
                                       std::uint32_t serverTime) const {
    std::lock_guard lock(mutex_);
    if (sourceDevice != source_)
        return false;
    for (const Seen& seen : recent_) {
        if (seen.keycode == keycode && seen.time == serverTime)
            return true;
    }
    return std::any_of(expected_.begin(), expected_.end(),
                       [keycode](const Expected& e) { return e.key.press && e.key.keycode == keycode; });
}

std::size_t OwnEventLedger::pendingCount() const {
    std::lock_guard lock(mutex_);
    return expected_.size();
}

} // namespace pimsel
