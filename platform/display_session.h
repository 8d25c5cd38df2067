#pragma once

namespace pimsel {

// The kind of desktop session, from the environment the session gives its programs.

// A Wayland session with no X11 display: every window is Wayland's, and only fcitx5's module sees
// the keys.
bool isWaylandOnly();

// A Wayland session, XWayland or not. An X11 client connects there but sees none of the native
// windows' keys, so the hook has nothing to watch.
bool isWaylandSession();

} // namespace pimsel
