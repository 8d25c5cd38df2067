#include "engine/settings_location.h"

#include <QSettings>
#include <QStandardPaths>

namespace pimsel {

QString settingsFilePath() {
    // Looked up on every call: tests and the command line may point XDG_CONFIG_HOME elsewhere.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/pimsel/pimsel.conf");
}

std::unique_ptr<QSettings> openUserSettings() {
    return std::make_unique<QSettings>(settingsFilePath(), QSettings::IniFormat);
}

QString inputMethodBusName() {
    return QStringLiteral("app.pimsel.Pimsel.InputMethod");
}

} // namespace pimsel
