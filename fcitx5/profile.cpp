#include "fcitx5/profile.h"

#include <QFile>

namespace pimsel::fcitx5 {

Profile::Profile(const QString& settingsPath)
    : m_path(settingsPath)
    , m_stamp(stampOf(settingsPath)) // before the read: a write meanwhile makes it stale at once
    , m_file(settingsPath, QSettings::IniFormat)
    , m_settings(&m_file)
    , m_store(&m_file)
    , m_exclusions(m_settings) {
    m_store.reload(m_settings.customAliases());
}

bool Profile::isStale() const {
    return !(stampOf(m_path) == m_stamp);
}

Profile::Stamp Profile::stampOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {info.st_ino, info.st_size, info.st_mtim};
}

} // namespace pimsel::fcitx5
