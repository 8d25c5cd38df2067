#include "platform/keyboard_synthesizer.h"

#include <xcb/xinput.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>

namespace pimsel {

KeyboardSynthesizer::KeyboardSynthesizer(std::shared_ptr<OwnEventLedger> ownEvents, QObject* parent)
    : QObject(parent)
    , m_ownEvents(std::move(ownEvents)) {}

KeyboardSynthesizer::~KeyboardSynthesizer() = default;

bool KeyboardSynthesizer::connect() {
    if (m_connection)
        return true;
    m_connection = xcb::Connection(nullptr);
    if (m_connection && xcb::extensionOpcode(m_connection.get(), "XTEST"))
        return true;
    m_connection.reset();
    return false;
}

std::uint8_t KeyboardSynthesizer::keycodeFor(std::uint32_t keysym) {
    xcb_connection_t* c = m_connection.get();
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto mapping = xcb::reply<xcb_get_keyboard_mapping_reply_t>(
        c, xcb_get_keyboard_mapping_reply,
        xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)));
    if (!mapping || mapping->keysyms_per_keycode == 0)
        return 0;
    const int per = mapping->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int length = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
    // The unshifted position first; then any other, for layouts that keep the key elsewhere.
    for (int column = 0; column < per; ++column) {
        for (int i = 0; i + column < length; i += per) {
            if (syms[i + column] == keysym)
                return static_cast<std::uint8_t>(setup->min_keycode + i / per);
        }
    }
    return 0;
}

std::vector<std::uint8_t> KeyboardSynthesizer::heldModifierKeys() {
    xcb_connection_t* c = m_connection.get();
    auto keymap = xcb::reply<xcb_query_keymap_reply_t>(c, xcb_query_keymap_reply, xcb_query_keymap(c));
    auto modifiers = xcb::reply<xcb_get_modifier_mapping_reply_t>(c, xcb_get_modifier_mapping_reply,
                                                                  xcb_get_modifier_mapping(c));
    std::vector<std::uint8_t> held;
    if (!keymap || !modifiers)
        return held;
    const int per = modifiers->keycodes_per_modifier;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    for (int modifier = 0; modifier < 8; ++modifier) {
        // Caps Lock and Num Lock keys toggle: lifting and pressing them again would flip the lock.
        if (modifier == 1 || modifier == 4)
            continue;
        for (int k = 0; k < per; ++k) {
            const xcb_keycode_t code = codes[modifier * per + k];
            if (code == 0)
                continue;
            const bool down = keymap->keys[code / 8] & (1u << (code % 8));
            if (down && std::find(held.begin(), held.end(), code) == held.end())
                held.push_back(code);
        }
    }
    return held;
}

void KeyboardSynthesizer::post(const std::vector<OwnEventLedger::Key>& keys) {
    if (keys.empty())
        return;
    if (m_ownEvents)
        m_ownEvents->expect(keys);
    xcb_connection_t* c = m_connection.get();
    for (const auto& key : keys) {
        xcb_test_fake_input(c, key.press ? XCB_KEY_PRESS : XCB_KEY_RELEASE,
                            static_cast<std::uint8_t>(key.keycode), XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0,
                            0);
    }
    xcb_flush(c);
}

