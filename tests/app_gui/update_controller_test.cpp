#include "app/update_controller.h"

#include "tray_support.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;

namespace {

TEST(Appcast, ReadsEachItemsVersionsAndAddressSkippingUnusableOnes) {
    QByteArray xml =
        R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel>
 <item><link>https://example.org/a</link>
   <enclosure url="https://example.org/a.tar.gz" sparkle:version="120" sparkle:shortVersionString="1.2.0"/></item>
 <item><sparkle:version>130</sparkle:version><sparkle:shortVersionString>1.3</sparkle:shortVersionString>
   <enclosure url="https://example.org/b.tar.gz"/></item>
 <item><link>https://example.org/c</link><version>1.4.0</version></item>
 <item><link>https://example.org/no-version</link></item>
 <item><link>javascript:alert(1)</link><enclosure url="file:///etc/passwd" version="9.0"/></item>
 <item><link>https://example.org/truncated</link><version>9.9</version></item>
</channel></rss>)";
    xml.truncate(xml.indexOf("9.9"));
    EXPECT_EQ(parseAppcast(xml), (QList<AppcastItem>{{"120", "1.2.0", QUrl("https://example.org/a")},
                                                     {"130", "1.3", QUrl("https://example.org/b.tar.gz")},
                                                     {"1.4.0", "1.4.0", QUrl("https://example.org/c")}}));
    // Items outside an RSS document are not releases.
    EXPECT_TRUE(
        parseAppcast("<feed><item><version>9</version><link>https://e.org/</link></item></feed>").isEmpty());
}

class UpdateControllerTest : public ::testing::Test {
protected:
    UpdateController& make(QUrl feed, const QString& current = QStringLiteral("1.4.0")) {
        updates = std::make_unique<UpdateController>(
            &defaults,
            UpdateController::Options{std::move(feed), current, 0, 24 * 3600 * 1000, 400,
                                      [this](const UpdateCheckOutcome& o) { presented.append(o); },
                                      [this](const QUrl& url) { return opened.append(url), true; }});
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
    QSettings defaults{dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat};
    FeedServer server;
    std::unique_ptr<UpdateController> updates;
    QList<UpdateCheckOutcome> presented, finished;
    QList<QString> announced;
    QList<QUrl> opened;
};

using Kind = UpdateCheckOutcome::Kind;
struct FeedCase {
    const char* name;
    int status;
    QByteArray body;
    const char* current;
    Kind kind;
    const char* available; // what the reminder offers afterwards
};
class ScheduledCheck : public UpdateControllerTest, public ::testing::WithParamInterface<FeedCase> {};

TEST_P(ScheduledCheck, OnlyANewerReleaseSetsTheReminderAndNothingIsShown) {
    const FeedCase& c = GetParam();
    server.serve(c.status, c.body);
    UpdateController& u = make(server.url(), QString::fromUtf8(c.current));
    u.start();
    ASSERT_TRUE(waitForChecks(1));
    EXPECT_EQ(finished[0].kind, c.kind);
    EXPECT_EQ(u.availableVersion(), QString::fromUtf8(c.available));
    EXPECT_EQ(announced, *c.available ? QList<QString>{c.available} : QList<QString>{});
    EXPECT_TRUE(presented.isEmpty()) << "a scheduled check must not put up a window";
    EXPECT_FALSE(u.isChecking());
    EXPECT_TRUE(u.isScheduled()) << "the daily check stays scheduled";
}

const QByteArray releases =
    appcast({{"1.9.0", "1.9"}, {"1.10.0", "1.10"}, {"1.10.0-rc.1", "1.10 RC"}, {"1.2.0", ""}});
INSTANTIATE_TEST_SUITE_P(
    Feeds, ScheduledCheck,
    ::testing::Values(FeedCase{"newest_by_version", 200, releases, "1.4.0", Kind::updateAvailable, "1.10"},
                      FeedCase{"without_display_version", 200, appcast({{"1.5.0", ""}}), "1.4",
                               Kind::updateAvailable, "1.5.0"},
                      FeedCase{"same", 200, appcast({{"1.4.0", "1.4"}}), "v1.4", Kind::upToDate, ""},
                      FeedCase{"older", 200, releases, "1.11", Kind::upToDate, ""},
                      FeedCase{"pre_release_of_ours", 200, appcast({{"1.5.0-rc.2", "1.5 RC2"}}), "1.5.0",
                               Kind::upToDate, ""},
                      FeedCase{"not_found", 404, "<html>Not found</html>", "1.4.0", Kind::failed, ""},
                      FeedCase{"newer_behind_an_error", 500, releases, "1.4.0", Kind::failed, ""},
                      FeedCase{"empty", 200, "", "1.4.0", Kind::failed, ""},
                      FeedCase{"html", 200, "<html><body>hello</body></html>", "1.4.0", Kind::failed, ""},
                      FeedCase{"truncated", 200, releases.left(150), "1.4.0", Kind::failed, ""},
                      FeedCase{"binary", 200, QByteArray("\x00\x01\xff\xfe<rss", 8), "1.4.0", Kind::failed,
                               ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateControllerTest, NoServerOrNoAnswerEndsQuietly) {
    QTcpServer probe; // a port nobody listens on
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const QString closed = QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(probe.serverPort());
    probe.close();
    make(QUrl(closed)).checkInBackground();
    ASSERT_TRUE(waitForChecks(1));
    server.silent = true;
    make(server.url()).checkInBackground();
    ASSERT_TRUE(waitForChecks(2)) << "the request never timed out";
    EXPECT_TRUE(finished[0].kind == Kind::failed && finished[1].kind == Kind::failed);
    EXPECT_TRUE(announced.isEmpty());

    // Destroyed while a request is in flight: nothing is reported afterwards.
    make(server.url()).checkForUpdates();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount == 2; }));
    updates.reset();
    spin(50);
    EXPECT_EQ(finished.size(), 2);
    EXPECT_TRUE(presented.isEmpty());
}

