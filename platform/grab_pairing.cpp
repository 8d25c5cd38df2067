#include "platform/grab_pairing.h"

#include "platform/event_tap_manager.h"

#include <algorithm>

namespace pimsel {

namespace {

// How many recent keys are remembered for pairing raw and grab events that come late.
constexpr std::size_t recentKeys = 64;

void remember(std::deque<KeyId>& list, const KeyId& id) {
    list.push_back(id);
    if (list.size() > recentKeys)
        list.pop_front();
}

bool forget(std::deque<KeyId>& list, const KeyId& id) {
    const auto it = std::find(list.begin(), list.end(), id);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

} // namespace

GrabPairing::GrabPairing(std::function<void(Outgoing)> post)
    : post_(std::move(post)) {}

bool GrabPairing::takeGrabbedFirst(const KeyId& id) {
    return forget(grabbedFirst_, id);
}

void GrabPairing::awaitGrab(const KeyId& id, InputEvent reading, Clock::time_point deadline, bool opening) {
    enqueue({id, std::move(reading), true, false, deadline, opening});
}

void GrabPairing::passRaw(const KeyId& id, InputEvent reading, bool opening) {
    remember(passedRaw_, id);
    enqueue({id, std::move(reading), false, false, {}, opening});
}

void GrabPairing::pass(const KeyId& id, InputEvent event) {
    enqueue({id, std::move(event), false, false});
}

bool GrabPairing::takePassed(const KeyId& id) {
    return forget(passedRaw_, id);
}

bool GrabPairing::awaitsGrab(const KeyId& id) const {
    return std::any_of(outbox_.begin(), outbox_.end(),
                       [&](const Outgoing& o) { return o.awaitingGrab && o.id == id; });
}

bool GrabPairing::pairGrab(const KeyId& id) {
    const auto waiting = std::find_if(outbox_.begin(), outbox_.end(),
                                      [&](const Outgoing& o) { return o.awaitingGrab && o.id == id; });
    if (waiting == outbox_.end())
        return false;
    waiting->awaitingGrab = false;
    waiting->grabbed = true;
    flush();
    return true;
}

void GrabPairing::grabbedFirst(const KeyId& id, InputEvent reading) {
    remember(grabbedFirst_, id);
    enqueue({id, std::move(reading), false, true});
}

bool GrabPairing::overdue(Clock::time_point now, const std::function<bool(int)>& frozen) const {
    return std::any_of(outbox_.begin(), outbox_.end(), [&](const Outgoing& o) {
        return o.awaitingGrab && o.deadline <= now && !frozen(o.id.device);
    });
}

void GrabPairing::handleDeadlines(Clock::time_point now, const std::function<bool(int)>& frozen) {
    for (Outgoing& o : outbox_) {
        if (!o.awaitingGrab || o.deadline > now)
            continue;
        // While an earlier key of the same keyboard waits for its decision, the server holds this
        // one back too: its grab event cannot come yet.
        if (frozen(o.id.device)) {
            o.deadline = now + grabPairing;
            continue;
        }
        // No grab held it: the application has it. Should its grab event still turn up, the key is
        // passed on from there.
        o.awaitingGrab = false;
        remember(passedRaw_, o.id);
        qCDebug(inputLog) << "key" << o.id.keycode << "was not held by a grab; handed over as passed";
    }
    flush();
}

std::optional<GrabPairing::Clock::time_point> GrabPairing::nextDeadline() const {
    std::optional<Clock::time_point> next;
    for (const auto& o : outbox_) {
        if (o.awaitingGrab && (!next || o.deadline < *next))
            next = o.deadline;
    }
    return next;
}

void GrabPairing::enqueue(Outgoing outgoing) {
    outbox_.push_back(std::move(outgoing));
    flush();
}

void GrabPairing::flush() {
    while (!outbox_.empty() && !outbox_.front().awaitingGrab) {
        Outgoing& o = outbox_.front();
        o.event.canSwallow = o.grabbed;
        post_(std::move(o));
        outbox_.pop_front();
    }
}

} // namespace pimsel
