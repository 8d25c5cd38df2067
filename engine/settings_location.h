#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace pimsel {

// The one settings file shared by the desktop application, the command line and the input-method
// module:
// $XDG_CONFIG_HOME/pimsel/pimsel.conf (~/.config/pimsel/pimsel.conf when unset).
QString settingsFilePath();

// An INI-format QSettings over settingsFilePath(). Reading it never creates the file.
std::unique_ptr<QSettings> openUserSettings();

// The session-bus name the input-method module holds while fcitx5 has it loaded. The desktop
// application's own key hook stands down while the name is taken, so no key is handled twice.
QString inputMethodBusName();

// The double trigger in the module asks the application, which holds the first name, to open its
// emoji browser: OpenBrowser(u request). The answer comes back to the module's object under
// inputMethodBusName(): Picked(u request, s emoji) or Dismissed(u request).
namespace browser_bus {
inline constexpr char applicationName[] = "app.pimsel.Pimsel";
inline constexpr char applicationPath[] = "/app/pimsel/Pimsel";
inline constexpr char applicationInterface[] = "app.pimsel.Pimsel.Browser";
inline constexpr char inputMethodPath[] = "/app/pimsel/InputMethod";
inline constexpr char inputMethodInterface[] = "app.pimsel.Pimsel.InputMethod";
} // namespace browser_bus

} // namespace pimsel