std::vector<std::uint8_t> KeyboardSynthesizer::heldElsewhere(const std::vector<std::uint8_t>& candidates) {
    std::vector<std::uint8_t> held;
    if (candidates.empty())
        return held;
    xcb_connection_t* c = m_connection.get();
    const int own = m_ownEvents ? m_ownEvents->sourceDevice() : -1;
    auto devices = xcb::reply<xcb_input_xi_query_device_reply_t>(
        c, xcb_input_xi_query_device_reply, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL));
    if (!devices)
        return held;
    // The keyboards typing into the core keyboard, ours left out: the server keeps a key state for
    // each, so a key the user let go of is up there even while our press still holds it on the master.
    int master = virtualCoreKeyboard;
    std::vector<std::pair<int, int>> slaves; // (device, the master it is attached to)
    for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem;
         xcb_input_xi_device_info_next(&it)) {
        if (it.data->type != XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD)
            continue;
        if (it.data->deviceid == own)
            master = it.data->attachment;
        else
            slaves.emplace_back(it.data->deviceid, it.data->attachment);
    }
    std::vector<xcb_input_device_id_t> keyboards;
    for (const auto& [device, attachment] : slaves) {
        if (attachment == master)
            keyboards.push_back(static_cast<xcb_input_device_id_t>(device));
    }
    for (xcb_input_device_id_t device : keyboards) {
        auto state = xcb::reply<xcb_input_query_device_state_reply_t>(
            c, xcb_input_query_device_state_reply, xcb_input_query_device_state(c, device));
        if (!state)
            continue;
        for (auto it = xcb_input_query_device_state_classes_iterator(state.get()); it.rem;
             xcb_input_input_state_next(&it)) {
            if (it.data->class_id != XCB_INPUT_INPUT_CLASS_KEY)
                continue;
            const auto* keys = reinterpret_cast<const xcb_input_key_state_t*>(it.data);
            for (std::uint8_t code : candidates) {
                const bool down = keys->keys[code / 8] & (1u << (code % 8));
                if (down && std::find(held.begin(), held.end(), code) == held.end())
                    held.push_back(code);
            }
        }
    }
    return held;
}

void KeyboardSynthesizer::sync() {
    xcb_connection_t* c = m_connection.get();
    xcb::reply<xcb_get_input_focus_reply_t>(c, xcb_get_input_focus_reply, xcb_get_input_focus(c));
}

void KeyboardSynthesizer::postAroundHeldModifiers(std::vector<OwnEventLedger::Key> keys) {
    const std::vector<std::uint8_t> held = heldModifierKeys();
    std::vector<OwnEventLedger::Key> sequence;
    sequence.reserve(keys.size() + held.size());
    for (std::uint8_t code : held)
        sequence.push_back({code, false});
    sequence.insert(sequence.end(), keys.begin(), keys.end());
    post(sequence);
    if (held.empty())
        return;
    // Put back only what the user still holds once our keys are in. A modifier let go of meanwhile
    // stays up: pressed again by us, nothing would ever release it, and the session would keep it.
    sync();
    const std::vector<std::uint8_t> stillHeld = heldElsewhere(held);
    std::vector<OwnEventLedger::Key> restore;
    for (std::uint8_t code : stillHeld)
        restore.push_back({code, true});
    post(restore);
    if (stillHeld.empty())
        return;
    // A release between that look and our press reached the server before the press: undo the press.
    sync();
    const std::vector<std::uint8_t> kept = heldElsewhere(stillHeld);
    std::vector<OwnEventLedger::Key> undo;
    for (std::uint8_t code : stillHeld) {
        if (std::find(kept.begin(), kept.end(), code) == kept.end())
            undo.push_back({code, false});
    }
    post(undo);
}

void KeyboardSynthesizer::pressBackspace(int count) {
    if (count < 1 || !connect())
        return;
    const std::uint8_t backspace = keycodeFor(XKB_KEY_BackSpace);
    if (backspace == 0)
        return;
    std::vector<OwnEventLedger::Key> keys;
    keys.reserve(static_cast<std::size_t>(count) * 2);
    for (int i = 0; i < count; ++i) {
        keys.push_back({backspace, true});
        keys.push_back({backspace, false});
    }
    postAroundHeldModifiers(std::move(keys));
}

void KeyboardSynthesizer::pressPaste() {
    if (!connect())
        return;
    const std::uint8_t control = keycodeFor(XKB_KEY_Control_L);
    const std::uint8_t v = keycodeFor(XKB_KEY_v);
    if (control == 0 || v == 0)
        return;
    postAroundHeldModifiers({{control, true}, {v, true}, {v, false}, {control, false}});
}

} // namespace pimsel
