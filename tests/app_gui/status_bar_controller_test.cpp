#include "app/onboarding_window_controller.h"
#include "app/status_bar_controller.h"
#include "app/update_controller.h"
#include "platform/permissions_controller.h"
#include "platform/status_monitor.h"
#include "ui/onboarding_view.h"
#include "ui/toggle_switch.h"

#include "support/http_server.h"
#include "support/status_fakes.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

using namespace pimsel;
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

struct StatusBarTest : public ::testing::Test, public StatusSurroundings {
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
        server.serve(200, "<rss><channel><item><link>https://example.org/1.5</link><version>1.5.0</version>"
                          "<shortVersionString>1.5</shortVersionString></item></channel></rss>");
        updates->checkInBackground();
        ASSERT_TRUE(waitUntil([&] { return !updates->availableVersion().isEmpty(); }));
        spin(20);
    }

    StatusMonitor monitor{settings, exclusions, focus, apps};
    bool accessibilityGranted = true, inputMonitoringGranted = true, inputMethod = false;
    int accessibilityRequests = 0;
    QList<QUrl> settingsOpened;
    PermissionsController permissions{
        {[this] { return accessibilityGranted; }, [this] { return inputMonitoringGranted; },
         [](const QString&, const QStringList&) { return false; }, [](const QString&) { return QString(); },
         [this](const QUrl& url) { return settingsOpened.append(url), true; },
         [this] {
             ++accessibilityRequests;
             accessibilityGranted = true;
         },
         [this] { return inputMethod; }}};
    HttpServer server;
    std::unique_ptr<UpdateController> updates;
    std::unique_ptr<StatusBarController> controller;
    QList<UpdateCheckOutcome> presented;
    QList<QUrl> opened;
    int preferencesOpened = 0, onboardingOpened = 0;
    QList<bool> quitSawFlag;
};

// What changes behind the controller's back, the header row that brings and whether the icon dims.
struct StateCase {
    const char* header;
    bool dimmed, update, bothPermissions;
    void (*change)(StatusBarTest&) = [](StatusBarTest&) {};
};
class StatusBarStates : public StatusBarTest, public ::testing::WithParamInterface<StateCase> {};

// Opening the menu must notice.
TEST_P(StatusBarStates, RowsTooltipAndIconFollowStatusUpdateAndPermissionsWhenTheMenuOpens) {
    const StateCase p = GetParam();
    StatusBarController& c = make();
    p.change(*this);
    inputMonitoringGranted = p.bothPermissions;
    if (p.update)
        findUpdate();
    Q_EMIT c.menu()->aboutToShow();
    spin(20);

    const QString header = QString::fromUtf8(p.header);
    EXPECT_EQ(visibleRows(*c.menu()),
              (p.update ? QStringLiteral("Update to v1.5|---|") : QString()) +
                  (header.isEmpty() ? "" : header + "|---|") + "Enabled|---|" +
                  (p.bothPermissions ? "" : "Finish Setup…|") +
                  "Preferences…|Test Pimsel…|Check for Updates…|---|Privacy: Local Only|Quit Pimsel");
    EXPECT_EQ(c.enabledItem()->isChecked(), settings.enabled());
    EXPECT_FALSE(c.headerItem()->isEnabled() || c.privacyItem()->isEnabled()) << "informative rows only";
    EXPECT_EQ(c.trayIcon()->toolTip(), p.update ? QStringLiteral("Pimsel — update available")
                                                : (header.isEmpty() ? QStringLiteral("Pimsel") : header));
    EXPECT_EQ(c.isIconDimmed(), p.dimmed);
    EXPECT_EQ(c.isIconBadged(), p.update);
}

INSTANTIATE_TEST_SUITE_P(
    Everything, StatusBarStates,
    ::testing::Values(
        StateCase{"", false, false, true}, StateCase{"", false, true, true},
        StateCase{"", true, true, false, [](StatusBarTest& t) { t.settings.setEnabled(false); }},
        StateCase{"Disabled in Terminal", true, false, true,
                  [](StatusBarTest& t) { t.apps.frontmost = QStringLiteral("org.gnome.Terminal"); }},
        StateCase{"Disabled on docs.example.org", true, false, false,
                  [](StatusBarTest& t) {
                      t.settings.setDisabledWebsites({QStringLiteral("example.org")});
                      t.apps.frontmost = QStringLiteral("chromium");
                      t.focus.url = QUrl(QStringLiteral("https://docs.example.org/guide?x=1"));
                  }},
        StateCase{"Keyboard input lost — reconnecting…", true, false, true,
                  [](StatusBarTest& t) { t.monitor.setInputLost(true); }},
        StateCase{"Restart Chromium to use Pimsel in it: it started before accessibility was on", false,
                  false, true, [](StatusBarTest& t) {
                      t.permissions.setApplicationNeedingRestart(QStringLiteral("Chromium"));
                  }}));

