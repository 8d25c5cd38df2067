#pragma once

#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"
#include "engine/settings_store.h"
#include "platform/app_exclusion_manager.h"

#include <QSettings>
#include <QString>

#include <sys/stat.h>

namespace pimsel::fcitx5 {

// What the user set up in the desktop application, as the input-method module reads it: the shared
// settings file, the catalogue with the user's aliases merged in, and the exclusion lists. fcitx5
// runs no Qt event loop, so nothing here waits on a timer or a signal: the owner asks isStale() at
// moments of its own choosing and loads a new profile when the file changed.
class Profile {
public:
    explicit Profile(const QString& settingsPath);
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    SettingsStore& settings() { return m_settings; }
    EmojiStore& store() { return m_store; }
    const EmojiSearchEngine& engine() const { return m_engine; }
    const AppExclusionManager& exclusions() const { return m_exclusions; }

    // Whether the file changed since it was read or last written from here: one stat(), no read.
    bool isStale() const;
    // After this process wrote the file (a use counted, a tone remembered): its own change is no
    // reason to load everything again.
    void noteOwnWrite() { m_stamp = stampOf(m_path); }

private:
    struct Stamp {
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        bool operator==(const Stamp& other) const {
            return inode == other.inode && size == other.size && modified.tv_sec == other.modified.tv_sec &&
                   modified.tv_nsec == other.modified.tv_nsec;
        }
    };
    static Stamp stampOf(const QString& path);

    QString m_path;
    Stamp m_stamp;
    QSettings m_file;
    SettingsStore m_settings;
    EmojiStore m_store;
    EmojiSearchEngine m_engine;
    AppExclusionManager m_exclusions;
};

} // namespace pimsel::fcitx5
