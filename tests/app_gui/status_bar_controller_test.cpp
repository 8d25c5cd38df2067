#include "app/status_bar_controller.h"
#include "app/update_controller.h"
#include "engine/settings_store.h"
#include "platform/app_exclusion_manager.h"
#include "platform/permissions_controller.h"

#include "tray_support.h"

#include <QAction>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;

namespace {

// The titles of the rows that are shown, separators as "---".
QStringList visibleTitles(const QMenu& menu) {
    QStringList titles;
    for (const QAction* a : menu.actions()) {
        if (a->isVisible())
            titles.append(a->isSeparator() ? QStringLiteral("---") : a->text());
    }
    return titles;
}

class StatusBarTest : public ::testing::Test {
protected:
    StatusBarController& make(bool withUpdates = true) {
        PermissionsController::Probes probes;
        probes.accessibility = [] { return true; };
        probes.inputMonitoring = [this] { return inputMonitoringGranted; };
        permissions = std::make_unique<PermissionsController>(probes);
        permissions->refresh();
        monitor = std::make_unique<StatusMonitor>(settings, exclusions, focus, apps);
        if (withUpdates) {
            UpdateController::Options options;
            options.feedUrl = server.url();
            options.currentVersion = QStringLiteral("1.4.0");
            options.presentManualOutcome = [this](const UpdateCheckOutcome& o) { presented.append(o); };
            options.openUrl = [this](const QUrl& url) { return opened.append(url), true; };
            updates = std::make_unique<UpdateController>(&defaults, options);
        }
        StatusBarController::Hooks hooks;
        hooks.openPreferences = [this] { ++preferencesOpened; };
        hooks.openOnboarding = [this] { ++onboardingOpened; };
        hooks.terminate = [this] { quitSawFlag.append(controller->isQuitting()); };
        controller =
            std::make_unique<StatusBarController>(*monitor, settings, *permissions, updates.get(), hooks);
        return *controller;
    }

    // A background check that finds 1.5.0, shown as "1.5", drawn once it is published.
    void findUpdate() {
        server.serve(200, appcast({{"1.5.0", "1.5"}}));
        updates->checkInBackground();
        ASSERT_TRUE(waitUntil([&] { return !updates->availableVersion().isEmpty(); }));
        spin(20);
    }

    QTemporaryDir dir;
    QSettings defaults{dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat};
    SettingsStore settings{&defaults};
    AppExclusionManager exclusions{settings};
    FakeApplications apps;
    FakeFocus focus;
    bool inputMonitoringGranted = true;
    FeedServer server;
    std::unique_ptr<PermissionsController> permissions;
    std::unique_ptr<StatusMonitor> monitor;
    std::unique_ptr<UpdateController> updates;
    std::unique_ptr<StatusBarController> controller;
    QList<UpdateCheckOutcome> presented;
    QList<QUrl> opened;
    int preferencesOpened = 0;
    int onboardingOpened = 0;
    QList<bool> quitSawFlag;
};

enum class Scenario { active, disabledGlobally, inApp, onSite };
struct StateCase {
    Scenario scenario;
    bool update;
    bool bothPermissions;
};
class StatusBarStates : public StatusBarTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(StatusBarStates, RowsTooltipAndIconFollowStatusUpdateAndPermissions) {
    const StateCase p = GetParam();
    QString header;
    if (p.scenario == Scenario::disabledGlobally)
        settings.setEnabled(false);
    if (p.scenario == Scenario::inApp) {
        apps.frontmost = QStringLiteral("org.gnome.Terminal");
        header = QStringLiteral("Disabled in Terminal");
    }
    if (p.scenario == Scenario::onSite) {
        settings.setDisabledWebsites({QStringLiteral("example.org")});
        apps.frontmost = QStringLiteral("chromium");
        focus.url = QUrl(QStringLiteral("https://docs.example.org/guide?x=1"));
        header = QStringLiteral("Disabled on docs.example.org");
    }
    inputMonitoringGranted = p.bothPermissions;
    StatusBarController& c = make();
    if (p.update)
        findUpdate();
    Q_EMIT c.menu()->aboutToShow();

    QStringList expected;
    if (p.update)
        expected << QStringLiteral("Update to v1.5") << QStringLiteral("---");
    if (!header.isEmpty())
        expected << header << QStringLiteral("---");
    expected << QStringLiteral("Enabled") << QStringLiteral("---");
    if (!p.bothPermissions)
        expected << QStringLiteral("Finish Setup…");
    expected << QStringLiteral("Preferences…") << QStringLiteral("Test Pimsel…")
             << QStringLiteral("Check for Updates…") << QStringLiteral("---")
             << QStringLiteral("Privacy: Local Only") << QStringLiteral("Quit Pimsel");
    EXPECT_EQ(visibleTitles(*c.menu()), expected);
    EXPECT_EQ(c.enabledItem()->isChecked(), p.scenario != Scenario::disabledGlobally);
    EXPECT_FALSE(c.headerItem()->isEnabled() || c.privacyItem()->isEnabled()) << "informative rows only";

