#pragma once

// How an X key press reads to the coordinator: keysym, typed text and held modifiers in, an
// InputEvent out. Pure functions, so the table can be checked without a display.

#include "engine/input_event.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

struct xkb_state;

namespace pimsel {

// Text with any control or format character (Unicode Cc, Cf) counts as no text at all.
QString sanitizedKeyText(const QString& text);

// The event for one key-down; none when the key means nothing to the coordinator (a bare modifier
// key, a dead key, a key that types only control characters).
std::optional<InputEvent> keyDownEvent(std::uint32_t keysym, const QString& text, Modifiers modifiers);

// The coordinator's modifiers from an xkb state (effective modifiers).
Modifiers modifiersOf(xkb_state* state);

// Reads one key-down of `keycode` in `state` (before the key itself is applied to the state).
std::optional<InputEvent> readKeyDown(xkb_state* state, std::uint32_t keycode);

// The non-text actions and the keysyms that produce them; used to find the keys to grab.
struct ActionKeysym {
    KeyAction action;
    std::uint32_t keysym;
};
const std::vector<ActionKeysym>& actionKeysyms();

} // namespace pimsel
