#include "app/status_bar_controller.h"
#include "app/update_controller.h"
#include "platform/permissions_controller.h"

#include "tray_support.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;
using namespace pimsel::testing;

namespace {

// The rows that are shown, separators as "---".
QString visibleRows(const QMenu& menu) {
    QStringList titles;
    for (const QAction* a : menu.actions()) {
        if (a->isVisible())
            titles.append(a->isSeparator() ? QStringLiteral("---") : a->text());
    }
    return titles.join(u'|');
}

class StatusBarTest : public ::testing::Test, public StatusSurroundings {
protected:
    StatusBarController& make(bool withUpdates = true) {
        apps.names.insert(QStringLiteral("org.gnome.Terminal"), QStringLiteral("Terminal"));
        controller.reset();
        updates.reset();
        if (withUpdates) {
            updates = std::make_unique<UpdateController>(
                &defaults,
                UpdateController::Options{
                    .feedUrl = server.url(),
                    .currentVersion = QStringLiteral("1.4.0"),
                    .presentManualOutcome = [this](const UpdateCheckOutcome& o) { presented.append(o); },
                    .openUrl = [this](const QUrl& url) { return opened.append(url), true; }});
        }
        StatusBarController::Hooks hooks{[this] { ++preferencesOpened; }, [this] { ++onboardingOpened; },
                                         [this] { quitSawFlag.append(controller->isQuitting()); }};
        controller =
            std::make_unique<StatusBarController>(monitor, settings, permissions, updates.get(), hooks);
        return *controller;
    }
    // A background check that finds 1.5.0, shown as "1.5", drawn once it is published.
    void findUpdate() {
        server.serve(200, appcast({{"1.5.0", "1.5"}}));
        updates->checkInBackground();
        ASSERT_TRUE(waitUntil([&] { return !updates->availableVersion().isEmpty(); }));
        spin(20);
    }

