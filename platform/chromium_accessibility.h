#pragma once

#include "platform/atspi_client.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace pimsel {

// Chromium, and the applications built on it, keep their web content off the accessibility bus
// until one attribute query reaches their application root, the question a screen reader asks
// first. Before that, and for good in a process that started while the bus was off, nothing tells
// a password input from any other input. This recognises such processes and asks each one once.
class ChromiumAccessibility {
public:
    // `client` must outlive this.
    explicit ChromiumAccessibility(AtspiClient& client);

    // Whether process `pid` runs Chromium's code: one of its `applications` on the bus names
    // Chromium or Electron as its toolkit, or its program has V8's start-up snapshot beside it
    // (which needs no bus).
    bool isChromiumBased(QueryDeadline& deadline, qint64 pid, const QList<AtspiRef>& applications);
    // Sends the query that exposes web content to each Chromium application among `applications`
    // (application roots, as the registry lists them) that has not had it yet. Nothing waits for
    // the answers.
    void exposeWebContent(QueryDeadline& deadline, const QList<AtspiRef>& applications);

    // How long process `pid` has been running; none when the system does not say.
    static std::optional<qint64> runningForMs(qint64 pid);

private:
    bool hasChromiumToolkit(QueryDeadline& deadline, const AtspiRef& application);
    static bool shipsChromiumRuntime(qint64 pid);

    AtspiClient& m_client;
    // Bus connections are never renamed nor their names reused within a session: one answer each.
    QHash<QString, bool> m_toolkitIsChromium;
    QHash<qint64, bool> m_programIsChromium;
    QSet<QString> m_asked;
};

} // namespace pimsel
