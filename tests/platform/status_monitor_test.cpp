#include "platform/permissions_controller.h"
#include "platform/status_monitor.h"

#include "support/event_loop.h"
#include "support/status_fakes.h"

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;

namespace {

const QString browser = QStringLiteral("chromium");
const QString terminal = QStringLiteral("org.gnome.Terminal");
const QString editor = QStringLiteral("org.gnome.TextEditor");
const auto onSite = [](const char* host) {
    return ActivationStatus::disabledOnSite(QString::fromUtf8(host));
};

class StatusMonitorTest : public ::testing::Test, public StatusSurroundings {
protected:
    StatusMonitor& makeMonitor(int pollMs = StatusMonitor::defaultSitePollIntervalMs) {
        monitor = std::make_unique<StatusMonitor>(settings, exclusions, focus, apps, nullptr, pollMs);
        QObject::connect(monitor.get(), &StatusMonitor::statusChanged,
                         [this](const ActivationStatus& s) { published.append(s); });
        return *monitor;
    }
    // The browser is in front, showing `url`, while example.com is disabled.
    StatusMonitor& onExample(const char* url, int pollMs = StatusMonitor::defaultSitePollIntervalMs) {
        settings.setDisabledWebsites({QStringLiteral("example.com")});
        apps.frontmost = browser;
        focus.url = QUrl(QString::fromUtf8(url));
        return makeMonitor(pollMs);
    }

    std::unique_ptr<StatusMonitor> monitor;
    QList<ActivationStatus> published;
};

TEST_F(StatusMonitorTest, GlobalSwitchWinsOverEveryOtherRuleAndIsFollowedFromTheEventLoop) {
    settings.setEnabled(false);
    apps.names.insert(terminal, QStringLiteral("Terminal"));
    onExample("https://example.com/");
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledGlobally());
    apps.bringToFront(terminal);
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledGlobally());
    apps.bringToFront(browser);
    settings.setEnabled(true);
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledGlobally()) << "not inside the writer's call";
    QCoreApplication::processEvents();
    EXPECT_EQ(monitor->status(), onSite("example.com"));
}

TEST_F(StatusMonitorTest, FollowsTheFrontAppNamingItByDisplayNameElseByIdAndPublishesOnlyChanges) {
    apps.names.insert(terminal, QStringLiteral("Terminal"));
    apps.names.insert(QStringLiteral("org.example.Nameless"), QString());
    settings.setDisabledApps({editor, QStringLiteral("org.example.Nameless")});
    apps.frontmost = terminal;
    makeMonitor();
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledInApp(QStringLiteral("Terminal")));
    monitor->refresh();
    EXPECT_TRUE(published.isEmpty()) << "the same status again is no news";
    const struct {
        std::optional<QString> front;
        ActivationStatus status;
    } steps[] = {
        {editor, ActivationStatus::disabledInApp(editor)}, // user-listed, cannot be located
        {editor, ActivationStatus::disabledInApp(editor)},
        {QStringLiteral("org.example.Nameless"), ActivationStatus::disabledInApp("org.example.Nameless")},
        {QStringLiteral("org.gnome.Calculator"), ActivationStatus::active()},
        {std::nullopt, ActivationStatus::active()}, // a window without an identifier
    };
    for (const auto& step : steps) {
        apps.bringToFront(step.front);
        EXPECT_EQ(monitor->status(), step.status) << step.front.value_or("none").toStdString();
    }
    EXPECT_EQ(published, (QList<ActivationStatus>{steps[0].status, steps[2].status, steps[3].status}));
}

TEST_F(StatusMonitorTest, DisabledSiteNamesTheVisitedHostAndACachedHostStandsInForAnUnreadableOne) {
    onExample("https://Docs.Example.com:8443/guide?x=1");
    EXPECT_EQ(monitor->status(), onSite("docs.example.com"));
    EXPECT_TRUE(monitor->isSitePollRunning());
    focus.url = QUrl(QStringLiteral("https://notexample.com/"));
    monitor->refresh();
    EXPECT_EQ(monitor->status(), ActivationStatus::active());

    focus.url = QUrl(QStringLiteral("https://example.com/a"));
    monitor->refresh();
    for (const std::optional<QUrl>& unreadable :
         {std::optional<QUrl>(), std::optional(QUrl("about:blank"))}) {
        focus.url = unreadable;
        monitor->refresh();
        EXPECT_EQ(monitor->status(), onSite("example.com"));
    }
    apps.bringToFront(editor);
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
    EXPECT_FALSE(monitor->lastKnownHost() || monitor->isSitePollRunning());
    apps.bringToFront(browser);
    EXPECT_EQ(monitor->status(), ActivationStatus::active()) << "the cache went with the browser";

    focus.url = QUrl(QStringLiteral("https://example.com/"));
    monitor->refresh();
    settings.setDisabledWebsites({});
    monitor->refresh();
    EXPECT_FALSE(monitor->lastKnownHost() || monitor->isSitePollRunning());
    settings.setDisabledWebsites({QStringLiteral("example.com")});
    focus.url.reset();
    monitor->refresh();
    EXPECT_EQ(monitor->status(), ActivationStatus::active()) << "an emptied list forgets the host";
}

