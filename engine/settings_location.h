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

} // namespace pimsel
