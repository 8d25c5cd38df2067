#include "app/update_controller.h"

#include "feed_server.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;
using pimsel::testing::appcast;
using pimsel::testing::FeedServer;
using pimsel::testing::spin;
using pimsel::testing::waitUntil;

namespace {

// ---- Reading the feed ----

TEST(Appcast, ReadsVersionsFromEnclosureAttributesOrElements) {
    const QByteArray xml =
        R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel>
 <item><title>A</title><link>https://example.org/a</link>
   <enclosure url="https://example.org/a.tar.gz" sparkle:version="120" sparkle:shortVersionString="1.2.0"/></item>
 <item><title>B</title><sparkle:version>130</sparkle:version><sparkle:shortVersionString>1.3.0</sparkle:shortVersionString>
   <enclosure url="https://example.org/b.tar.gz"/></item>
 <item><title>C</title><link>https://example.org/c</link><version>1.4.0</version></item>
</channel></rss>)";
    const QList<AppcastItem> items = parseAppcast(xml);
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0], (AppcastItem{"120", "1.2.0", QUrl("https://example.org/a")}));
    // Without a <link> the enclosure is what the user gets.
    EXPECT_EQ(items[1], (AppcastItem{"130", "1.3.0", QUrl("https://example.org/b.tar.gz")}));
    // Without a display version the machine version is shown.
    EXPECT_EQ(items[2], (AppcastItem{"1.4.0", "1.4.0", QUrl("https://example.org/c")}));
}

TEST(Appcast, SkipsItemsWithoutVersionOrUsableAddress) {
    const QByteArray xml = R"(<rss version="2.0"><channel>
 <item><title>no version</title><link>https://example.org/x</link></item>
 <item><link>javascript:alert(1)</link><enclosure url="file:///etc/passwd" version="9.0"/></item>
 <item><link>ftp://example.org/y</link><enclosure version="9.1"/></item>
 <item><link>not a url at all</link><enclosure url="https://example.org/ok.tar.gz" version="2.0"/></item>
</channel></rss>)";
    const QList<AppcastItem> items = parseAppcast(xml);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].version, QStringLiteral("2.0"));
    EXPECT_EQ(items[0].downloadUrl, QUrl(QStringLiteral("https://example.org/ok.tar.gz")));
}

TEST(Appcast, NewestItemIsChosenByVersionNotByPosition) {
    const QList<AppcastItem> items = parseAppcast(
        appcast({{"1.9.0", "1.9"}, {"1.10.0", "1.10"}, {"1.10.0-rc.1", "1.10 RC"}, {"1.2.0", "1.2"}}));
    ASSERT_EQ(items.size(), 4);
    const auto newest = newestAppcastItem(items);
    ASSERT_TRUE(newest.has_value());
    EXPECT_EQ(newest->displayVersion, QStringLiteral("1.10"));
    EXPECT_FALSE(newestAppcastItem({}).has_value());
}

TEST(Appcast, BrokenInputGivesWhatCameBeforeTheFault) {
    EXPECT_TRUE(parseAppcast("").isEmpty());
    EXPECT_TRUE(parseAppcast("<html><body>Not found</body></html>").isEmpty());
    EXPECT_TRUE(parseAppcast("\x00\xff\xfe garbage <<<<").isEmpty());
    // Items outside an RSS document are not releases.
    EXPECT_TRUE(
        parseAppcast("<feed><item><version>9</version><link>https://e.org/</link></item></feed>").isEmpty());
    QByteArray truncated = appcast({{"1.1.0", ""}, {"1.2.0", ""}});
    truncated.truncate(truncated.indexOf("1.2.0") + 3);
    const QList<AppcastItem> items = parseAppcast(truncated);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].version, QStringLiteral("1.1.0"));
}

