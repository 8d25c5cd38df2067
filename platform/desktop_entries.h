#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace pimsel {

struct DesktopEntry {
    QString id; // file name without ".desktop"; subfolders joined with "-"
    QString name;
    QString icon;
    QString startupWmClass;
    // Installed for other programs to start, not for the user to pick from a list.
    bool noDisplay = false;
    bool operator==(const DesktopEntry&) const = default;
};

// The [Desktop Entry] group of one desktop file's contents, named for `locale` ("de_DE") where it
// has a translation; none when the entry hides itself or is not an application.
std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& contents, const QString& id,
                                              const QString& locale);

// The installed applications' desktop entries, read once from the given folders (earlier folders
// win over later ones for the same id, as in the XDG lookup order).
class DesktopEntryIndex {
public:
    explicit DesktopEntryIndex(const QStringList& applicationDirs);

    // $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS/applications.
    static QStringList standardApplicationDirs();

    std::optional<DesktopEntry> entry(const QString& id) const;
    // The entry of a window with this WM_CLASS: StartupWMClass equal to its class or instance,
    // else an id (or the last dotted part of a reverse-domain id) equal to either, ignoring case.
    std::optional<DesktopEntry> entryForWindowClass(const QString& instance,
                                                    const QString& windowClass) const;
    qsizetype size() const { return m_entries.size(); }
    const QList<DesktopEntry>& entries() const { return m_entries; }

private:
    void addFolder(const QString& folder, const QString& prefix);
    std::optional<DesktopEntry> lookup(const QHash<QString, qsizetype>& table, const QString& instance,
                                       const QString& windowClass) const;

    QList<DesktopEntry> m_entries;
    QHash<QString, qsizetype> m_byId;
    QHash<QString, qsizetype> m_byLowerId;
    QHash<QString, qsizetype> m_byLowerWmClass;
    QHash<QString, qsizetype> m_byLowerLastIdPart;
};

// The application identifier of a window: its GTK application id, else the id of the desktop
// entry its WM_CLASS leads to, else the WM_CLASS class (the instance if the class is empty) in
// lower case. None for a window without any of these.
std::optional<QString> applicationIdForWindow(const QString& gtkApplicationId, const QString& wmInstance,
                                              const QString& wmClass, const DesktopEntryIndex& index);

} // namespace pimsel