TEST_F(StatusMonitorTest, AddressIsPolledOnlyWhileABrowserIsInFrontAndSomeSiteIsDisabled) {
    apps.frontmost = browser;
    focus.url = QUrl(QStringLiteral("https://example.com/"));
    makeMonitor(5);
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
    EXPECT_FALSE(monitor->isSitePollRunning());
    spin(30);
    EXPECT_EQ(focus.urlReads, 0);

    onExample("https://other.org/", 20);
    ASSERT_TRUE(monitor->isSitePollRunning());
    focus.url = QUrl(QStringLiteral("https://www.example.com/"));
    ASSERT_TRUE(waitUntil([&] { return !monitor->status().isActive(); }, 2000))
        << "the poll missed the new site";
    EXPECT_EQ(monitor->status(), onSite("example.com"));
    apps.bringToFront(editor);
    EXPECT_FALSE(monitor->isSitePollRunning());
    int reads = focus.urlReads;
    spin(100);
    EXPECT_EQ(focus.urlReads, reads);

    apps.bringToFront(browser);
    ASSERT_TRUE(monitor->isSitePollRunning());
    monitor.reset();
    reads = focus.urlReads;
    spin(50);
    apps.bringToFront(editor);
    EXPECT_EQ(focus.urlReads, reads) << "no tick arrives after the monitor is gone";
}

// The permission flags and where the user is sent to grant them.
struct Desktop {
    bool accessibility = false, inputMonitoring = false;
    int inputProbes = 0;
    QStringList installed; // programs findProgram knows
    QStringList startable; // programs startProgram manages to start
    QStringList started;   // "program argument" of every start attempt
    QList<QUrl> opened;

    PermissionsController::Probes probes() {
        PermissionsController::Probes p;
        p.accessibility = [this] { return accessibility; };
        p.inputMonitoring = [this] { return ++inputProbes, inputMonitoring; };
        p.findProgram = [this](const QString& name) {
            return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
        };
        p.startProgram = [this](const QString& program, const QStringList& args) {
            started.append(program + u' ' + args.join(u' '));
            return startable.contains(program);
        };
        p.openUrl = [this](const QUrl& url) { return opened.append(url), true; };
        return p;
    }
};

TEST(PermissionsControllerTest, BothFlagsAreReadBeforeEitherIsPublishedAndOnlyRealChangesArePublished) {
    Desktop desktop;
    PermissionsController controller(desktop.probes());
    QStringList published; // each flag with the number of input probes made by then
    QObject::connect(&controller, &PermissionsController::accessibilityGrantedChanged,
                     [&](bool on) { published << QString("a%1@%2").arg(on).arg(desktop.inputProbes); });
    QObject::connect(&controller, &PermissionsController::inputMonitoringGrantedChanged,
                     [&](bool on) { published << QString("i%1@%2").arg(on).arg(desktop.inputProbes); });
    for (const auto& [accessibility, input] :
         {std::pair{false, false}, {false, true}, {false, true}, {true, false}}) {
        desktop.accessibility = accessibility, desktop.inputMonitoring = input;
        controller.refresh();
        EXPECT_EQ(controller.accessibilityGranted(), accessibility);
        EXPECT_EQ(controller.inputMonitoringGranted(), input);
    }
    EXPECT_EQ(published.join(' '), QStringLiteral("i1@2 a1@4 i0@4"));
}

TEST(PermissionsControllerTest, AccessibilitySettingsPreferTheDesktopsOwnPanelAndInputHelpItsAddress) {
    const QString gnome = QStringLiteral("gnome-control-center"), kde = QStringLiteral("systemsettings");
    const QUrl accessibilityPage(PermissionsController::accessibilitySettingsAddress);
    const struct {
        QStringList installed, startable, started;
        QList<QUrl> opened;
    } cases[] = {
        {{gnome, kde}, {"/usr/bin/" + gnome}, {"/usr/bin/gnome-control-center universal-access"}, {}},
        // GNOME's panel is installed but will not start: KDE's is next.
        {{gnome, kde},
         {"/usr/bin/" + kde},
         {"/usr/bin/gnome-control-center universal-access", "/usr/bin/systemsettings kcm_access"},
         {}},
        {{}, {}, {}, {accessibilityPage}},
    };
    for (const auto& c : cases) {
        Desktop desktop;
        desktop.installed = c.installed, desktop.startable = c.startable;
        PermissionsController(desktop.probes()).openSystemSettings(accessibilityPage.toString());
        EXPECT_EQ(desktop.started, c.started);
        EXPECT_EQ(desktop.opened, c.opened);
    }

    Desktop desktop;
    desktop.installed = {gnome}, desktop.startable = {"/usr/bin/" + gnome};
    PermissionsController controller(desktop.probes());
    for (const QString& address : {PermissionsController::inputMonitoringSettingsAddress, QString()})
        controller.openSystemSettings(address);
    EXPECT_TRUE(desktop.started.isEmpty());
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl(PermissionsController::inputMonitoringSettingsAddress)});
}

TEST(PermissionsControllerTest, WaylandOrNoDisplayMeansNoInputMonitoring) {
    const QByteArray savedType = qgetenv("XDG_SESSION_TYPE"), savedDisplay = qgetenv("DISPLAY");
    for (const auto& [type, display] : {std::pair{"wayland", ":0"}, {"x11", ""}, {"x11", ":4711"}}) {
        qputenv("XDG_SESSION_TYPE", type);
        *display ? qputenv("DISPLAY", display) : qunsetenv("DISPLAY"); // nothing listens on :4711
        EXPECT_FALSE(PermissionsController::x11InputAvailable()) << type << ' ' << display;
    }
    savedType.isNull() ? qunsetenv("XDG_SESSION_TYPE") : qputenv("XDG_SESSION_TYPE", savedType);
    savedDisplay.isNull() ? qunsetenv("DISPLAY") : qputenv("DISPLAY", savedDisplay);
}

} // namespace