    const QString tooltip = p.update ? QStringLiteral("Pimsel — update available")
                                     : (header.isEmpty() ? QStringLiteral("Pimsel") : header);
    EXPECT_EQ(c.trayIcon()->toolTip(), tooltip);
    const bool dimmed = p.scenario != Scenario::active;
    EXPECT_EQ(c.isIconDimmed(), dimmed);
    EXPECT_EQ(c.isIconBadged(), p.update);
    const QImage shown = c.trayIcon()->icon().pixmap(QSize(22, 22)).toImage();
    EXPECT_EQ(shown, c.iconRenderer().render(22, dimmed, p.update).convertToFormat(shown.format()))
        << "the tray shows another variant";
}

INSTANTIATE_TEST_SUITE_P(
    Everything, StatusBarStates,
    ::testing::Values(StateCase{Scenario::active, false, true}, StateCase{Scenario::active, true, true},
                      StateCase{Scenario::active, false, false},
                      StateCase{Scenario::disabledGlobally, false, true},
                      StateCase{Scenario::disabledGlobally, true, false},
                      StateCase{Scenario::inApp, false, true}, StateCase{Scenario::inApp, true, false},
                      StateCase{Scenario::onSite, false, false}, StateCase{Scenario::onSite, true, true}));

TEST_F(StatusBarTest, TogglingEnabledFlipsTheSettingAndTheIconDimsOnceTheStatusIsPublished) {
    StatusBarController& c = make();
    for (const bool on : {false, true}) {
        c.enabledItem()->trigger();
        EXPECT_EQ(settings.enabled(), on);
        EXPECT_EQ(c.enabledItem()->isChecked(), on);
        spin(20);
        EXPECT_EQ(c.isIconDimmed(), !on);
        EXPECT_EQ(c.trayIcon()->toolTip(), QStringLiteral("Pimsel"));
    }
}

TEST_F(StatusBarTest, OpeningTheMenuRechecksPermissionsAndStatus) {
    inputMonitoringGranted = false;
    StatusBarController& c = make();
    inputMonitoringGranted = true;
    apps.frontmost = QStringLiteral("org.gnome.Terminal"); // without a signal
    spin(20);
    EXPECT_TRUE(c.finishSetupItem()->isVisible());
    Q_EMIT c.menu()->aboutToShow();
    EXPECT_FALSE(c.finishSetupItem()->isVisible());
    EXPECT_EQ(visibleTitles(*c.menu()).value(0), QStringLiteral("Disabled in Terminal"));
    spin(20);
    EXPECT_TRUE(c.isIconDimmed());
}

TEST_F(StatusBarTest, RowsReachTheirHooksAndQuitSetsTheFlagFirst) {
    StatusBarController& c = make();
    c.preferencesItem()->trigger();
    c.finishSetupItem()->trigger();
    c.testItem()->trigger();
    EXPECT_EQ(preferencesOpened, 1);
    EXPECT_EQ(onboardingOpened, 2);
    EXPECT_TRUE(quitSawFlag.isEmpty());
    c.quitItem()->trigger();
    EXPECT_EQ(quitSawFlag, QList<bool>{true});
    // Without hooks the requests are only logged.
    c.setHooks({});
    c.preferencesItem()->trigger();
    c.testItem()->trigger();
    EXPECT_EQ(preferencesOpened + onboardingOpened, 3);
}

TEST_F(StatusBarTest, UpdateRowOpensTheReleaseAndTheBadgeGoes) {
    StatusBarController& c = make();
    findUpdate();
    ASSERT_TRUE(c.isIconBadged());
    c.updateItem()->trigger();
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/pimsel/releases/1.5.0"))});
    spin(20);
    EXPECT_FALSE(c.isIconBadged());
    EXPECT_FALSE(c.updateItem()->isVisible() || c.updateSeparator()->isVisible());
    EXPECT_EQ(c.trayIcon()->toolTip(), QStringLiteral("Pimsel"));

    // Asked from the menu, the answer goes to the dialog and leaves no badge.
    c.checkForUpdatesItem()->trigger();
    ASSERT_TRUE(waitUntil([&] { return !presented.isEmpty(); }));
    EXPECT_EQ(presented[0].kind, UpdateCheckOutcome::Kind::updateAvailable);
    spin(20);
    EXPECT_FALSE(c.isIconBadged());
}

TEST_F(StatusBarTest, WithoutAnUpdaterTheUpdateRowsDoNothing) {
    StatusBarController& c = make(false);
    c.checkForUpdatesItem()->trigger();
    c.installUpdate();
    spin(50);
    EXPECT_FALSE(c.updateItem()->isVisible());
    EXPECT_EQ(server.requestCount(), 0);
}

} // namespace
