// The tray item on a real session bus: a stand-in tray host (sni_watcher) owns the watcher name,
// the item registers with it, and the host reads the tooltip and the menu over D-Bus and clicks a
// menu row, as a desktop panel would.
#include "app/status_bar_controller.h"
#include "engine/settings_store.h"
#include "platform/app_exclusion_manager.h"
#include "platform/permissions_controller.h"

#include "../../app_gui/tray_support.h"
#include "tests/e2e/support/desktop.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDateTime>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;

namespace {

// The item lives on this thread, so every call to it must keep the event loop turning.
QList<QVariant> call(const QString& service, const QString& path, const QString& interface,
                     const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    waitUntil([&] { return pending.isFinished(); }, 8000);
    return pending.isFinished() ? pending.reply().arguments() : QList<QVariant>{};
}

using MenuRow = std::pair<int, QVariantMap>; // id, properties

// The top level of the menu as the host receives it: (id, properties, [children as variants]).
QList<MenuRow> menuRows(const QString& service, const QString& menuPath) {
    const QList<QVariant> reply = call(service, menuPath, QStringLiteral("com.canonical.dbusmenu"),
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

TEST(TrayOnTheSessionBus, RegistersWithTheWatcherAndShowsItsStateToTheHost) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
        << "no session bus; run under desktop-session.sh";
    e2e::Process watcher(QStringLiteral(PIMSEL_SNI_WATCHER), {}, QStringLiteral("ready\n"));
    ASSERT_TRUE(watcher.ready) << watcher.output().toStdString();

    QTemporaryDir dir;
    QSettings defaults(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    SettingsStore settings(&defaults);
    AppExclusionManager exclusions(settings);
    FakeApplications apps;
    FakeFocus focus;
    StatusMonitor monitor(settings, exclusions, focus, apps);
    PermissionsController permissions({[] { return true; }, [] { return false; }, {}, {}, {}});
    permissions.refresh();
    StatusBarController controller(monitor, settings, permissions, nullptr);

    // The registration reaches the watcher; an item registering by object path is its sender.
    ASSERT_TRUE(watcher.waitForOutput(QStringLiteral("registered "))) << watcher.output().toStdString();
    const QStringList fields =
        watcher.output().section(QStringLiteral("registered "), 1).section(u'\n', 0, 0).split(u' ');
    ASSERT_EQ(fields.size(), 2);
    const QString service = fields[0].startsWith(u'/') ? fields[1] : fields[0];
    EXPECT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(service).value());

    const auto property = [&](const char* name) {
        const QList<QVariant> reply = call(
            service, QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), QString::fromUtf8(name)});
        return reply.isEmpty() ? QVariant() : reply[0].value<QDBusVariant>().variant();
    };
    // ToolTip is (icon name, [pixmaps], title, text).
    const auto toolTip = [&] {
        const QDBusArgument arg = property("ToolTip").value<QDBusArgument>();
        QString iconName, title;
        arg.beginStructure();
        arg >> iconName;
        arg.beginArray();
        while (!arg.atEnd())
            arg.asVariant();
        arg.endArray();
        arg >> title;
        return title;
    };
    EXPECT_EQ(property("Status").toString(), QStringLiteral("Active"));
    EXPECT_EQ(toolTip(), QStringLiteral("Pimsel"));
    const QString menuPath = property("Menu").value<QDBusObjectPath>().path();
    ASSERT_FALSE(menuPath.isEmpty());
    // The rows themselves are the controller's test (app_gui_tests). The host clicks "Enabled":
    // autocomplete goes off and the row loses its check mark.
    const MenuRow enabled = menuRows(service, menuPath).value(4);
    ASSERT_EQ(enabled.second.value(QStringLiteral("label")), QStringLiteral("Enabled"));
    EXPECT_EQ(enabled.second.value(QStringLiteral("toggle-state")), 1);
    call(service, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
         {enabled.first, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)),
          uint(QDateTime::currentSecsSinceEpoch())});
    EXPECT_TRUE(waitUntil([&] { return !settings.enabled(); }));
    EXPECT_TRUE(waitUntil([&] {
        return menuRows(service, menuPath).value(4).second.value(QStringLiteral("toggle-state")) == 0;
    }));
    EXPECT_TRUE(waitUntil([&] { return toolTip() == QLatin1String("Pimsel"); }));
}

} // namespace
