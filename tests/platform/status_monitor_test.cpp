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

    std::unique_ptr<StatusMonitor> monitor;
    QList<ActivationStatus> published;
};

// The rules in order: the global switch; the built-in applications (one of each group: password
// managers, terminals, remote desktops, virtual machines, own completion) and the user's, by exact
// identifier and read live; then, in a browser only, a disabled site and its subdomains.
TEST_F(StatusMonitorTest, EachRuleSilencesExactlyWhatItNames) {
    const struct {
        const char* front; // "" for a window without an identifier
        const char* url;
        ActivationStatus status;
        const char* userListed = "";
        bool enabled = true;
    } rows[] = {
        {"org.keepassxc.KeePassXC", "", ActivationStatus::disabledInApp("org.keepassxc.KeePassXC")},
        {"org.gnome.Terminal", "", ActivationStatus::disabledInApp("Terminal")},
        {"org.remmina.Remmina", "", ActivationStatus::disabledInApp("org.remmina.Remmina")},
        {"virt-manager", "", ActivationStatus::disabledInApp("virt-manager")},
        {"com.discordapp.Discord", "", ActivationStatus::disabledInApp("com.discordapp.Discord")},
        {"ORG.GNOME.TERMINAL", "", ActivationStatus::active()},
        {"org.gnome.TextEditor", "", ActivationStatus::disabledInApp(editor), "org.gnome.TextEditor"},
        {"org.gnome.texteditor", "", ActivationStatus::active(), "org.gnome.TextEditor"},
        {"org.gnome.TextEditor", "", ActivationStatus::active()},
        {"chromium", "https://a.b.example.com/guide", onSite("a.b.example.com")},
        {"firefox-esr", "https://Docs.Example.com:443/page", onSite("docs.example.com")},
        {"org.gnome.Epiphany", "https://www.example.com/", onSite("example.com")},
        {"chromium", "https://bbc.co.uk/", onSite("bbc.co.uk")},
        {"chromium", "https://example.com./", onSite("example.com")},
        {"chromium", "https://notexample.com/", ActivationStatus::active()},
        {"chromium", "https://example.com.evil.net/", ActivationStatus::active()},
        {"chromium", "https://example.co/", ActivationStatus::active()},
        {"org.gnome.TextEditor", "https://example.com/", ActivationStatus::active()},
        {"Chromium", "https://example.com/", ActivationStatus::active()},
        {"", "https://example.com/", ActivationStatus::active()},
        {"org.gnome.Terminal", "", ActivationStatus::disabledGlobally(), "", false},
        {"chromium", "https://example.com/", ActivationStatus::disabledGlobally(), "", false},
    };
    apps.names.insert(terminal, QStringLiteral("Terminal"));
    settings.setDisabledWebsites({QStringLiteral("example.com"), QStringLiteral("co.uk")});
    makeMonitor();
    for (const auto& row : rows) {
        settings.setEnabled(row.enabled);
        settings.setDisabledApps(*row.userListed ? QSet<QString>{row.userListed} : QSet<QString>{});
        focus.url = *row.url ? std::optional(QUrl(QString::fromUtf8(row.url))) : std::nullopt;
        apps.frontmost = *row.front ? std::optional(QString::fromUtf8(row.front)) : std::nullopt;
        monitor->refresh();
        EXPECT_EQ(monitor->status(), row.status) << row.front << " " << row.url;
    }
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
    settings.setEnabled(false);
    EXPECT_EQ(published.size(), 3) << "not inside the writer's call";
    QCoreApplication::processEvents();
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledGlobally());
}

// The visited host of a disabled site is named, and stands in while the address cannot be read;
// the address is read only while a browser is in front and some site is disabled.
TEST_F(StatusMonitorTest, SiteRuleFollowsTheAddressOnlyWhileABrowserIsInFrontAndSomeSiteIsDisabled) {
    apps.frontmost = browser;
    focus.url = QUrl(QStringLiteral("https://example.com/"));
    makeMonitor(5);
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
    spin(30);
    EXPECT_EQ(focus.urlReads, 0);

    settings.setDisabledWebsites({QStringLiteral("example.com")});
    focus.url = QUrl(QStringLiteral("https://notexample.com/"));
    makeMonitor(20);
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
    focus.url = QUrl(QStringLiteral("https://example.com/"));
    ASSERT_TRUE(waitUntil([&] { return monitor->status() == onSite("example.com"); }, 2000))
        << "the poll missed the new site";
    focus.url.reset();
    monitor->refresh();
    EXPECT_EQ(monitor->status(), onSite("example.com")) << "an unreadable address";
    apps.bringToFront(editor);
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
    const int reads = focus.urlReads;
    spin(100);
    EXPECT_EQ(focus.urlReads, reads);
    apps.bringToFront(browser);
    EXPECT_EQ(monitor->status(), ActivationStatus::active()) << "the last host went with the browser";
}

TEST(PermissionsControllerTest, WaylandOrNoDisplayMeansNoInputMonitoring) {
    const QByteArray savedType = qgetenv("XDG_SESSION_TYPE"), savedDisplay = qgetenv("DISPLAY");
    for (const auto& [type, display] : {std::pair{"wayland", ":0"}, {"x11", ":4711"}}) {
        qputenv("XDG_SESSION_TYPE", type);
        *display ? qputenv("DISPLAY", display) : qunsetenv("DISPLAY"); // nothing listens on :4711
        EXPECT_FALSE(PermissionsController::x11InputAvailable()) << type << ' ' << display;
    }
    savedType.isNull() ? qunsetenv("XDG_SESSION_TYPE") : qputenv("XDG_SESSION_TYPE", savedType);
    savedDisplay.isNull() ? qunsetenv("DISPLAY") : qputenv("DISPLAY", savedDisplay);
}

} // namespace