TEST_F(UpdateControllerTest, SwitchedOffNoScheduledRequestButAManualCheckAnswers) {
    server.serve(200, appcast({{"1.5.0", "1.5"}}));
    defaults.setValue(QLatin1String(UpdateController::automaticChecksKey), false);
    UpdateController& u = make(server.url());
    u.start();
    EXPECT_FALSE(u.isScheduled());
    spin(300);
    EXPECT_EQ(server.requestCount, 0);

    u.checkForUpdates();
    ASSERT_TRUE(waitForChecks(1));
    ASSERT_EQ(presented.size(), 1);
    EXPECT_EQ(presented[0].kind, Kind::updateAvailable);
    EXPECT_EQ(presented[0].item.displayVersion, QStringLiteral("1.5"));
    EXPECT_TRUE(u.availableVersion().isEmpty()) << "the dialog said it; no reminder as well";

    // Switched back on, the switch is stored and the first check is due at once.
    u.setAutomaticallyChecksForUpdates(true);
    EXPECT_TRUE(UpdateController(&defaults, {}).automaticallyChecksForUpdates());
    ASSERT_TRUE(waitForChecks(2));
    EXPECT_EQ(u.availableVersion(), QStringLiteral("1.5"));
    u.setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(u.isScheduled());
}

TEST_F(UpdateControllerTest, ActingOnTheReminderOrCheckingByHandSettlesIt) {
    server.serve(200, appcast({{"1.5.0", "1.5"}}));
    UpdateController& u = make(server.url());
    u.checkInBackground();
    ASSERT_TRUE(waitForChecks(1));
    u.installUpdate();
    EXPECT_EQ(announced, (QList<QString>{"1.5", ""}));
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/pimsel/releases/1.5.0"))});

    // A manual check during a background one shares its request and leaves no reminder.
    u.checkInBackground();
    u.checkForUpdates();
    ASSERT_TRUE(waitForChecks(2));
    EXPECT_EQ(server.requestCount, 2);
    EXPECT_TRUE(u.availableVersion().isEmpty());
    server.serve(404, "");
    u.checkForUpdates();
    ASSERT_TRUE(waitForChecks(3));
    ASSERT_EQ(presented.size(), 2);
    EXPECT_EQ(presented[0].kind, Kind::updateAvailable);
    EXPECT_EQ(presented[1].kind, Kind::failed);
}

TEST_F(UpdateControllerTest, WithoutAFeedNothingIsScheduledAndAManualCheckSaysSo) {
    qputenv("PIMSEL_UPDATE_FEED_URL", "");
    UpdateController& u = make(UpdateController::configuredFeedUrl());
    qunsetenv("PIMSEL_UPDATE_FEED_URL");
    u.start();
    u.checkInBackground();
    u.checkForUpdates();
    EXPECT_FALSE(u.isScheduled());
    EXPECT_EQ(u.requestCount(), 0);
    ASSERT_EQ(presented.size(), 1);
    EXPECT_EQ(presented[0].kind, Kind::notConfigured);
}

} // namespace
