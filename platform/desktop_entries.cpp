#include "platform/desktop_entries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>
#include <QStringTokenizer>

namespace pimsel {

namespace {

QString lastDottedPart(const QString& id) {
    const qsizetype dot = id.lastIndexOf(u'.');
    return dot < 0 ? QString() : id.mid(dot + 1);
}

} // namespace

// Values are taken as they stand: escapes in names are rare enough that a display name with a
// literal "\s" is acceptable.
std::optional<DesktopEntry> parseDesktopEntry(const QByteArray& contents, const QString& id,
                                              const QString& locale) {
    const QString language = locale.section(u'_', 0, 0); // "de" of "de_DE"
    QString plainName, languageName, localeName;
    bool inMainGroup = false;
    bool hidden = false;
    QString type;
    DesktopEntry entry;

    // Decoded in one stateless pass: a stream decoder silently drops a truncated sequence at the
    // end of a file that lacks a final newline, so its last value would differ from the same
    // line followed by more.
    QStringDecoder decode(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decode(contents);
    for (QStringView rawLine : QStringTokenizer(text, u'\n')) {
        const QString line = rawLine.trimmed().toString();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Name"))
            plainName = value;
        else if (!locale.isEmpty() && key == QLatin1String("Name[%1]").arg(locale))
            localeName = value;
        else if (!language.isEmpty() && key == QLatin1String("Name[%1]").arg(language))
            languageName = value;
        else if (key == QLatin1String("Icon"))
            entry.icon = value;
        else if (key == QLatin1String("StartupWMClass"))
            entry.startupWmClass = value;
        else if (key == QLatin1String("Hidden"))
            hidden = value == QLatin1String("true");
        else if (key == QLatin1String("Type"))
            type = value;
        else if (key == QLatin1String("NoDisplay"))
            entry.noDisplay = value == QLatin1String("true");
    }
    if (hidden || !(type.isEmpty() || type == QLatin1String("Application")))
        return std::nullopt;
    entry.id = id;
    entry.name = !localeName.isEmpty() ? localeName : !languageName.isEmpty() ? languageName : plainName;
    return entry;
}

DesktopEntryIndex::DesktopEntryIndex(const QStringList& applicationDirs) {
    for (const QString& dir : applicationDirs)
        addFolder(dir, QString());
}

QStringList DesktopEntryIndex::standardApplicationDirs() {
    QStringList dirs;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QLatin1String("/.local/share");
    dirs << dataHome + QLatin1String("/applications");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dataDirs.split(u':', Qt::SkipEmptyParts))
        dirs << dir + QLatin1String("/applications");
    return dirs;
}

void DesktopEntryIndex::addFolder(const QString& folder, const QString& prefix) {
    const QDir dir(folder);
    const QFileInfoList infos =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable, QDir::Name);
    for (const QFileInfo& info : infos) {
        if (info.isDir()) {
            addFolder(info.filePath(), prefix + info.fileName() + u'-');
            continue;
        }
        if (!info.fileName().endsWith(QLatin1String(".desktop")))
            continue;
        const QString id = prefix + info.completeBaseName();
        if (m_byId.contains(id))
            continue; // an earlier folder already defines (or hides) this id
        QFile file(info.filePath());
        const std::optional<DesktopEntry> parsed =
            file.open(QIODevice::ReadOnly) ? parseDesktopEntry(file.readAll(), id, QLocale::system().name())
                                           : std::nullopt;
        if (!parsed) {
            m_byId.insert(id, -1);
            continue;
        }
        const qsizetype index = m_entries.size();
        m_entries.append(*parsed);
        m_byId.insert(id, index);
        m_byLowerId.insert(id.toLower(), index);
        if (!parsed->startupWmClass.isEmpty())
            m_byLowerWmClass.insert(parsed->startupWmClass.toLower(), index);
        const QString last = lastDottedPart(id);
        if (!last.isEmpty() && !m_byLowerLastIdPart.contains(last.toLower()))
            m_byLowerLastIdPart.insert(last.toLower(), index);
    }
}

std::optional<DesktopEntry> DesktopEntryIndex::entry(const QString& id) const {
    qsizetype index = m_byId.value(id, -1);
    if (index < 0)
        index = m_byLowerId.value(id.toLower(), -1);
    if (index < 0)
        return std::nullopt;
    return m_entries.at(index);
}

std::optional<DesktopEntry> DesktopEntryIndex::lookup(const QHash<QString, qsizetype>& table,
                                                      const QString& instance,
                                                      const QString& windowClass) const {
    for (const QString& key : {windowClass, instance}) {
        if (key.isEmpty())
            continue;
        const qsizetype index = table.value(key.toLower(), -1);
        if (index >= 0)
            return m_entries.at(index);
    }
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopEntryIndex::entryForWindowClass(const QString& instance,
                                                                   const QString& windowClass) const {
    if (auto found = lookup(m_byLowerWmClass, instance, windowClass))
        return found;
    if (auto found = lookup(m_byLowerId, instance, windowClass))
        return found;
    return lookup(m_byLowerLastIdPart, instance, windowClass);
}

std::optional<QString> applicationIdForWindow(const QString& gtkApplicationId, const QString& wmInstance,
                                              const QString& wmClass, const DesktopEntryIndex& index) {
    if (!gtkApplicationId.isEmpty())
        return gtkApplicationId;
    if (const std::optional<DesktopEntry> entry = index.entryForWindowClass(wmInstance, wmClass))
        return entry->id;
    if (!wmClass.isEmpty())
        return wmClass.toLower();
    if (!wmInstance.isEmpty())
        return wmInstance.toLower();
    return std::nullopt;
}

} // namespace pimsel
