#include "platform/keyboard_tracker.h"

#include "platform/key_mapping.h"
#include "platform/xcb_handles.h"

#include <xcb/xinput.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <string>

namespace pimsel {

namespace {

// A key that toggles a lock: pressing it once more into a fresh state would flip the lock back.
bool isLockKey(xkb_keymap* keymap, std::uint32_t keycode) {
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms) < 1)
        return false;
    switch (syms[0]) {
    case XKB_KEY_Caps_Lock:
    case XKB_KEY_Shift_Lock:
    case XKB_KEY_Num_Lock:
    case XKB_KEY_Scroll_Lock:
        return true;
    default:
        return false;
    }
}

std::uint32_t lockedLayout(xkb_state* state) {
    return xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_LOCKED);
}

} // namespace

void KeyboardTracker::Deleter::operator()(xkb_state* p) const {
    xkb_state_unref(p);
}

void KeyboardTracker::Deleter::operator()(xkb_context* p) const {
    xkb_context_unref(p);
}

KeyboardTracker::KeyboardTracker(xcb_connection_t* connection, std::function<void()> newMaster)
    : connection_(connection)
    , newMaster_(std::move(newMaster))
    , context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

KeyboardTracker::~KeyboardTracker() = default;

std::shared_ptr<xkb_keymap> KeyboardTracker::keymapOf(int device) {
    xkb_keymap* keymap =
        xkb_x11_keymap_new_from_device(context_.get(), connection_, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return nullptr;
    return std::shared_ptr<xkb_keymap>(keymap, [](xkb_keymap* p) { xkb_keymap_unref(p); });
}

// A state to follow a device's keys from now on. Only the locks (Caps Lock, a locked layout) come
// from the server: a modifier held right now would enter as a bare mask that no later key release
// clears, and stay stuck.
KeyboardTracker::StatePtr KeyboardTracker::trackedState(xkb_keymap* keymap, int device) {
    StatePtr server(xkb_x11_state_new_from_device(keymap, connection_, device));
    StatePtr state(xkb_state_new(keymap));
    if (server && state) {
        xkb_state_update_mask(state.get(), 0, 0,
                              xkb_state_serialize_mods(server.get(), XKB_STATE_MODS_LOCKED), 0, 0,
                              xkb_state_serialize_layout(server.get(), XKB_STATE_LAYOUT_LOCKED));
    }
    return state;
}

// The master keyboards, each with its keymap and a state that follows the raw events from now on.
std::optional<KeyboardTracker::Reloaded> KeyboardTracker::reload() {
    xcb_connection_t* c = connection_;
    auto r = xcb::reply<xcb_input_xi_query_device_reply_t>(
        c, xcb_input_xi_query_device_reply, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL));
    if (!r)
        return std::nullopt;
    std::map<int, Master> masters;
    Reloaded reloaded;
    for (auto it = xcb_input_xi_query_device_infos_iterator(r.get()); it.rem;
         xcb_input_xi_device_info_next(&it)) {
        const auto* info = it.data;
        const std::string name(xcb_input_xi_device_info_name(info),
                               xcb_input_xi_device_info_name_length(info));
        if (info->type == XCB_INPUT_DEVICE_TYPE_MASTER_KEYBOARD) {
            Master m;
            m.keymap = keymapOf(info->deviceid);
            if (!m.keymap)
                continue;
            m.state = trackedState(m.keymap.get(), info->deviceid);
            if (!m.state)
                continue;
            // Keys held across the reload (Shift halfway through a typed ':') still count.
            if (const auto old = masters_.find(info->deviceid); old != masters_.end()) {
                for (std::uint32_t key : old->second.down) {
                    if (!isLockKey(m.keymap.get(), key))
                        xkb_state_update_key(m.state.get(), key, XKB_KEY_DOWN);
                }
                m.down = old->second.down;
            }
            masters.emplace(info->deviceid, std::move(m));
        } else if (info->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD &&
                   info->attachment == coreKeyboardId() && name.size() >= 14 &&
                   name.compare(name.size() - 14, 14, "XTEST keyboard") == 0) {
            reloaded.xtestKeyboard = info->deviceid;
        }
    }
    masters_ = std::move(masters);
    for (const auto& [device, master] : masters_)
        reloaded.keyboards[device] = {master.keymap, lockedLayout(master.state.get())};
    return reloaded;
}

int KeyboardTracker::coreKeyboardId() {
    if (coreKeyboard_ < 0)
        coreKeyboard_ = xkb_x11_get_core_keyboard_device_id(connection_);
    return coreKeyboard_;
}

// The state of `device`; a master that appeared since the last reload is read from the server at
// once so that its first keys are not lost.
KeyboardTracker::Master* KeyboardTracker::masterFor(int device) {
    auto it = masters_.find(device);
    if (it == masters_.end()) {
        if (newMaster_)
            newMaster_();
        Master m;
        m.keymap = keymapOf(device);
        if (m.keymap)
            m.state = trackedState(m.keymap.get(), device);
        if (!m.state)
            return nullptr;
        it = masters_.emplace(device, std::move(m)).first;
    }
    return &it->second;
}

xkb_state* KeyboardTracker::stateFor(int device) {
    Master* master = masterFor(device);
    return master ? master->state.get() : nullptr;
}

bool KeyboardTracker::track(int device) {
    return masterFor(device) != nullptr;
}

std::optional<InputEvent> KeyboardTracker::readKeyDown(int device, std::uint32_t keycode) {
    xkb_state* state = stateFor(device);
    return state ? pimsel::readKeyDown(state, keycode) : std::nullopt;
}

std::uint32_t KeyboardTracker::modifiers(int device) {
    xkb_state* state = stateFor(device);
    return state ? xkb_state_serialize_mods(state, XKB_STATE_MODS_EFFECTIVE) & 0xFF : 0;
}

void KeyboardTracker::follow(int device, std::uint32_t keycode, bool press) {
    Master* master = masterFor(device);
    if (!master)
        return;
    std::erase(master->down, keycode);
    if (press)
        master->down.push_back(keycode);
    xkb_state_update_key(master->state.get(), keycode, press ? XKB_KEY_DOWN : XKB_KEY_UP);
}

// Keys are read in the newly locked layout from now on.
std::optional<std::uint32_t> KeyboardTracker::lockLayout(int device, std::uint32_t layout) {
    xkb_state* state = stateFor(device);
    if (!state)
        return std::nullopt;
    xkb_state_update_mask(state, xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
                          xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
                          xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED),
                          xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_DEPRESSED),
                          xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_LATCHED), layout);
    return lockedLayout(state);
}

} // namespace pimsel
