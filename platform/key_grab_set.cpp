#include "platform/key_grab_set.h"

#include "platform/event_tap_manager.h"
#include "platform/xcb_handles.h"

#include <xcb/xinput.h>

#include <algorithm>

namespace pimsel {

KeyGrabSet::KeyGrabSet(xcb_connection_t* connection, xcb_window_t root, std::function<void()> changed)
    : connection_(connection)
    , root_(root)
    , changed_(std::move(changed)) {}

void KeyGrabSet::setKeyboards(std::map<int, Keyboard> keyboards) {
    std::lock_guard lock(mutex_);
    keyboards_ = std::move(keyboards);
}

bool KeyGrabSet::setLayout(int device, std::uint32_t layout) {
    std::lock_guard lock(mutex_);
    const auto keyboard = keyboards_.find(device);
    if (keyboard == keyboards_.end() || keyboard->second.layout == layout)
        return false;
    keyboard->second.layout = layout;
    return true;
}

std::vector<int> KeyGrabSet::keyboards() const {
    std::lock_guard lock(mutex_);
    std::vector<int> result;
    for (const auto& [device, keyboard] : keyboards_)
        result.push_back(device);
    return result;
}

void KeyGrabSet::apply(const SwallowableKeys& keys) {
    std::lock_guard changing(changing_);
    applied_ = keys;
    {
        std::lock_guard lock(mutex_);
        openingText_ = keys.openingText;
    }
    grab(openingsInFlight_ > 0 ? keys.withOpening() : keys);
}

void KeyGrabSet::widenForOpening() {
    std::lock_guard changing(changing_);
    ++openingsInFlight_;
    grab(applied_.withOpening());
}

void KeyGrabSet::openingHandled() {
    std::lock_guard changing(changing_);
    openingsInFlight_ = std::max(openingsInFlight_ - 1, 0);
}

bool KeyGrabSet::opens(const InputEvent& reading) const {
    if (reading.action != KeyAction::text)
        return false;
    std::lock_guard lock(mutex_);
    return !openingText_.isEmpty() && reading.text == openingText_;
}

bool KeyGrabSet::activates(int device, std::uint32_t keycode, std::uint32_t mask) const {
    std::lock_guard lock(mutex_);
    const auto d = held_.find(device);
    if (d == held_.end())
        return false;
    const auto k = d->second.find(keycode);
    return k != d->second.end() && k->second.count(mask);
}

int KeyGrabSet::count() const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& [device, plan] : held_)
        for (const auto& [keycode, masks] : plan)
            count += static_cast<int>(masks.size());
    return count;
}

void KeyGrabSet::grab(const SwallowableKeys& keys) {
    std::map<int, Keyboard> keyboards;
    {
        std::lock_guard lock(mutex_);
        keyboards = keyboards_;
    }
    xcb_connection_t* c = connection_;
    std::map<int, KeyGrabPlan> next;
    for (const auto& [device, keyboard] : keyboards)
        next[device] = keyGrabPlan(keys, keyboard.keymap.get(), keyboard.layout);

    std::map<int, KeyGrabPlan> previous;
    {
        std::lock_guard lock(mutex_);
        previous = held_;
        held_ = next;
    }
    // Most keys leave the grabs as they are: then there is nothing to send and nothing to wait for,
    // and the main thread must not spend a round trip to a busy server on every key.
    if (next == previous)
        return;
    const auto dev = [](int d) { return static_cast<xcb_input_device_id_t>(d); };
    for (const auto& [device, plan] : previous) {
        for (const auto& [keycode, masks] : plan) {
            std::vector<std::uint32_t> gone;
            const auto nextDevice = next.find(device);
            for (std::uint32_t mask : masks) {
                if (nextDevice == next.end() || !nextDevice->second.count(keycode) ||
                    !nextDevice->second.at(keycode).count(mask))
                    gone.push_back(mask);
            }
            if (!gone.empty())
                xcb_input_xi_passive_ungrab_device(c, root_, keycode, dev(device),
                                                   static_cast<std::uint16_t>(gone.size()),
                                                   XCB_INPUT_GRAB_TYPE_KEYCODE, gone.data());
        }
    }
    const std::uint32_t eventMask = XCB_INPUT_XI_EVENT_MASK_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_KEY_RELEASE;
    struct Request {
        int device;
        std::uint32_t keycode;
        xcb_input_xi_passive_grab_device_cookie_t cookie;
    };
    std::vector<Request> requests;
    for (const auto& [device, plan] : next) {
        for (const auto& [keycode, masks] : plan) {
            std::vector<std::uint32_t> added;
            const auto before = previous.find(device);
            for (std::uint32_t mask : masks) {
                if (before == previous.end() || !before->second.count(keycode) ||
                    !before->second.at(keycode).count(mask))
                    added.push_back(mask);
            }
            if (added.empty())
                continue;
            requests.push_back({device, keycode,
                                xcb_input_xi_passive_grab_device(
                                    c, XCB_CURRENT_TIME, root_, XCB_CURSOR_NONE, keycode, dev(device),
                                    static_cast<std::uint16_t>(added.size()), 1, XCB_INPUT_GRAB_TYPE_KEYCODE,
                                    XCB_INPUT_GRAB_MODE_22_SYNC, XCB_INPUT_GRAB_MODE_22_ASYNC,
                                    XCB_INPUT_GRAB_OWNER_NO_OWNER, &eventMask, added.data())});
        }
    }
    // The replies name the modifier combinations another client holds already: those keys are
    // not ours to withhold, and must not be counted as held. Reading them also waits until the
    // server holds the new grabs, so the very next key is already covered.
    for (const Request& request : requests) {
        auto reply = xcb::reply<xcb_input_xi_passive_grab_device_reply_t>(
            c, xcb_input_xi_passive_grab_device_reply, request.cookie);
        if (!reply)
            continue;
        const xcb_input_grab_modifier_info_t* failed =
            xcb_input_xi_passive_grab_device_modifiers(reply.get());
        const int count = xcb_input_xi_passive_grab_device_modifiers_length(reply.get());
        if (count == 0)
            continue;
        std::lock_guard lock(mutex_);
        auto& masks = held_[request.device][request.keycode];
        for (int i = 0; i < count; ++i)
            masks.erase(failed[i].modifiers);
        if (masks.empty())
            held_[request.device].erase(request.keycode);
        qCInfo(inputLog) << "key" << request.keycode << "is grabbed by another client with" << count
                         << "modifier combinations; it is left to that client";
    }
    if (requests.empty())
        xcb::sync(c);
    if (changed_)
        changed_();
}

} // namespace pimsel
