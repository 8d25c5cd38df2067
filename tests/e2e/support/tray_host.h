#pragma once

// What a desktop panel's tray host does over the session bus: the stand-in watcher (sni_watcher)
// owns the watcher name and says which items register; the host reads an item's menu and clicks
// its rows.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <utility>

namespace pimsel::e2e {

// The item may live on this thread, so every call keeps the event loop turning.
inline QList<QVariant> callOnBus(const QString& service, const QString& path, const QString& interface,
                                 const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    QElapsedTimer clock;
    clock.start();
    while (!pending.isFinished() && !clock.hasExpired(8000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return pending.isFinished() ? pending.reply().arguments() : QList<QVariant>{};
}

using MenuRow = std::pair<int, QVariantMap>; // id, properties

// The top level of the menu as the host receives it: (id, properties, [children as variants]).
inline QList<MenuRow> menuRows(const QString& service, const QString& menuPath) {
    const QList<QVariant> reply = callOnBus(service, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                            QStringLiteral("GetLayout"), {0, -1, QStringList()});
    QList<MenuRow> rows;
    const QDBusArgument root = reply.value(1).value<QDBusArgument>();
    MenuRow row;
    root.beginStructure();
    root >> row.first >> row.second;
    root.beginArray();
    while (!root.atEnd()) {
        const QDBusArgument node = root.asVariant().value<QDBusVariant>().variant().value<QDBusArgument>();
        node.beginStructure();
        node >> row.first >> row.second; // the rows have no children of their own
        node.endStructure();
        rows.append(row);
    }
    return rows;
}

// The shown rows, separators as "---".
inline QString visibleLabels(const QList<MenuRow>& rows) {
    QStringList labels;
    for (const auto& [id, p] : rows) {
        if (p.value(QStringLiteral("visible"), true).toBool())
            labels.append(p.value(QStringLiteral("type")) == QStringLiteral("separator")
                              ? QStringLiteral("---")
                              : p.value(QStringLiteral("label")).toString());
    }
    return labels.join(u'|');
}

// The host clicks the row `id`.
inline void clickMenuRow(const QString& service, const QString& menuPath, int id) {
    callOnBus(service, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
              {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)),
               uint(QDateTime::currentSecsSinceEpoch())});
}

// A property of the item at `service`.
inline QVariant itemProperty(const QString& service, const char* name) {
    const QList<QVariant> reply = callOnBus(
        service, QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), QString::fromUtf8(name)});
    return reply.isEmpty() ? QVariant() : reply[0].value<QDBusVariant>().variant();
}

// The stand-in watcher, running from construction to destruction.
class TrayHost {
public:
    explicit TrayHost(const QString& watcherProgram) {
        watcher_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        watcher_.start(watcherProgram, {});
    }
    ~TrayHost() {
        watcher_.terminate();
        watcher_.waitForFinished(3000);
    }
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;

    // Waits until the watcher has printed `what`.
    bool says(const QByteArray& what, int patienceMs = 10000) {
        QElapsedTimer clock;
        clock.start();
        while (!(said_ += watcher_.readAllStandardOutput()).contains(what) && !clock.hasExpired(patienceMs))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return said_.contains(what);
    }
    // The bus name of the first item that registered; empty before one has.
    QString itemService() const {
        const qsizetype at = said_.indexOf("registered ");
        if (at < 0)
            return {};
        const QList<QByteArray> fields = said_.mid(at).split('\n')[0].split(' ');
        if (fields.size() < 3)
            return {};
        // An item registering by object path is its sender.
        return QString::fromUtf8(fields[1].startsWith('/') ? fields[2] : fields[1]);
    }
    QString output() const { return QString::fromUtf8(said_); }

private:
    QProcess watcher_;
    QByteArray said_;
};

} // namespace pimsel::e2e
