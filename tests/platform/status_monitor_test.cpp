#include "engine/settings_store.h"
#include "platform/app_exclusion_manager.h"
#include "platform/application_watching.h"
#include "platform/status_monitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;

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
    std::optional<QUrl> currentBrowserURL() override {
        ++urlReads;
        return url;
    }

    std::optional<QUrl> url;
    int urlReads = 0;
};

void processQueued() {
    QCoreApplication::processEvents();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 2000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

const QString browser = QStringLiteral("chromium");
const QString terminal = QStringLiteral("org.gnome.Terminal");
const QString editor = QStringLiteral("org.gnome.TextEditor");

class StatusMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        defaults = std::make_unique<QSettings>(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        settings = std::make_unique<SettingsStore>(defaults.get());
        exclusions = std::make_unique<AppExclusionManager>(*settings);
    }

    StatusMonitor& makeMonitor(int pollMs = StatusMonitor::defaultSitePollIntervalMs) {
        monitor = std::make_unique<StatusMonitor>(*settings, *exclusions, focus, apps, nullptr, pollMs);
        QObject::connect(monitor.get(), &StatusMonitor::statusChanged,
                         [this](const ActivationStatus& s) { published.append(s); });
        return *monitor;
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> defaults;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<AppExclusionManager> exclusions;
    FakeApplications apps;
    FakeFocus focus;
    std::unique_ptr<StatusMonitor> monitor;
    QList<ActivationStatus> published;
};

TEST_F(StatusMonitorTest, GlobalSwitchWinsOverEveryOtherRule) {
    settings->setEnabled(false);
    settings->setDisabledWebsites({QStringLiteral("example.com")});
    apps.frontmost = terminal;
    apps.names.insert(terminal, QStringLiteral("Terminal"));
    EXPECT_EQ(makeMonitor().status(), ActivationStatus::disabledGlobally());

    apps.bringToFront(browser);
    focus.url = QUrl(QStringLiteral("https://example.com/"));
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledGlobally());

    // The switch is followed from the event loop, not inside the writer's call.
    settings->setEnabled(true);
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledGlobally());
    processQueued();
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledOnSite(QStringLiteral("example.com")));
}

TEST_F(StatusMonitorTest, ExcludedAppIsNamedByDisplayNameElseByIdentifier) {
    apps.names.insert(terminal, QStringLiteral("Terminal"));
    apps.names.insert(QStringLiteral("org.example.Nameless"), QString());
    settings->setDisabledApps({editor, QStringLiteral("org.example.Nameless")});
    apps.frontmost = terminal;
    makeMonitor();
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledInApp(QStringLiteral("Terminal")));

    apps.bringToFront(editor); // user-listed, cannot be located
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledInApp(editor));

    apps.bringToFront(QStringLiteral("org.example.Nameless")); // located, but its name is empty
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledInApp(QStringLiteral("org.example.Nameless")));

    apps.bringToFront(QStringLiteral("org.gnome.Calculator"));
    EXPECT_EQ(monitor->status(), ActivationStatus::active());

    apps.bringToFront(std::nullopt); // a window with no identifier
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
    EXPECT_EQ(published.size(), 3); // editor, nameless, calculator; the first came with construction
}

TEST_F(StatusMonitorTest, BrowserWithoutDisabledWebsitesIsActiveAndNotPolled) {
    apps.frontmost = browser;
    focus.url = QUrl(QStringLiteral("https://example.com/"));
    makeMonitor();
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
    EXPECT_FALSE(monitor->isSitePollRunning());
    EXPECT_EQ(focus.urlReads, 0);
}

TEST_F(StatusMonitorTest, SubdomainOfDisabledSiteReportsTheVisitedHost) {
    settings->setDisabledWebsites({QStringLiteral("example.com")});
    apps.frontmost = browser;
    focus.url = QUrl(QStringLiteral("https://Docs.Example.com:8443/guide?x=1"));
    makeMonitor();
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledOnSite(QStringLiteral("docs.example.com")));
    EXPECT_TRUE(monitor->isSitePollRunning());

    focus.url = QUrl(QStringLiteral("https://notexample.com/"));
    monitor->refresh();
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
}

