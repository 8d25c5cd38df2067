#pragma once

// What a desktop panel's tray host does over the session bus: the stand-in watcher (sni_watcher)
// owns the watcher name and says which items register; the host reads an item's menu and clicks
// its rows.

#include "tests/e2e/support/desktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDateTime>

namespace pimsel::e2e {

// The item may live on this thread, so every call keeps the event loop turning.
inline QList<QVariant> callOnBus(const QString& service, const QString& path, const QString& interface,
                                 const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    pumpUntil([&] { return pending.isFinished(); }, std::chrono::seconds(8));
    return pending.isFinished() ? pending.reply().arguments() : QList<QVariant>{};
}

// The host clicks the top-level menu row labelled `label` of the item at `service`; false when
// the menu has no such row.
inline bool clickMenuRow(const QString& service, const QString& label) {
    const QString menu = callOnBus(service, QStringLiteral("/StatusNotifierItem"),
                                   QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                   {QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")})
                             .value(0)
                             .value<QDBusVariant>()
                             .variant()
                             .value<QDBusObjectPath>()
                             .path();
    const QString dbusmenu = QStringLiteral("com.canonical.dbusmenu");
    // The layout is (id, properties, [children as variants]); the rows have no children of their own.
    const QList<QVariant> reply =
        callOnBus(service, menu, dbusmenu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    const QDBusArgument root = reply.value(1).value<QDBusArgument>();
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        const QDBusArgument node = root.asVariant().value<QDBusVariant>().variant().value<QDBusArgument>();
        node.beginStructure();
        node >> id >> properties;
        node.endStructure();
        if (properties.value(QStringLiteral("label")) == label) {
            callOnBus(service, menu, dbusmenu, QStringLiteral("Event"),
                      {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)),
                       uint(QDateTime::currentSecsSinceEpoch())});
            return true;
        }
    }
    return false;
}

// The stand-in watcher, running from construction to destruction; "ready" once it owns the name.
class TrayHost : public Process {
public:
    TrayHost()
        : Process(QStringLiteral(PIMSEL_SNI_WATCHER), {}, QStringLiteral("ready\n")) {}

    // The bus name of the first item that registered, once one has.
    QString itemService() {
        if (!waitForOutput(QStringLiteral("registered ")))
            return {};
        const QStringList fields =
            output().mid(output().indexOf(QLatin1String("registered "))).section(u'\n', 0, 0).split(u' ');
        // An item registering by object path is its sender.
        return fields.value(fields.value(1).startsWith(u'/') ? 2 : 1);
    }
};

} // namespace pimsel::e2e
