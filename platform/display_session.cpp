#include "platform/display_session.h"

#include <QString>
#include <QtGlobal>

namespace pimsel {

bool isWaylandOnly() {
    return qEnvironmentVariableIsEmpty("DISPLAY") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool isWaylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) ==
               0 ||
           isWaylandOnly();
}

} // namespace pimsel
