#include "platform/key_mapping.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <QChar>

#include <vector>

namespace pimsel {

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
    if (typed.isEmpty())
        return std::nullopt;
    return InputEvent::keyDown(KeyAction::text, std::move(typed), modifiers);
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

} // namespace pimsel
