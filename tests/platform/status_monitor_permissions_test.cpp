#include "platform/permissions_controller.h"

#include <QUrl>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

struct Desktop {
    bool accessibility = false;
    bool inputMonitoring = false;
    QStringList installed; // programs findProgram knows
    QStringList startable; // programs startProgram manages to start
    QStringList started;   // "program argument" of every start attempt
    QList<QUrl> opened;

    PermissionsController::Probes probes() {
        PermissionsController::Probes p;
        p.accessibility = [this] { return accessibility; };
        p.inputMonitoring = [this] { return inputMonitoring; };
        p.findProgram = [this](const QString& name) {
            return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
        };
        p.startProgram = [this](const QString& program, const QStringList& args) {
            started.append(program + u' ' + args.join(u' '));
            return startable.contains(program);
        };
        p.openUrl = [this](const QUrl& url) {
            opened.append(url);
            return true;
        };
        return p;
    }
};

TEST(PermissionsControllerTest, FlagsArePublishedOnlyOnRealChanges) {
    Desktop desktop;
    PermissionsController controller(desktop.probes());
    QList<bool> accessibility;
    QList<bool> input;
    QObject::connect(&controller, &PermissionsController::accessibilityGrantedChanged,
                     [&](bool granted) { accessibility.append(granted); });
    QObject::connect(&controller, &PermissionsController::inputMonitoringGrantedChanged,
                     [&](bool granted) { input.append(granted); });

    controller.refresh(); // both still false: nothing to say
    EXPECT_EQ(accessibility.size(), 0);
    EXPECT_EQ(input.size(), 0);

    desktop.inputMonitoring = true;
    controller.refresh();
    controller.refresh();
    EXPECT_TRUE(controller.inputMonitoringGranted());
    EXPECT_FALSE(controller.accessibilityGranted());
    ASSERT_EQ(input.size(), 1);
    EXPECT_TRUE(input.at(0));
    EXPECT_EQ(accessibility.size(), 0);

    desktop.accessibility = true;
    desktop.inputMonitoring = false;
    controller.refresh();
    EXPECT_TRUE(controller.accessibilityGranted());
    EXPECT_FALSE(controller.inputMonitoringGranted());
    EXPECT_EQ(accessibility.size(), 1);
    ASSERT_EQ(input.size(), 2);
    EXPECT_FALSE(input.at(1));
}

TEST(PermissionsControllerTest, BothFlagsAreReadBeforeEitherIsPublished) {
    Desktop desktop;
    PermissionsController controller(desktop.probes());
    desktop.accessibility = true;
    desktop.inputMonitoring = true;
    bool inputSeenByAccessibilityObserver = false;
    QObject::connect(&controller, &PermissionsController::accessibilityGrantedChanged,
                     [&] { inputSeenByAccessibilityObserver = controller.inputMonitoringGranted(); });
    int inputProbes = 0;
    PermissionsController::Probes probes = desktop.probes();
    probes.inputMonitoring = [&] {
        ++inputProbes;
        return true;
    };
    PermissionsController counted(probes);
    counted.refresh();
    EXPECT_EQ(inputProbes, 1);
    controller.refresh();
    // The accessibility observer runs first; the input flag is not yet assigned then, but it was read.
    EXPECT_FALSE(inputSeenByAccessibilityObserver);
    EXPECT_TRUE(controller.inputMonitoringGranted());
}

TEST(PermissionsControllerTest, AccessibilitySettingsPreferTheDesktopsOwnPanel) {
    {
        Desktop gnome;
        gnome.installed = {QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings")};
        gnome.startable = {QStringLiteral("/usr/bin/gnome-control-center")};
        PermissionsController controller(gnome.probes());
        controller.openSystemSettings(PermissionsController::accessibilitySettingsAddress);
        EXPECT_EQ(gnome.started,
                  QStringList{QStringLiteral("/usr/bin/gnome-control-center universal-access")});
        EXPECT_TRUE(gnome.opened.isEmpty());
    }
    {
        Desktop kde; // GNOME's panel is installed but will not start: KDE's is next
        kde.installed = {QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings")};
        kde.startable = {QStringLiteral("/usr/bin/systemsettings")};
        PermissionsController controller(kde.probes());
        controller.openSystemSettings(PermissionsController::accessibilitySettingsAddress);
        EXPECT_EQ(kde.started.size(), 2);
        EXPECT_EQ(kde.started.value(1), QStringLiteral("/usr/bin/systemsettings kcm_access"));
        EXPECT_TRUE(kde.opened.isEmpty());
    }
    {
        Desktop bare;
        PermissionsController controller(bare.probes());
        controller.openSystemSettings(PermissionsController::accessibilitySettingsAddress);
        EXPECT_TRUE(bare.started.isEmpty());
        EXPECT_EQ(bare.opened, QList<QUrl>{QUrl(PermissionsController::accessibilitySettingsAddress)});
    }
}

TEST(PermissionsControllerTest, InputMonitoringHelpOpensExactlyItsAddressAndBadAddressesAreIgnored) {
    Desktop desktop;
    desktop.installed = {QStringLiteral("gnome-control-center")};
    desktop.startable = {QStringLiteral("/usr/bin/gnome-control-center")};
    PermissionsController controller(desktop.probes());
    controller.openSystemSettings(PermissionsController::inputMonitoringSettingsAddress);
    EXPECT_TRUE(desktop.started.isEmpty());
    ASSERT_EQ(desktop.opened.size(), 1);
    EXPECT_EQ(desktop.opened.at(0).toString(), PermissionsController::inputMonitoringSettingsAddress);
    EXPECT_NE(PermissionsController::inputMonitoringSettingsAddress,
              PermissionsController::accessibilitySettingsAddress);

    controller.openSystemSettings(QStringLiteral("not a url at all"));
    controller.openSystemSettings(QString());
    controller.openSystemSettings(QStringLiteral("http://exa mple.com/"));
    EXPECT_EQ(desktop.opened.size(), 1);
    EXPECT_TRUE(desktop.started.isEmpty());
}

TEST(PermissionsControllerTest, WaylandOrNoDisplayMeansNoInputMonitoring) {
    const QByteArray savedType = qgetenv("XDG_SESSION_TYPE");
    const QByteArray savedDisplay = qgetenv("DISPLAY");
    qputenv("XDG_SESSION_TYPE", "wayland");
    qputenv("DISPLAY", ":0");
    EXPECT_FALSE(PermissionsController::x11InputAvailable());
    qputenv("XDG_SESSION_TYPE", "x11");
    qunsetenv("DISPLAY");
    EXPECT_FALSE(PermissionsController::x11InputAvailable());
    qputenv("DISPLAY", ":4711"); // nothing listens there
    EXPECT_FALSE(PermissionsController::x11InputAvailable());
    savedType.isNull() ? qunsetenv("XDG_SESSION_TYPE") : qputenv("XDG_SESSION_TYPE", savedType);
    savedDisplay.isNull() ? qunsetenv("DISPLAY") : qputenv("DISPLAY", savedDisplay);
}

} // namespace
