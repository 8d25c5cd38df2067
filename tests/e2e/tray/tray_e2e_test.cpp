// The tray item on a real session bus: a stand-in tray host (sni_watcher) owns the watcher name,
// the item registers with it, and the host reads the tooltip and the menu over D-Bus and clicks a
// menu row, as a desktop panel would.
#include "app/status_bar_controller.h"
#include "engine/settings_store.h"
#include "platform/app_exclusion_manager.h"
#include "platform/permissions_controller.h"

#include "../../app_gui/tray_support.h"
#include "tests/e2e/support/tray_host.h"

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

using namespace pimsel::e2e;

TEST(TrayOnTheSessionBus, RegistersWithTheWatcherAndShowsItsStateToTheHost) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
        << "no session bus; run under desktop-session.sh";
    TrayHost host(QStringLiteral(PIMSEL_SNI_WATCHER));
    ASSERT_TRUE(host.says("ready\n")) << host.output().toStdString();

    QTemporaryDir dir;
    QSettings defaults(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    SettingsStore settings(&defaults);
    AppExclusionManager exclusions(settings);
    FakeApplications apps;
    FakeFocus focus;
    StatusMonitor monitor(settings, exclusions, focus, apps);
    PermissionsController permissions({[] { return true; }, [] { return false; }, {}, {}, {}, {}});
    permissions.refresh();
    StatusBarController controller(monitor, settings, permissions, nullptr);

    // The registration reaches the watcher; an item registering by object path is its sender.
    ASSERT_TRUE(host.says("registered ")) << host.output().toStdString();
    const QString service = host.itemService();
    ASSERT_FALSE(service.isEmpty());
    EXPECT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(service).value());

    const auto property = [&](const char* name) { return itemProperty(service, name); };
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
    clickMenuRow(service, menuPath, enabled.first);
    EXPECT_TRUE(waitUntil([&] { return !settings.enabled(); }));
    EXPECT_TRUE(waitUntil([&] {
        return menuRows(service, menuPath).value(4).second.value(QStringLiteral("toggle-state")) == 0;
    }));
    EXPECT_TRUE(waitUntil([&] { return toolTip() == QLatin1String("Pimsel"); }));
}

} // namespace
