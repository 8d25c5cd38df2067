#pragma once

#include <QtGlobal>

#include <functional>

namespace pimsel {

// The desktop's window focus as a panel that takes the keys needs it: which window has the
// keyboard now, and giving the keyboard to a window. Window ids are X11 window ids; 0 means none.
struct WindowActivation {
    std::function<quint32()> activeWindow;
    std::function<void(quint32)> activate;
};

} // namespace pimsel
