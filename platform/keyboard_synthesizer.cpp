#include "platform/keyboard_synthesizer.h"

#include "platform/xinput_devices.h"

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
    const std::vector<xcb::SlaveKeyboard> keyboards = xcb::slaveKeyboards(c);
    const auto ours = std::find_if(keyboards.begin(), keyboards.end(),
                                   [own](const xcb::SlaveKeyboard& k) { return k.id == own; });
    const int master = ours != keyboards.end() ? ours->master : virtualCoreKeyboard;
    // The other keyboards typing into our master: a key the user let go of is up on theirs even
    // while our press still holds it on the master.
    for (const xcb::SlaveKeyboard& keyboard : keyboards) {
        if (keyboard.id == own || keyboard.master != master)
            continue;
        const std::bitset<256> down = xcb::keysDown(c, keyboard.id);
        for (std::uint8_t code : candidates) {
            if (down[code] && std::find(held.begin(), held.end(), code) == held.end())
                held.push_back(code);
        }
    }
    return held;
}

std::vector<OwnEventLedger::Key> KeyboardSynthesizer::strokes(const std::vector<std::uint8_t>& codes,
                                                              bool press) {
    std::vector<OwnEventLedger::Key> keys;
    for (std::uint8_t code : codes)
        keys.push_back({code, press});
    return keys;
}

void KeyboardSynthesizer::postAroundHeldModifiers(std::vector<OwnEventLedger::Key> keys) {
    const std::vector<std::uint8_t> held = heldModifierKeys();
    std::vector<OwnEventLedger::Key> sequence = strokes(held, false);
    sequence.insert(sequence.end(), keys.begin(), keys.end());
    post(sequence);
    if (held.empty())
        return;
    // Put back only what the user still holds once our keys are in. A modifier let go of meanwhile
    // stays up: pressed again by us, nothing would ever release it, and the session would keep it.
    xcb::sync(m_connection.get());
    const std::vector<std::uint8_t> stillHeld = heldElsewhere(held);
    post(strokes(stillHeld, true));
    if (stillHeld.empty())
        return;
    // A release between that look and our press reached the server before the press: undo the press.
    xcb::sync(m_connection.get());
    std::vector<std::uint8_t> letGo = stillHeld;
    std::erase_if(letGo, [kept = heldElsewhere(stillHeld)](std::uint8_t code) {
        return std::find(kept.begin(), kept.end(), code) != kept.end();
    });
    post(strokes(letGo, false));
}

void KeyboardSynthesizer::pressBackspace(int count) {
    if (count < 1 || !connect())
        return;
    const std::uint8_t backspace = xcb::keycodeOf(m_connection.get(), XKB_KEY_BackSpace);
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
    const std::uint8_t control = xcb::keycodeOf(m_connection.get(), XKB_KEY_Control_L);
    const std::uint8_t v = xcb::keycodeOf(m_connection.get(), XKB_KEY_v);
    if (control == 0 || v == 0)
        return;
    postAroundHeldModifiers({{control, true}, {v, true}, {v, false}, {control, false}});
}

} // namespace pimsel
