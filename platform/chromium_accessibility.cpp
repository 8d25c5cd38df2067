#include "platform/chromium_accessibility.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace pimsel {

namespace {

// The start-up snapshots every Chromium build ships next to its executable, whatever the
// product's name: browsers and Electron applications alike.
const char* const chromiumRuntimeFiles[] = {"v8_context_snapshot.bin", "snapshot_blob.bin"};

std::optional<double> firstNumber(const QByteArray& text) {
    bool ok = false;
    const double value = text.split(' ').value(0).toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace

ChromiumAccessibility::ChromiumAccessibility(AtspiClient& client)
    : m_client(client) {}

bool ChromiumAccessibility::hasChromiumToolkit(QueryDeadline& deadline, const AtspiRef& application) {
    if (const auto known = m_toolkitIsChromium.constFind(application.service);
        known != m_toolkitIsChromium.cend())
        return *known;
    const std::optional<QString> toolkit = m_client.toolkitName(deadline, application);
    if (!toolkit)
        return false; // asked again next time: the call may only have run out of time
    const bool chromium = toolkit->compare(QLatin1String("Chromium"), Qt::CaseInsensitive) == 0 ||
                          toolkit->compare(QLatin1String("Electron"), Qt::CaseInsensitive) == 0;
    m_toolkitIsChromium.insert(application.service, chromium);
    return chromium;
}

bool ChromiumAccessibility::shipsChromiumRuntime(qint64 pid) {
    const QFileInfo program(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)));
    if (program.filePath().isEmpty())
        return false;
    const QDir folder = program.absoluteDir();
    for (const char* file : chromiumRuntimeFiles) {
        if (folder.exists(QLatin1String(file)))
            return true;
    }
    return false;
}

bool ChromiumAccessibility::isChromiumBased(QueryDeadline& deadline, qint64 pid,
                                            const QList<AtspiRef>& applications) {
    for (const AtspiRef& application : applications) {
        if (hasChromiumToolkit(deadline, application))
            return true;
    }
    auto known = m_programIsChromium.constFind(pid);
    if (known == m_programIsChromium.cend())
        known = m_programIsChromium.insert(pid, shipsChromiumRuntime(pid));
    return *known;
}

void ChromiumAccessibility::exposeWebContent(QueryDeadline& deadline, const QList<AtspiRef>& applications) {
    for (const AtspiRef& application : applications) {
        if (m_asked.contains(application.service) || !hasChromiumToolkit(deadline, application))
            continue;
        if (m_client.requestAttributes(application))
            m_asked.insert(application.service);
    }
}

std::optional<qint64> ChromiumAccessibility::runningForMs(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The program's name comes in parentheses and may hold anything: the fields follow the last one.
    const qsizetype nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    // After the name: state is field 3, the start time (in clock ticks after boot) field 22.
    const QList<QByteArray> fields = line.mid(nameEnd + 2).split(' ');
    bool ok = false;
    const qint64 startTicks = fields.value(22 - 3).toLongLong(&ok);
    const std::optional<double> upSeconds = firstNumber(uptime.readAll());
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (!ok || !upSeconds || ticksPerSecond <= 0)
        return std::nullopt;
    return qint64(*upSeconds * 1000) - startTicks * 1000 / ticksPerSecond;
}

} // namespace pimsel
