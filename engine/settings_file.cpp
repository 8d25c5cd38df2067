#include "engine/settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <optional>

namespace pimsel {

namespace {

// The bits of the file's mode; the *User flags describe what this process may do and map onto
// the owner's bits when set.
constexpr QFileDevice::Permissions modeBits =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
    QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther |
    QFileDevice::ExeOther;

QFileDevice::Permissions mode(const QString& path) {
    return QFile::permissions(path) & modeBits;
}

template <typename Change> void commit(QSettings& settings, Change change) {
    const QString path = settings.fileName();
    std::optional<QFileDevice::Permissions> before;
    if (QFileInfo::exists(path)) {
        before = mode(path);
    } else if (QDir().mkpath(QFileInfo(path).absolutePath())) {
        // QSettings replaces the file through a temporary copy that takes over the mode of the
        // file it replaces; an empty private file here makes that mode 0600 instead of the umask's.
        QFile file(path);
        (void)file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    change();
    settings.sync();
    // The replacement is made writable for its owner; a file the user made read-only stays so.
    if (before && QFileInfo::exists(path) && mode(path) != *before)
        (void)QFile::setPermissions(path, *before);
}

} // namespace

void writeSetting(QSettings& settings, const QString& key, const QVariant& value) {
    commit(settings, [&] { settings.setValue(key, value); });
}

void removeSetting(QSettings& settings, const QString& key) {
    if (!settings.contains(key))
        return;
    commit(settings, [&] { settings.remove(key); });
}

} // namespace pimsel
