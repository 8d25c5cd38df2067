#include "app/status_bar_controller.h"
#include "app/update_controller.h"
#include "engine/settings_store.h"
#include "platform/app_exclusion_manager.h"
#include "platform/application_watching.h"
#include "platform/permissions_controller.h"
#include "platform/status_monitor.h"

#include "feed_server.h"

#include <QAction>
#include <QHash>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;
using pimsel::testing::appcast;
using pimsel::testing::FeedServer;
using pimsel::testing::spin;
using pimsel::testing::waitUntil;

namespace {

class FakeApplications : public ApplicationWatching {
public:
    std::optional<QString> frontmostApplicationId() const override { return frontmost; }
    std::optional<QString> displayName(const QString& appId) const override {
        if (!names.contains(appId))
            return std::nullopt;
        return names.value(appId);
    }
    void bringToFront(const std::optional<QString>& id) {
        frontmost = id;
        Q_EMIT frontmostApplicationChanged(id.value_or(QString()));
    }

    std::optional<QString> frontmost;
    QHash<QString, QString> names;
};

class FakeFocus : public FocusContextProviding {
public:
    bool isSecureFieldFocused() override { return false; }
    std::optional<QRect> caretRect() override { return std::nullopt; }
    std::optional<QUrl> currentBrowserURL() override { return url; }

    std::optional<QUrl> url;
};

const QString editor = QStringLiteral("org.gnome.TextEditor");
const QString terminal = QStringLiteral("org.gnome.Terminal");
const QString browser = QStringLiteral("chromium");

void processQueued() {
    spin(20);
}

// One menu row as the user sees it.
struct Row {
    QString text;
    bool separator;
    bool visible;
    bool enabled;
    bool checked;
};

QList<Row> rows(const QMenu& menu) {
    QList<Row> result;
    const QList<QAction*> actions = menu.actions();
    for (const QAction* a : actions)
        result.append({a->text(), a->isSeparator(), a->isVisible(), a->isEnabled(), a->isChecked()});
    return result;
}

// The titles of the rows that are shown, separators as "---".
QStringList visibleTitles(const QMenu& menu) {
    QStringList titles;
    for (const Row& row : rows(menu)) {
        if (row.visible)
            titles.append(row.separator ? QStringLiteral("---") : row.text);
    }
    return titles;
}

class StatusBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        defaults = std::make_unique<QSettings>(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        settings = std::make_unique<SettingsStore>(defaults.get());
        exclusions = std::make_unique<AppExclusionManager>(*settings);
        apps.frontmost = editor;
        apps.names.insert(terminal, QStringLiteral("Terminal"));
        PermissionsController::Probes probes;
        probes.accessibility = [this] { return accessibilityGranted; };
        probes.inputMonitoring = [this] { return inputMonitoringGranted; };
        permissions = std::make_unique<PermissionsController>(probes);
    }

    void TearDown() override {
        controller.reset();
        updates.reset();
        monitor.reset();
    }

    StatusBarController& make(bool withUpdates = true) {
        monitor = std::make_unique<StatusMonitor>(*settings, *exclusions, focus, apps);
        permissions->refresh();
        if (withUpdates) {
            UpdateController::Options options;
            options.feedUrl = server.url();
            options.currentVersion = QStringLiteral("1.4.0");
            options.requestTimeoutMs = 2000;
            options.presentManualOutcome = [this](const UpdateCheckOutcome& o) { presented.append(o); };
            options.openUrl = [this](const QUrl& url) {
                opened.append(url);
                return true;
            };
            updates = std::make_unique<UpdateController>(defaults.get(), options);
        }
        StatusBarController::Hooks hooks;
        hooks.openPreferences = [this] { ++preferencesOpened; };
        hooks.openOnboarding = [this] { ++onboardingOpened; };
        hooks.terminate = [this] { quitSawFlag.append(controller->isQuitting()); };
        controller =
            std::make_unique<StatusBarController>(*monitor, *settings, *permissions, updates.get(), hooks);
        return *controller;
    }

    // A background check that finds 1.5 ("1.5" is its display version), drawn once it is published.
    void findUpdate() {
        server.serve(200, appcast({{"1.5.0", "1.5"}}));
        updates->checkInBackground();
        ASSERT_TRUE(waitUntil([&] { return !updates->availableVersion().isEmpty(); }));
        processQueued();
    }

