#include "platform/xdg_autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace pimsel {

namespace {

const QString reservedExecCharacters = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");

// Every value of a desktop entry is a string value; these escapes come on top of quoting.
QString escapeStringValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else
            out += c;
    }
    return out;
}

QString unescapeStringValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (next == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else // not a string escape: the Exec quoting rule reads it
            out += QString(c) + next;
    }
    return out;
}

struct DesktopEntry {
    bool hasMainGroup = false;
    QString hidden;
    QString exec; // as written, escapes included
};

DesktopEntry readEntry(const QString& path) {
    DesktopEntry entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entry;
    bool inMainGroup = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            entry.hasMainGroup = entry.hasMainGroup || inMainGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Hidden"))
            entry.hidden = value;
        else if (key == QLatin1String("Exec"))
            entry.exec = value;
    }
    return entry;
}

bool samePath(const QString& a, const QString& b) {
    if (a == b)
        return true;
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

bool startsProgram(const DesktopEntry& entry, const QString& program) {
    if (!entry.hasMainGroup || program.isEmpty())
        return false;
    const std::optional<QStringList> arguments = XdgAutostart::splitExecValue(entry.exec);
    return arguments && !arguments->isEmpty() && samePath(arguments->first(), program);
}

} // namespace

XdgAutostart::XdgAutostart(QString programPath)
    : m_programPath(programPath.isEmpty() ? QCoreApplication::applicationFilePath()
                                          : std::move(programPath)) {}

QString XdgAutostart::entryPath() const {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/pimsel.desktop");
}

bool XdgAutostart::isRegistered() const {
    const DesktopEntry entry = readEntry(entryPath());
    return startsProgram(entry, m_programPath) && entry.hidden != QLatin1String("true");
}

bool XdgAutostart::registerItem() {
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    // Written whole or not at all: the session reads this file at every login.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entryText());
    return file.commit();
}

bool XdgAutostart::unregisterItem() {
    const QString path = entryPath();
    if (!QFile::exists(path))
        return true;
    // An entry that starts something else is not ours to delete.
    if (!startsProgram(readEntry(path), m_programPath))
        return true;
    return QFile::remove(path);
}

QByteArray XdgAutostart::entryText() const {
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Pimsel\n"
                                        "Comment=Emoji shortcodes in every text field\n"
                                        "Exec=%1\n"
                                        "Icon=pimsel\n"
                                        "Terminal=false\n"
                                        "NoDisplay=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(escapeStringValue(quoteExecArgument(m_programPath)));
    return text.toUtf8();
}

QString XdgAutostart::quoteExecArgument(const QString& argument) {
    // A literal percent sign would otherwise start a field code.
    const QString percentSafe = QString(argument).replace(QLatin1Char('%'), QLatin1String("%%"));
    const bool needsQuotes =
        percentSafe.isEmpty() || std::any_of(percentSafe.begin(), percentSafe.end(),
                                             [](QChar c) { return reservedExecCharacters.contains(c); });
    if (!needsQuotes)
        return percentSafe;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : percentSafe) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

std::optional<QStringList> XdgAutostart::splitExecValue(const QString& rawValue) {
    const QString value = unescapeStringValue(rawValue);
    QStringList arguments;
    qsizetype i = 0;
    while (i < value.size()) {
        if (value.at(i) == QLatin1Char(' ')) {
            ++i;
            continue;
        }
        QString argument;
        if (value.at(i) == QLatin1Char('"')) {
            ++i;
            bool closed = false;
            while (i < value.size()) {
                const QChar c = value.at(i++);
                if (c == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (c == QLatin1Char('\\') && i < value.size())
                    argument += value.at(i++);
                else
                    argument += c;
            }
            if (!closed)
                return std::nullopt;
        } else {
            while (i < value.size() && value.at(i) != QLatin1Char(' '))
                argument += value.at(i++);
        }
        arguments << argument.replace(QLatin1String("%%"), QLatin1String("%"));
    }
    return arguments;
}

} // namespace pimsel