    StatusMonitor monitor{settings, exclusions, focus, apps};
    bool inputMonitoringGranted = true;
    PermissionsController permissions{
        {[] { return true; }, [this] { return inputMonitoringGranted; }, {}, {}, {}}};
    HttpServer server;
    std::unique_ptr<UpdateController> updates;
    std::unique_ptr<StatusBarController> controller;
    QList<UpdateCheckOutcome> presented;
    QList<QUrl> opened;
    int preferencesOpened = 0, onboardingOpened = 0;
    QList<bool> quitSawFlag;
};

enum class Scenario { active, disabledGlobally, inApp, onSite, inputLost, restartNeeded };
struct StateCase {
    Scenario scenario;
    bool update;
    bool bothPermissions;
};
class StatusBarStates : public StatusBarTest, public ::testing::WithParamInterface<StateCase> {};

// The state changes behind the controller's back; opening the menu must notice.
TEST_P(StatusBarStates, RowsTooltipAndIconFollowStatusUpdateAndPermissionsWhenTheMenuOpens) {
    const StateCase p = GetParam();
    StatusBarController& c = make();
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
    if (p.scenario == Scenario::inputLost) {
        monitor.setInputLost(true);
        header = QStringLiteral("Keyboard input lost — reconnecting…");
    }
    if (p.scenario == Scenario::restartNeeded) {
        permissions.setApplicationNeedingRestart(QStringLiteral("Chromium"));
        header =
            QStringLiteral("Restart Chromium to use Pimsel in it: it started before accessibility was on");
    }
    inputMonitoringGranted = p.bothPermissions;
    if (p.update)
        findUpdate();
    Q_EMIT c.menu()->aboutToShow();
    spin(20);

    EXPECT_EQ(visibleRows(*c.menu()),
              (p.update ? QStringLiteral("Update to v1.5|---|") : QString()) +
                  (header.isEmpty() ? "" : header + "|---|") + "Enabled|---|" +
                  (p.bothPermissions ? "" : "Finish Setup…|") +
                  "Preferences…|Test Pimsel…|Check for Updates…|---|Privacy: Local Only|Quit Pimsel");
    EXPECT_EQ(c.enabledItem()->isChecked(), p.scenario != Scenario::disabledGlobally);
    EXPECT_FALSE(c.headerItem()->isEnabled() || c.privacyItem()->isEnabled()) << "informative rows only";
    EXPECT_EQ(c.trayIcon()->toolTip(), p.update ? QStringLiteral("Pimsel — update available")
                                                : (header.isEmpty() ? QStringLiteral("Pimsel") : header));
    const bool dimmed = p.scenario != Scenario::active && p.scenario != Scenario::restartNeeded;
    EXPECT_EQ(c.isIconDimmed(), dimmed);
    EXPECT_EQ(c.isIconBadged(), p.update);
    const QImage shown = c.trayIcon()->icon().pixmap(QSize(22, 22)).toImage();
    EXPECT_EQ(shown, c.iconRenderer().render(22, dimmed, p.update).convertToFormat(shown.format()));
}

INSTANTIATE_TEST_SUITE_P(
    Everything, StatusBarStates,
    ::testing::Values(StateCase{Scenario::active, false, true}, StateCase{Scenario::active, true, true},
                      StateCase{Scenario::active, false, false},
                      StateCase{Scenario::disabledGlobally, false, true},
                      StateCase{Scenario::disabledGlobally, true, false},
                      StateCase{Scenario::inApp, false, true}, StateCase{Scenario::inApp, true, false},
                      StateCase{Scenario::onSite, false, false}, StateCase{Scenario::onSite, true, true},
                      StateCase{Scenario::inputLost, false, true},
                      StateCase{Scenario::restartNeeded, false, true}));

TEST_F(StatusBarTest, RowsActOnTheSettingTheirHooksAndTheUpdaterAndQuitSetsTheFlagFirst) {
    StatusBarController& c = make();
    for (const bool on : {false, true}) {
        c.enabledItem()->trigger();
        EXPECT_EQ(settings.enabled(), on);
        EXPECT_EQ(c.enabledItem()->isChecked(), on);
        spin(20); // the icon dims once the status is published
        EXPECT_EQ(c.isIconDimmed(), !on);
        EXPECT_EQ(c.trayIcon()->toolTip(), QStringLiteral("Pimsel"));
    }

    c.preferencesItem()->trigger();
    c.finishSetupItem()->trigger();
    c.testItem()->trigger();
    EXPECT_EQ(preferencesOpened, 1);
    EXPECT_EQ(onboardingOpened, 2);
    EXPECT_TRUE(quitSawFlag.isEmpty());
    c.quitItem()->trigger();
    EXPECT_EQ(quitSawFlag, QList<bool>{true});

    // The update row opens the release and the badge goes.
    findUpdate();
    c.updateItem()->trigger();
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/pimsel/releases/1.5.0"))});
    spin(20);
    EXPECT_FALSE(c.isIconBadged() || c.updateItem()->isVisible() || c.updateSeparator()->isVisible());
    EXPECT_EQ(c.trayIcon()->toolTip(), QStringLiteral("Pimsel"));
    // Asked from the menu, the answer goes to the dialog and leaves no badge.
    c.checkForUpdatesItem()->trigger();
    ASSERT_TRUE(waitUntil([&] { return !presented.isEmpty(); }));
    EXPECT_EQ(presented[0].kind, UpdateCheckOutcome::Kind::updateAvailable);
    spin(20);
    EXPECT_FALSE(c.isIconBadged());

    // Without hooks the requests are only logged; without an updater the update rows do nothing.
    c.setHooks({});
    c.preferencesItem()->trigger();
    c.testItem()->trigger();
    EXPECT_EQ(preferencesOpened + onboardingOpened, 3);
    StatusBarController& bare = make(false);
    bare.checkForUpdatesItem()->trigger();
    bare.installUpdate();
    spin(50);
    EXPECT_EQ(server.targets().size(), 2);
}

} // namespace
