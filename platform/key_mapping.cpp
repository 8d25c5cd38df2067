#include "platform/key_mapping.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <QChar>
#include <QList>
#include <QStringView>

#include <vector>

namespace pimsel {

namespace {

bool isFormatOnly(const QString& text) {
    if (text.isEmpty())
        return false;
    for (char32_t scalar : QStringView(text).toUcs4()) {
        if (QChar::category(scalar) != QChar::Other_Format)
            return false;
    }
    return true;
}

} // namespace

QString sanitizedKeyText(const QString& text) {
    for (auto it = text.cbegin(); it != text.cend(); ++it) {
        char32_t scalar = it->unicode();
        if (it->isHighSurrogate() && it + 1 != text.cend() && (it + 1)->isLowSurrogate()) {
            scalar = QChar::surrogateToUcs4(*it, *(it + 1));
            ++it;
        }
        const auto category = QChar::category(scalar);
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            return {};
    }
    return text;
}

const std::vector<ActionKeysym>& actionKeysyms() {
    static const std::vector<ActionKeysym> table = {
        {KeyAction::backspace, XKB_KEY_BackSpace},
        {KeyAction::tab, XKB_KEY_Tab},
        {KeyAction::tab, XKB_KEY_ISO_Left_Tab},
        {KeyAction::returnKey, XKB_KEY_Return},
        {KeyAction::returnKey, XKB_KEY_KP_Enter},
        {KeyAction::escape, XKB_KEY_Escape},
        {KeyAction::space, XKB_KEY_space},
        {KeyAction::up, XKB_KEY_Up},
        {KeyAction::up, XKB_KEY_KP_Up},
        {KeyAction::down, XKB_KEY_Down},
        {KeyAction::down, XKB_KEY_KP_Down},
        {KeyAction::left, XKB_KEY_Left},
        {KeyAction::left, XKB_KEY_KP_Left},
        {KeyAction::right, XKB_KEY_Right},
        {KeyAction::right, XKB_KEY_KP_Right},
    };
    return table;
}

std::optional<InputEvent> keyDownEvent(std::uint32_t keysym, const QString& text, Modifiers modifiers) {
    // Linux's word delete is Control+BackSpace; Alt+BackSpace does the same in many editors.
    if (keysym == XKB_KEY_BackSpace && (modifiers & (Modifier::control | Modifier::alt)))
        return InputEvent::keyDown(KeyAction::wordBackspace, {}, modifiers);
    if (modifiers & (Modifier::control | Modifier::super)) {
        switch (keysym) {
        // A modifier key pressed on its own is not a key press the coordinator reads.
        case XKB_KEY_Shift_L:
        case XKB_KEY_Shift_R:
        case XKB_KEY_Control_L:
        case XKB_KEY_Control_R:
        case XKB_KEY_Alt_L:
        case XKB_KEY_Alt_R:
        case XKB_KEY_Meta_L:
        case XKB_KEY_Meta_R:
        case XKB_KEY_Super_L:
        case XKB_KEY_Super_R:
        case XKB_KEY_Hyper_L:
        case XKB_KEY_Hyper_R:
        case XKB_KEY_ISO_Level3_Shift:
        case XKB_KEY_ISO_Level5_Shift:
        case XKB_KEY_Caps_Lock:
        case XKB_KEY_Num_Lock:
        case XKB_KEY_Mode_switch:
            return std::nullopt;
        default:
            return InputEvent::keyDown(KeyAction::modified, {}, modifiers);
        }
    }
    for (const auto& entry : actionKeysyms()) {
        if (entry.keysym == keysym)
            return InputEvent::keyDown(entry.action, {}, modifiers);
    }
    QString typed = sanitizedKeyText(text);
    if (!typed.isEmpty())
        return InputEvent::keyDown(KeyAction::text, std::move(typed), modifiers);
    // A joiner or a zero-width space (a Persian layout types ZWNJ) lands in the field like any
    // text: handed over, it ends an open shortcode, which counts no such character.
    if (isFormatOnly(text))
        return InputEvent::keyDown(KeyAction::text, text, modifiers);
    return std::nullopt;
}

Modifiers modifiersOf(xkb_state* state) {
    Modifiers result;
    const auto active = [state](const char* name) {
        return xkb_state_mod_name_is_active(state, name, XKB_STATE_MODS_EFFECTIVE) > 0;
    };
    if (active(XKB_MOD_NAME_SHIFT))
        result |= Modifier::shift;
    if (active(XKB_MOD_NAME_CTRL))
        result |= Modifier::control;
    if (active(XKB_MOD_NAME_ALT))
        result |= Modifier::alt;
    if (active(XKB_MOD_NAME_LOGO))
        result |= Modifier::super;
    return result;
}

std::optional<InputEvent> readKeyDown(xkb_state* state, std::uint32_t keycode) {
    const xkb_keysym_t keysym = xkb_state_key_get_one_sym(state, keycode);
    char buffer[64] = {};
    const int length = xkb_state_key_get_utf8(state, keycode, buffer, sizeof buffer);
    const QString text =
        length > 0 ? QString::fromUtf8(buffer, std::min<int>(length, sizeof buffer - 1)) : QString();
    return keyDownEvent(keysym, text, modifiersOf(state));
}

namespace {

// An xkb modifier mask of `keymap` as X core modifier bits; none when it uses a modifier that has no
// core bit.
std::optional<std::uint32_t> coreMask(xkb_keymap* keymap, xkb_mod_mask_t mask) {
    static constexpr const char* coreNames[] = {"Shift", "Lock", "Control", "Mod1",
                                                "Mod2",  "Mod3", "Mod4",    "Mod5"};
    std::uint32_t result = 0;
    const xkb_mod_index_t count = xkb_keymap_num_mods(keymap);
    for (xkb_mod_index_t i = 0; i < count && i < 32; ++i) {
        if (!(mask & (1u << i)))
            continue;
        const char* name = xkb_keymap_mod_get_name(keymap, i);
        bool found = false;
        for (std::uint32_t bit = 0; bit < 8 && name; ++bit) {
            if (qstrcmp(name, coreNames[bit]) == 0) {
                result |= 1u << bit;
                found = true;
            }
        }
        if (!found)
            return std::nullopt;
    }
    return result;
}

QString keysymText(xkb_keysym_t keysym) {
    char buffer[16] = {};
    const int length = xkb_keysym_to_utf8(keysym, buffer, sizeof buffer);
    return length > 1 ? sanitizedKeyText(QString::fromUtf8(buffer, length - 1)) : QString();
}

} // namespace

KeyGrabPlan keyGrabPlan(const SwallowableKeys& keys, xkb_keymap* keymap, std::uint32_t layout) {
    KeyGrabPlan plan;
    if (!keymap || keys.isEmpty())
        return plan;
    const auto add = [&plan](xkb_keycode_t keycode, std::uint32_t mask) {
        for (std::uint32_t locks : {0u, xmask::lock, xmask::mod2, xmask::lock | xmask::mod2})
            plan[keycode].insert(mask | locks);
    };
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap);
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_keycode_t keycode = first; keycode <= last && keycode < 256; ++keycode) {
        if (xkb_keymap_num_layouts_for_key(keymap, keycode) == 0)
            continue;
        const xkb_layout_index_t keyLayout =
            std::min<xkb_layout_index_t>(layout, xkb_keymap_num_layouts_for_key(keymap, keycode) - 1);
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, keycode, keyLayout);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, keycode, keyLayout, level, &syms) != 1)
                continue;
            const xkb_keysym_t keysym = syms[0];
            xkb_mod_mask_t masks[16];
            const std::size_t maskCount =
                xkb_keymap_key_get_mods_for_level(keymap, keycode, keyLayout, level, masks, std::size(masks));
            for (std::size_t m = 0; m < maskCount; ++m) {
                const auto mask = coreMask(keymap, masks[m]);
                if (!mask || (*mask & (xmask::mod1 | xmask::control | xmask::mod4)))
                    continue;
                for (const auto& entry : actionKeysyms()) {
                    if (entry.keysym != keysym)
                        continue;
                    if (entry.action == KeyAction::backspace && keys.contains(KeyAction::wordBackspace)) {
                        add(keycode, *mask | xmask::control);
                        add(keycode, *mask | xmask::control | xmask::shift);
                    }
                    if (keys.contains(entry.action)) {
                        add(keycode, *mask);
                        // The action stays the same whatever Shift adds.
                        add(keycode, *mask | xmask::shift);
                    }
                }
                bool isAction = false;
                for (const auto& entry : actionKeysyms())
                    isAction = isAction || entry.keysym == keysym;
                if (isAction)
                    continue;
                if (keys.anyText || !keys.triggerText.isEmpty()) {
                    const QString text = keysymText(keysym);
                    if (!text.isEmpty() && (keys.anyText || text == keys.triggerText))
                        add(keycode, *mask);
                }
            }
        }
    }
    return plan;
}

} // namespace pimsel
