#include "platform/key_grab_set.h"

#include "platform/event_tap_manager.h"
#include "platform/xcb_handles.h"

#include <xcb/xinput.h>

#include <algorithm>
#include <utility>

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

void KeyGrabSet::apply(const SwallowableKeys& keys) {
    std::lock_guard changing(changing_);
    applied_ = keys;
    {
        std::lock_guard lock(mutex_);
        openingText_ = keys.openingText;
    }
    readReplies(); // refusals of the hook's last change first, so that they are not asked for again
    grab(openingsInFlight_ > 0 ? keys.withOpening() : keys);
    // What the handler asked for is confirmed before it goes on: a refused grab is not counted.
    readReplies();
}

void KeyGrabSet::widenForOpening() {
    std::lock_guard changing(changing_);
    ++openingsInFlight_;
    // Not waiting for the replies here: the opening key's own grab keeps the keyboard frozen until
    // the key is replayed on this connection, after these requests.
    grab(applied_.withOpening());
}

void KeyGrabSet::openingHandled() {
    std::lock_guard changing(changing_);
    openingsInFlight_ = std::max(openingsInFlight_ - 1, 0);
}

void KeyGrabSet::confirm() {
    if (!unconfirmed_)
        return;
    // A change under way on the other thread reads every answer before it ends.
    std::unique_lock changing(changing_, std::try_to_lock);
    if (changing)
        readReplies();
}

bool KeyGrabSet::opens(const InputEvent& reading) const {
    if (reading.action != KeyAction::text)
        return false;
    std::lock_guard lock(mutex_);
    return !openingText_.isEmpty() && reading.text == openingText_;
}

bool KeyGrabSet::activates(std::uint32_t keycode, std::uint32_t mask) const {
    std::lock_guard lock(mutex_);
    const auto k = held_.find(keycode);
    return k != held_.end() && k->second.count(mask);
}

int KeyGrabSet::count() {
    {
        std::lock_guard changing(changing_);
        readReplies();
    }
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& [keycode, masks] : held_)
        count += static_cast<int>(masks.size());
    return count;
}

namespace {

void merge(KeyGrabPlan& into, const KeyGrabPlan& plan) {
    for (const auto& [keycode, masks] : plan)
        into[keycode].insert(masks.begin(), masks.end());
}

// What `plan` has that `other` lacks.
std::map<std::uint32_t, std::vector<std::uint32_t>> missingFrom(const KeyGrabPlan& plan,
                                                                const KeyGrabPlan& other) {
    std::map<std::uint32_t, std::vector<std::uint32_t>> result;
    for (const auto& [keycode, masks] : plan) {
        for (std::uint32_t mask : masks) {
            if (!other.count(keycode) || !other.at(keycode).count(mask))
                result[keycode].push_back(mask);
        }
    }
    return result;
}

} // namespace

void KeyGrabSet::grab(const SwallowableKeys& keys) {
    std::map<int, Keyboard> keyboards;
    {
        std::lock_guard lock(mutex_);
        keyboards = keyboards_;
    }
    // Besides what the handler may take, the key that opens a token is grabbed on its own: it
    // freezes the keyboard until the hook has read it and widened the grabs, and is then replayed,
    // so that no key typed right after it reaches the application before those grabs are in.
    // Most sets hold that key already (a token's own trigger, or every text key): one scan of the
    // keymap then, on the hook's path above all.
    const bool openingHeld =
        keys.openingText.isEmpty() || keys.anyText || keys.triggerText == keys.openingText;
    // One plan for every master keyboard: the union of what each one's keymap and layout needs.
    KeyGrabPlan next, requested;
    for (const auto& [device, keyboard] : keyboards) {
        merge(next, keyGrabPlan(keys, keyboard.keymap.get(), keyboard.layout));
        if (!openingHeld) {
            SwallowableKeys opening;
            opening.triggerText = keys.openingText;
            merge(requested, keyGrabPlan(opening, keyboard.keymap.get(), keyboard.layout));
        }
    }
    merge(requested, next);
    {
        std::lock_guard lock(mutex_);
        held_ = next;
    }
    const KeyGrabPlan previous = std::exchange(requested_, requested);
    // Most keys leave the grabs as they are: then there is nothing to send and nothing to wait for,
    // and the main thread must not spend a round trip to a busy server on every key.
    if (requested == previous)
        return;
    xcb_connection_t* c = connection_;
    // On every master at once, never on one by its id: the server keeps a removed master's passive
    // grabs, pointing at the freed device, where they catch the keys of whatever device is put in
    // its place next (a keyboard that never gets them) until they bring the server down.
    // Made that way, the server (21.1) takes the paired mode for the keyboard: both are synchronous
    // so that the keyboard freezes either way. The pointer waits with it, as briefly, and both
    // thaw when the key is replayed or the grab ends.
    const auto allMasters = static_cast<xcb_input_device_id_t>(XCB_INPUT_DEVICE_ALL_MASTER);
    for (auto& [keycode, gone] : missingFrom(previous, requested))
        xcb_input_xi_passive_ungrab_device(c, root_, keycode, allMasters,
                                           static_cast<std::uint16_t>(gone.size()),
                                           XCB_INPUT_GRAB_TYPE_KEYCODE, gone.data());
    const std::uint32_t eventMask = XCB_INPUT_XI_EVENT_MASK_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_KEY_RELEASE;
    for (auto& [keycode, added] : missingFrom(requested, previous))
        unanswered_.push_back(
            {keycode, xcb_input_xi_passive_grab_device(
                          c, XCB_CURRENT_TIME, root_, XCB_CURSOR_NONE, keycode, allMasters,
                          static_cast<std::uint16_t>(added.size()), 1, XCB_INPUT_GRAB_TYPE_KEYCODE,
                          XCB_INPUT_GRAB_MODE_22_SYNC, XCB_INPUT_GRAB_MODE_22_SYNC,
                          XCB_INPUT_GRAB_OWNER_NO_OWNER, &eventMask, added.data())});
    if (unanswered_.empty())
        syncPending_ = true;
    unconfirmed_ = true;
    xcb_flush(c);
}

void KeyGrabSet::readReplies() {
    if (unanswered_.empty() && !syncPending_)
        return;
    xcb_connection_t* c = connection_;
    // The replies name the modifier combinations another client holds already: those keys are
    // not ours to withhold, and must not be counted as held. Reading them also waits until the
    // server holds the new grabs.
    for (const Request& request : std::exchange(unanswered_, {})) {
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
        for (KeyGrabPlan* plan : {&held_, &requested_}) {
            auto& masks = (*plan)[request.keycode];
            for (int i = 0; i < count; ++i)
                masks.erase(failed[i].modifiers);
            if (masks.empty())
                plan->erase(request.keycode);
        }
        qCInfo(inputLog) << "key" << request.keycode << "is grabbed by another client with" << count
                         << "modifier combinations; it is left to that client";
    }
    if (std::exchange(syncPending_, false))
        xcb::sync(c);
    unconfirmed_ = false;
    if (changed_)
        changed_();
}

} // namespace pimsel