TEST(UpdateFeedAddress, EnvironmentOverridesTheBuild) {
    const QByteArray saved = qgetenv("PIMSEL_UPDATE_FEED_URL");
    const bool wasSet = qEnvironmentVariableIsSet("PIMSEL_UPDATE_FEED_URL");
    qputenv("PIMSEL_UPDATE_FEED_URL", "http://127.0.0.1:9/appcast.xml");
    EXPECT_EQ(UpdateController::configuredFeedUrl(), QUrl(QStringLiteral("http://127.0.0.1:9/appcast.xml")));
    qputenv("PIMSEL_UPDATE_FEED_URL", "");
    EXPECT_TRUE(UpdateController::configuredFeedUrl().isEmpty());
    qputenv("PIMSEL_UPDATE_FEED_URL", "javascript:alert(1)");
    EXPECT_TRUE(UpdateController::configuredFeedUrl().isEmpty());
    if (wasSet)
        qputenv("PIMSEL_UPDATE_FEED_URL", saved);
    else
        qunsetenv("PIMSEL_UPDATE_FEED_URL");
}

// ---- Checking ----

class UpdateControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(server.isListening());
        defaults = std::make_unique<QSettings>(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    }

    UpdateController& make(QUrl feed, const QString& current = QStringLiteral("1.4.0")) {
        UpdateController::Options options;
        options.feedUrl = std::move(feed);
        options.currentVersion = current;
        options.firstCheckDelayMs = 0;
        options.requestTimeoutMs = 400;
        options.presentManualOutcome = [this](const UpdateCheckOutcome& o) { presented.append(o); };
        options.openUrl = [this](const QUrl& url) {
            opened.append(url);
            return true;
        };
        updates = std::make_unique<UpdateController>(defaults.get(), options);
        QObject::connect(updates.get(), &UpdateController::checkFinished,
                         [this](const UpdateCheckOutcome& o) { finished.append(o); });
        QObject::connect(updates.get(), &UpdateController::availableVersionChanged,
                         [this](const QString& v) { announced.append(v); });
        return *updates;
    }

    bool waitForChecks(int count) {
        return waitUntil([&] { return finished.size() >= count; });
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> defaults;
    FeedServer server;
    std::unique_ptr<UpdateController> updates;
    QList<UpdateCheckOutcome> presented;
    QList<UpdateCheckOutcome> finished;
    QList<QString> announced;
    QList<QUrl> opened;
};

TEST_F(UpdateControllerTest, ScheduledCheckFindingANewerReleaseOnlySetsTheReminder) {
    server.serve(200, appcast({{"1.3.0", "1.3"}, {"1.5.0", "1.5"}}));
    UpdateController& u = make(server.url());
    EXPECT_TRUE(u.availableVersion().isEmpty());
    u.start();
    ASSERT_TRUE(waitForChecks(1));
    EXPECT_EQ(server.lastPath(), QByteArray("/appcast.xml"));
    EXPECT_EQ(finished[0].kind, UpdateCheckOutcome::Kind::updateAvailable);
    EXPECT_EQ(u.availableVersion(), QStringLiteral("1.5"));
    EXPECT_EQ(announced, QList<QString>{QStringLiteral("1.5")});
    EXPECT_TRUE(presented.isEmpty()) << "a scheduled check must not put up a window";
    EXPECT_FALSE(u.isChecking());
    // The next daily check stays scheduled.
    EXPECT_TRUE(u.isScheduled());

    // Finding the same release again announces nothing new.
    u.checkInBackground();
    ASSERT_TRUE(waitForChecks(2));
    EXPECT_EQ(announced.size(), 1);
}

TEST_F(UpdateControllerTest, ActingOnTheReminderClearsItAndOpensTheReleasePage) {
    server.serve(200, appcast({{"1.5.0", "1.5"}}));
    UpdateController& u = make(server.url());
    u.checkInBackground();
    ASSERT_TRUE(waitForChecks(1));
    ASSERT_EQ(u.availableVersion(), QStringLiteral("1.5"));
    u.installUpdate();
    EXPECT_TRUE(u.availableVersion().isEmpty());
    EXPECT_EQ(announced.last(), QString());
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/pimsel/releases/1.5.0"))});
    EXPECT_TRUE(presented.isEmpty());
}

struct NothingNewerCase {
    const char* name;
    const char* current;
    QList<std::pair<QString, QString>> releases;
};

class NothingNewer : public UpdateControllerTest, public ::testing::WithParamInterface<NothingNewerCase> {};

