#pragma once

#include <QByteArray>

namespace pimsel {

// The selection a compositing manager owns for the screen an X display name
// ("host:display.screen") points at; screen 0 when the name does not say.
QByteArray compositorSelectionName(const QByteArray& displayName);

// True while a compositing manager runs on the application's X screen, so see-through windows
// are blended with what lies beneath; false without one and on platforms other than X11.
bool isCompositorRunning();

} // namespace pimsel
