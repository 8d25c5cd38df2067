#pragma once

// How an X key press reads to the coordinator: keysym, typed text and held modifiers in, an
// InputEvent out. Pure functions, so the table can be checked without a display.

#include "engine/input_event.h"

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

struct xkb_state;
struct xkb_keymap;

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

// X core modifier masks used in key grabs.
namespace xmask {
inline constexpr std::uint32_t shift = 0x01, lock = 0x02, control = 0x04, mod1 = 0x08, mod2 = 0x10,
                               mod4 = 0x40;
} // namespace xmask

// The keys to hold with passive grabs so that the keys in `keys` can be withheld: keycode -> X
// modifier masks, read from `layout` of `keymap`. Combinations with Alt are left out; each one also
// comes with Caps Lock and Num Lock on.
using KeyGrabPlan = std::map<std::uint32_t, std::set<std::uint32_t>>;
KeyGrabPlan keyGrabPlan(const SwallowableKeys& keys, xkb_keymap* keymap, std::uint32_t layout = 0);

} // namespace pimsel