    void openMenu() { Q_EMIT controller->menu()->aboutToShow(); }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> defaults;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<AppExclusionManager> exclusions;
    FakeApplications apps;
    FakeFocus focus;
    bool accessibilityGranted = true;
    bool inputMonitoringGranted = true;
    std::unique_ptr<PermissionsController> permissions;
    std::unique_ptr<StatusMonitor> monitor;
    FeedServer server;
    std::unique_ptr<UpdateController> updates;
    std::unique_ptr<StatusBarController> controller;
    QList<UpdateCheckOutcome> presented;
    QList<QUrl> opened;
    int preferencesOpened = 0;
    int onboardingOpened = 0;
    QList<bool> quitSawFlag;
};

TEST_F(StatusBarTest, MenuHasItsThirteenRowsInOrder) {
    StatusBarController& c = make();
    const QList<Row> all = rows(*c.menu());
    ASSERT_EQ(all.size(), 13);
    const bool separators[13] = {false, true,  false, true, false, true, false,
                                 false, false, false, true, false, false};
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(all[i].separator, separators[i]) << "row " << i + 1;
    EXPECT_EQ(all[4].text, QStringLiteral("Enabled"));
    EXPECT_EQ(all[6].text, QStringLiteral("Finish Setup…"));
    EXPECT_EQ(all[7].text, QStringLiteral("Preferences…"));
    EXPECT_EQ(all[8].text, QStringLiteral("Test Pimsel…"));
    EXPECT_EQ(all[9].text, QStringLiteral("Check for Updates…"));
    EXPECT_EQ(all[11].text, QStringLiteral("Privacy: Local Only"));
    EXPECT_EQ(all[12].text, QStringLiteral("Quit Pimsel"));
    EXPECT_FALSE(all[2].enabled) << "the header only explains";
    EXPECT_FALSE(all[11].enabled) << "the privacy row only informs";
    EXPECT_TRUE(c.enabledItem()->isCheckable());
    EXPECT_EQ(c.preferencesItem()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(c.menu()->actions()[0], c.updateItem());
    EXPECT_EQ(c.menu()->actions()[2], c.headerItem());
    EXPECT_EQ(c.trayIcon()->contextMenu(), c.menu());
}

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
    QString reason;
    switch (p.scenario) {
    case Scenario::active:
        break;
    case Scenario::disabledGlobally:
        settings->setEnabled(false);
        break;
    case Scenario::inApp:
        apps.frontmost = terminal;
        header = QStringLiteral("Disabled in Terminal");
        break;
    case Scenario::onSite:
        settings->setDisabledWebsites({QStringLiteral("example.org")});
        apps.frontmost = browser;
        focus.url = QUrl(QStringLiteral("https://docs.example.org/guide?x=1"));
        header = QStringLiteral("Disabled on docs.example.org");
        break;
    }
    inputMonitoringGranted = p.bothPermissions;
    StatusBarController& c = make();
    if (p.update)
        findUpdate();
    openMenu();

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

    const QString tooltip = p.update ? QStringLiteral("Pimsel — update available")
                                     : (header.isEmpty() ? QStringLiteral("Pimsel") : header);
    EXPECT_EQ(c.toolTip(), tooltip);
    EXPECT_EQ(c.trayIcon()->toolTip(), tooltip);

    const bool dimmed = p.scenario != Scenario::active;
    EXPECT_EQ(c.isIconDimmed(), dimmed);
    EXPECT_EQ(c.isIconBadged(), p.update);
    const QImage shown = c.trayIcon()->icon().pixmap(QSize(22, 22)).toImage();
    EXPECT_EQ(shown, c.iconRenderer().render(22, dimmed, p.update).convertToFormat(shown.format()))
        << "the tray shows a different variant";
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
    ASSERT_TRUE(c.enabledItem()->isChecked());
    ASSERT_FALSE(c.isIconDimmed());

    c.enabledItem()->trigger();
    EXPECT_FALSE(settings->enabled());
    EXPECT_FALSE(c.enabledItem()->isChecked());
    processQueued();
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledGlobally());
    EXPECT_TRUE(c.isIconDimmed());
    EXPECT_EQ(c.toolTip(), QStringLiteral("Pimsel"));
    EXPECT_EQ(defaults->value(QStringLiteral("pimsel.enabled")).toBool(), false);

    c.enabledItem()->trigger();
    EXPECT_TRUE(settings->enabled());
    EXPECT_TRUE(c.enabledItem()->isChecked());
    processQueued();
    EXPECT_FALSE(c.isIconDimmed());
}