TEST_F(StatusMonitorTest, CachedHostStandsInUntilANonBrowserComesToTheFront) {
    settings->setDisabledWebsites({QStringLiteral("example.com")});
    apps.frontmost = browser;
    focus.url = QUrl(QStringLiteral("https://example.com/a"));
    makeMonitor();
    ASSERT_EQ(monitor->status(), ActivationStatus::disabledOnSite(QStringLiteral("example.com")));

    focus.url.reset(); // the address cannot be read for a moment
    monitor->refresh();
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledOnSite(QStringLiteral("example.com")));
    focus.url = QUrl(QStringLiteral("about:blank")); // an address without a host counts as unreadable
    monitor->refresh();
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledOnSite(QStringLiteral("example.com")));
    EXPECT_EQ(monitor->lastKnownHost(), QStringLiteral("example.com"));

    apps.bringToFront(editor);
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
    EXPECT_FALSE(monitor->lastKnownHost().has_value());
    EXPECT_FALSE(monitor->isSitePollRunning());

    focus.url.reset();
    apps.bringToFront(browser); // the cache is gone, so the unreadable address means active
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
}

TEST_F(StatusMonitorTest, EmptyingTheWebsiteListForgetsTheCachedHost) {
    settings->setDisabledWebsites({QStringLiteral("example.com")});
    apps.frontmost = browser;
    focus.url = QUrl(QStringLiteral("https://example.com/"));
    makeMonitor();
    settings->setDisabledWebsites({});
    monitor->refresh();
    EXPECT_FALSE(monitor->lastKnownHost().has_value());
    EXPECT_FALSE(monitor->isSitePollRunning());
    settings->setDisabledWebsites({QStringLiteral("example.com")});
    focus.url.reset();
    monitor->refresh();
    EXPECT_EQ(monitor->status(), ActivationStatus::active());
}

TEST_F(StatusMonitorTest, RecomputingTheSameStatusPublishesNothing) {
    apps.frontmost = terminal;
    makeMonitor();
    ASSERT_EQ(monitor->status(), ActivationStatus::disabledInApp(terminal));
    monitor->refresh();
    monitor->refresh();
    EXPECT_EQ(published.size(), 0);
    apps.bringToFront(QStringLiteral("org.gnome.Console")); // another excluded app with a different name
    EXPECT_EQ(published.size(), 1);
    apps.bringToFront(QStringLiteral("org.gnome.Console"));
    monitor->refresh();
    EXPECT_EQ(published.size(), 1);
    EXPECT_EQ(published.last(), ActivationStatus::disabledInApp(QStringLiteral("org.gnome.Console")));
}

TEST_F(StatusMonitorTest, PollFollowsTheBrowsersAddressOnlyWhileNeeded) {
    settings->setDisabledWebsites({QStringLiteral("example.com")});
    apps.frontmost = browser;
    focus.url = QUrl(QStringLiteral("https://other.org/"));
    makeMonitor(20);
    ASSERT_EQ(monitor->status(), ActivationStatus::active());
    ASSERT_TRUE(monitor->isSitePollRunning());

    focus.url = QUrl(QStringLiteral("https://www.example.com/"));
    ASSERT_TRUE(waitFor([&] { return !monitor->status().isActive(); }))
        << "the poll never picked up the new site";
    EXPECT_EQ(monitor->status(), ActivationStatus::disabledOnSite(QStringLiteral("example.com")));

    apps.bringToFront(editor);
    ASSERT_FALSE(monitor->isSitePollRunning());
    const int readsAfterLeaving = focus.urlReads;
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 100)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(focus.urlReads, readsAfterLeaving);
}

TEST_F(StatusMonitorTest, NoTickArrivesAfterTheMonitorIsGone) {
    settings->setDisabledWebsites({QStringLiteral("example.com")});
    apps.frontmost = browser;
    makeMonitor(5);
    ASSERT_TRUE(monitor->isSitePollRunning());
    monitor.reset();
    const int reads = focus.urlReads;
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 50)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    apps.bringToFront(editor);
    EXPECT_EQ(focus.urlReads, reads);
}

} // namespace