TEST_P(NothingNewer, ScheduledCheckSetsNothing) {
    server.serve(200, appcast(GetParam().releases));
    UpdateController& u = make(server.url(), QString::fromUtf8(GetParam().current));
    u.start();
    ASSERT_TRUE(waitForChecks(1));
    EXPECT_EQ(finished[0].kind, UpdateCheckOutcome::Kind::upToDate);
    EXPECT_TRUE(u.availableVersion().isEmpty());
    EXPECT_TRUE(announced.isEmpty());
    EXPECT_TRUE(presented.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, NothingNewer,
    ::testing::Values(NothingNewerCase{"same", "1.4.0", {{"1.4.0", "1.4"}}},
                      NothingNewerCase{"same_with_v_and_fewer_components", "v1.4", {{"1.4.0", "1.4"}}},
                      NothingNewerCase{"older", "1.10.0", {{"1.9.0", "1.9"}, {"1.2.0", "1.2"}}},
                      NothingNewerCase{"pre_release_of_ours", "1.5.0", {{"1.5.0-rc.2", "1.5 RC2"}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    int status;
    QByteArray body;
};

class FailedCheck : public UpdateControllerTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedCheck, EndsQuietlyWithNothingSet) {
    server.serve(GetParam().status, GetParam().body);
    UpdateController& u = make(server.url());
    u.start();
    ASSERT_TRUE(waitForChecks(1));
    EXPECT_EQ(finished[0].kind, UpdateCheckOutcome::Kind::failed);
    EXPECT_TRUE(u.availableVersion().isEmpty());
    EXPECT_TRUE(announced.isEmpty());
    EXPECT_TRUE(presented.isEmpty());
    EXPECT_FALSE(u.isChecking());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FailedCheck,
    ::testing::Values(FailureCase{"not_found", 404, "<html>Not found</html>"},
                      // A newer release behind an error status is still an error page.
                      FailureCase{"server_error", 500, appcast({{"9.0.0", "9.0"}})},
                      FailureCase{"empty", 200, ""},
                      FailureCase{"html", 200, "<html><body>hello</body></html>"},
                      FailureCase{"truncated", 200, appcast({{"9.0.0", "9.0"}}).left(120)},
                      FailureCase{"binary", 200, QByteArray("\x00\x01\x02\xff\xfe<rss", 10)},
                      FailureCase{"items_without_versions", 200,
                                  "<rss><channel><item><link>https://e.org/</link></item></channel></rss>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateControllerTest, NoServerOrNoAnswerEndsQuietly) {
    // A port nobody listens on.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    UpdateController& u = make(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(closedPort)));
    u.checkInBackground();
    ASSERT_TRUE(waitForChecks(1));
    EXPECT_EQ(finished[0].kind, UpdateCheckOutcome::Kind::failed);

    // A server that never answers: the request times out.
    server.stayIncommunicado();
    updates.reset();
    finished.clear();
    UpdateController& silent = make(server.url());
    silent.checkInBackground();
    EXPECT_TRUE(silent.isChecking());
    ASSERT_TRUE(waitForChecks(1));
    EXPECT_EQ(finished[0].kind, UpdateCheckOutcome::Kind::failed);
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_TRUE(silent.availableVersion().isEmpty());
    EXPECT_TRUE(presented.isEmpty());
}

TEST_F(UpdateControllerTest, DestroyedWhileARequestIsInFlight) {
    server.stayIncommunicado();
    UpdateController& u = make(server.url());
    u.checkForUpdates();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 1; }));
    updates.reset();
    spin(50);
    EXPECT_TRUE(finished.isEmpty());
    EXPECT_TRUE(presented.isEmpty());
}

TEST_F(UpdateControllerTest, AutomaticChecksOffMeansNoScheduledRequest) {
    defaults->setValue(QLatin1String(UpdateController::automaticChecksKey), false);
    server.serve(200, appcast({{"1.5.0", "1.5"}}));
    UpdateController& u = make(server.url());
    EXPECT_FALSE(u.automaticallyChecksForUpdates());
    u.start();
    EXPECT_FALSE(u.isScheduled());
    spin(300);
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_EQ(u.requestCount(), 0);
    EXPECT_TRUE(u.availableVersion().isEmpty());

    // A manual check still works and answers in the dialog only.
    u.checkForUpdates();
    ASSERT_TRUE(waitForChecks(1));
    ASSERT_EQ(presented.size(), 1);
    EXPECT_EQ(presented[0].kind, UpdateCheckOutcome::Kind::updateAvailable);
    EXPECT_EQ(presented[0].item.displayVersion, QStringLiteral("1.5"));
    EXPECT_TRUE(u.availableVersion().isEmpty());
}

TEST_F(UpdateControllerTest, SwitchIsPersistedAndStartsOrStopsTheSchedule) {
    server.serve(200, appcast({{"1.4.0", "1.4"}}));
    UpdateController& u = make(server.url());
    EXPECT_TRUE(u.automaticallyChecksForUpdates()) << "automatic checks are on by default";
    QSignalSpy changes(&u, &UpdateController::automaticallyChecksForUpdatesChanged);
    u.start();
    EXPECT_TRUE(u.isScheduled());
    u.setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(u.isScheduled());
    EXPECT_EQ(defaults->value(QLatin1String(UpdateController::automaticChecksKey)).toBool(), false);
    spin(200);
    EXPECT_EQ(server.requestCount(), 0) << "the first check was due at once but the switch went off";
    u.setAutomaticallyChecksForUpdates(true);
    EXPECT_TRUE(u.isScheduled());
    ASSERT_TRUE(waitForChecks(1));
    EXPECT_EQ(changes.count(), 2);

    // A second controller reads the stored switch.
    u.setAutomaticallyChecksForUpdates(false);
    UpdateController again(defaults.get(), UpdateController::Options{});
    EXPECT_FALSE(again.automaticallyChecksForUpdates());
}

TEST_F(UpdateControllerTest, WithoutAFeedNothingIsScheduledAndAManualCheckSaysSo) {
    UpdateController& u = make(QUrl());
    EXPECT_FALSE(u.isConfigured());
    u.start();
    EXPECT_FALSE(u.isScheduled());
    u.checkInBackground();
    EXPECT_EQ(u.requestCount(), 0);
    u.checkForUpdates();
    ASSERT_EQ(presented.size(), 1);
    EXPECT_EQ(presented[0].kind, UpdateCheckOutcome::Kind::notConfigured);
    EXPECT_EQ(presented[0].currentVersion, QStringLiteral("1.4.0"));
}

TEST_F(UpdateControllerTest, ManualCheckAnswersEveryOutcomeAndSettlesTheReminder) {
    server.serve(200, appcast({{"1.5.0", "1.5"}}));
    UpdateController& u = make(server.url());
    u.checkInBackground();
    ASSERT_TRUE(waitForChecks(1));
    ASSERT_EQ(u.availableVersion(), QStringLiteral("1.5"));

    // The user now sees the release in the dialog: the reminder has done its job.
    u.checkForUpdates();
    ASSERT_TRUE(waitForChecks(2));
    ASSERT_EQ(presented.size(), 1);
    EXPECT_EQ(presented[0].kind, UpdateCheckOutcome::Kind::updateAvailable);
    EXPECT_EQ(presented[0].item.downloadUrl,
              QUrl(QStringLiteral("https://example.org/pimsel/releases/1.5.0")));
    EXPECT_TRUE(u.availableVersion().isEmpty());

    server.serve(200, appcast({{"1.4.0", "1.4"}}));
    u.checkForUpdates();
    ASSERT_TRUE(waitForChecks(3));
    ASSERT_EQ(presented.size(), 2);
    EXPECT_EQ(presented[1].kind, UpdateCheckOutcome::Kind::upToDate);

    server.serve(404, "");
    u.checkForUpdates();
    ASSERT_TRUE(waitForChecks(4));
    ASSERT_EQ(presented.size(), 3);
    EXPECT_EQ(presented[2].kind, UpdateCheckOutcome::Kind::failed);
}

TEST_F(UpdateControllerTest, ManualCheckDuringABackgroundCheckSharesItsRequest) {
    server.serve(200, appcast({{"1.5.0", "1.5"}}));
    UpdateController& u = make(server.url());
    u.checkInBackground();
    u.checkForUpdates();
    ASSERT_TRUE(waitForChecks(1));
    spin(100);
    EXPECT_EQ(server.requestCount(), 1);
    ASSERT_EQ(presented.size(), 1);
    EXPECT_EQ(presented[0].kind, UpdateCheckOutcome::Kind::updateAvailable);
    // The user saw it in the dialog, so no reminder is left behind.
    EXPECT_TRUE(u.availableVersion().isEmpty());
}

} // namespace