TEST_F(StatusBarTest, OpeningTheMenuRechecksPermissionsAndStatus) {
    inputMonitoringGranted = false;
    StatusBarController& c = make();
    EXPECT_TRUE(c.finishSetupItem()->isVisible());

    // Granted behind the controller's back: nothing changes until the menu opens.
    inputMonitoringGranted = true;
    apps.frontmost = terminal; // no activation signal either
    processQueued();
    EXPECT_TRUE(c.finishSetupItem()->isVisible());
    EXPECT_FALSE(c.headerItem()->isVisible());

    openMenu();
    EXPECT_FALSE(c.finishSetupItem()->isVisible());
    EXPECT_TRUE(permissions->inputMonitoringGranted());
    EXPECT_TRUE(c.headerItem()->isVisible());
    EXPECT_EQ(c.headerItem()->text(), QStringLiteral("Disabled in Terminal"));
    processQueued();
    EXPECT_TRUE(c.isIconDimmed());
    EXPECT_EQ(c.toolTip(), QStringLiteral("Disabled in Terminal"));
}

TEST_F(StatusBarTest, WindowRowsReachTheirHooks) {
    StatusBarController& c = make();
    c.preferencesItem()->trigger();
    c.finishSetupItem()->trigger();
    c.testItem()->trigger();
    EXPECT_EQ(preferencesOpened, 1);
    EXPECT_EQ(onboardingOpened, 2);
    EXPECT_TRUE(quitSawFlag.isEmpty());
}

TEST_F(StatusBarTest, QuitSetsTheFlagBeforeTerminating) {
    StatusBarController& c = make();
    EXPECT_FALSE(c.isQuitting());
    c.quitItem()->trigger();
    EXPECT_EQ(quitSawFlag, QList<bool>{true});
    EXPECT_TRUE(c.isQuitting());
}

TEST_F(StatusBarTest, UpdateRowOpensTheReleaseAndTheBadgeGoes) {
    StatusBarController& c = make();
    findUpdate();
    ASSERT_TRUE(c.isIconBadged());
    ASSERT_TRUE(c.updateItem()->isVisible());
    EXPECT_EQ(c.updateItem()->text(), QStringLiteral("Update to v1.5"));

    c.updateItem()->trigger();
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/pimsel/releases/1.5.0"))});
    processQueued();
    EXPECT_FALSE(c.isIconBadged());
    EXPECT_FALSE(c.updateItem()->isVisible());
    EXPECT_FALSE(c.updateSeparator()->isVisible());
    EXPECT_EQ(c.toolTip(), QStringLiteral("Pimsel"));
}

TEST_F(StatusBarTest, CheckForUpdatesAsksAndShowsTheAnswerWithoutABadge) {
    StatusBarController& c = make();
    server.serve(200, appcast({{"1.5.0", "1.5"}}));
    c.checkForUpdatesItem()->trigger();
    ASSERT_TRUE(waitUntil([&] { return !presented.isEmpty(); }));
    EXPECT_EQ(presented[0].kind, UpdateCheckOutcome::Kind::updateAvailable);
    processQueued();
    EXPECT_FALSE(c.isIconBadged());
    EXPECT_FALSE(c.updateItem()->isVisible());
}

TEST_F(StatusBarTest, WithoutAnUpdaterTheUpdateRowsDoNothing) {
    StatusBarController& c = make(false);
    EXPECT_FALSE(c.updateItem()->isVisible());
    c.checkForUpdatesItem()->trigger();
    c.installUpdate();
    processQueued();
    EXPECT_FALSE(c.isIconBadged());
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(StatusBarTest, WithoutWindowHooksTheRequestIsOnlyLogged) {
    StatusBarController& c = make();
    c.setHooks({});
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& message) {
            if (QLatin1String(context.category) == QLatin1String("pimsel.statusmenu"))
                logged.append(message);
        });
    c.preferencesItem()->trigger();
    c.testItem()->trigger();
    qInstallMessageHandler(previous);
    ASSERT_EQ(logged.size(), 2);
    EXPECT_TRUE(logged[0].contains(QStringLiteral("Preferences")));
    EXPECT_TRUE(logged[1].contains(QStringLiteral("Onboarding")));
    EXPECT_EQ(preferencesOpened, 0);
    EXPECT_EQ(onboardingOpened, 0);
}

} // namespace
