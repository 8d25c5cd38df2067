#include "platform/grab_decisions.h"

#include <algorithm>

namespace pimsel {

GrabDecisions::Clock::time_point GrabDecisions::sentAt(std::uint32_t serverTime) const {
    const long long offset = serverOffset_.load();
    if (offset == noOffset)
        return Clock::now();
    return Clock::time_point(std::chrono::milliseconds(static_cast<long long>(serverTime) + offset));
}

void GrabDecisions::learnServerTime(std::uint32_t serverTime) {
    const long long sample =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count() -
        static_cast<long long>(serverTime);
    const long long best = serverOffset_.load();
    if (best == noOffset || sample < best || sample - best > (1LL << 31))
        serverOffset_.store(sample);
}

bool GrabDecisions::isLate(std::uint32_t serverTime) const {
    return Clock::now() > sentAt(serverTime) + timeout_;
}

void GrabDecisions::hold(int device, std::uint32_t time) {
    const Clock::time_point deadline = std::min(Clock::now(), sentAt(time)) + timeout_;
    std::lock_guard lock(mutex_);
    pending_.push_back({device, time, deadline});
}

bool GrabDecisions::isHeld(int device, std::uint32_t time) const {
    std::lock_guard lock(mutex_);
    return std::any_of(pending_.begin(), pending_.end(),
                       [&](const Pending& g) { return g.device == device && g.time == time; });
}

bool GrabDecisions::claim(int device, std::uint32_t time) {
    if (isLate(time))
        return false;
    std::lock_guard lock(mutex_);
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [&](const Pending& g) { return g.device == device && g.time == time; });
    if (it == pending_.end())
        return false;
    it->claimed = true;
    return true;
}

bool GrabDecisions::take(int device, std::uint32_t time) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [&](const Pending& g) { return g.device == device && g.time == time; });
    if (it == pending_.end())
        return false;
    pending_.erase(it);
    return true;
}

bool GrabDecisions::isFrozen(int device) const {
    std::lock_guard lock(mutex_);
    return std::any_of(pending_.begin(), pending_.end(),
                       [device](const Pending& g) { return g.device == device; });
}

std::vector<GrabDecisions::Pending> GrabDecisions::takeExpired(Clock::time_point now) {
    std::vector<Pending> expired;
    std::lock_guard lock(mutex_);
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->deadline <= now && !it->claimed) {
            expired.push_back(*it);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    return expired;
}

std::optional<GrabDecisions::Clock::time_point> GrabDecisions::nextDeadline() const {
    std::lock_guard lock(mutex_);
    std::optional<Clock::time_point> next;
    for (const auto& g : pending_) {
        if (!next || g.deadline < *next)
            next = g.deadline;
    }
    return next;
}

} // namespace pimsel