TEST_F(StatusBarTest, RowsActOnTheSettingTheirHooksAndTheUpdaterAndQuitSetsTheFlagFirst) {
    StatusBarController& c = make();
    for (const bool on : {false, true}) {
        c.enabledItem()->trigger();
        spin(20); // the icon dims once the status is published
        EXPECT_TRUE(settings.enabled() == on && c.enabledItem()->isChecked() == on &&
                    c.isIconDimmed() == !on);
    }

    c.preferencesItem()->trigger();
    c.finishSetupItem()->trigger();
    c.testItem()->trigger();
    EXPECT_EQ(preferencesOpened, 1);
    EXPECT_EQ(onboardingOpened, 2);
    EXPECT_TRUE(quitSawFlag.isEmpty());
    c.quitItem()->trigger();
    EXPECT_EQ(quitSawFlag, QList<bool>{true});

    // The update row and "Check for Updates…" both answer in the update dialog, never in the
    // browser; once the dialog has shown the release, the badge goes.
    for (QAction* row : {c.updateItem(), c.checkForUpdatesItem()}) {
        findUpdate();
        const qsizetype shown = presented.size();
        row->trigger();
        ASSERT_TRUE(waitUntil([&] { return presented.size() > shown; }));
        EXPECT_EQ(presented.last().kind, UpdateCheckOutcome::Kind::updateAvailable);
        spin(20);
        EXPECT_FALSE(c.isIconBadged() || c.updateItem()->isVisible() || c.updateSeparator()->isVisible());
    }
    EXPECT_TRUE(opened.isEmpty());

    // Without an updater the update rows do nothing.
    StatusBarController& bare = make(false);
    bare.checkForUpdatesItem()->trigger();
    bare.installUpdate();
    spin(50);
    EXPECT_EQ(server.targets().size(), 4);
}

// "Finish Setup…" and "Test Pimsel…" open one onboarding window, kept and reused. Its rows follow the
// permissions; "Request Access" switches accessibility on and the row turns "Granted" at once;
// input monitoring cannot be requested, so its row says what is missing. The update switch is
// the updater's. (Typing in its try field is the desktop lifecycle scenario's.)
TEST_F(StatusBarTest, OnboardingFollowsThePermissionsAndTheUpdateSwitch) {
    using Step = OnboardingViewModel::Step;
    accessibilityGranted = inputMonitoringGranted = false;
    StatusBarController& c = make();
    OnboardingWindowController onboarding(permissions, updates.get());
    c.setHooks({{}, [&] { onboarding.show(); }, {}});
    c.finishSetupItem()->trigger();
    QWidget* window = onboarding.window();
    c.testItem()->trigger();
    ASSERT_TRUE(onboarding.isVisible());
    EXPECT_EQ(onboarding.window(), window);

    OnboardingView& view = *onboarding.view();
    EXPECT_FALSE(view.requestButton(Step::inputMonitoring)->isVisible()) << "nothing to ask on X11";
    view.settingsButton(Step::inputMonitoring)->click();
    EXPECT_EQ(settingsOpened, QList<QUrl>{QUrl(PermissionsController::inputMonitoringSettingsAddress)});

    view.requestButton(Step::accessibility)->click();
    EXPECT_EQ(accessibilityRequests, 1);
    EXPECT_TRUE(view.grantedLabel(Step::accessibility)->isVisible() &&
                !view.requestButton(Step::accessibility)->isVisible());
    inputMonitoringGranted = true;
    permissions.refresh();
    EXPECT_TRUE(view.grantedLabel(Step::inputMonitoring)->isVisible() &&
                !view.problemLabel(Step::inputMonitoring)->isVisible());
    // Without X11 keys, fcitx5 running the module grants them, and both windows name that route.
    inputMonitoringGranted = false;
    inputMethod = true;
    permissions.refresh();
    EXPECT_EQ(view.grantedLabel(Step::inputMonitoring)->text(),
              QStringLiteral("Granted: keys through fcitx5"));
    spin(20);
    EXPECT_FALSE(c.finishSetupItem()->isVisible());
    EXPECT_EQ(c.trayIcon()->toolTip(), QStringLiteral("Pimsel — keys through fcitx5"));

    for (const bool on : {false, true}) {
        view.updateToggle()->click();
        EXPECT_TRUE(updates->automaticallyChecksForUpdates() == on &&
                    defaults.value(QLatin1String(UpdateController::automaticChecksKey)).toBool() == on);
    }
    updates->setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(view.updateToggle()->isChecked());

    onboarding.window()->close();
    EXPECT_FALSE(onboarding.isVisible());
}

} // namespace
