#include "app/update_controller.h"
#include "app/version_compare.h"
#include "ui/update_dialog.h"

#include "support/http_server.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <thread>

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;
using namespace std::chrono_literals;

namespace {

// A feed with one item per (version, display version); an empty display version is left out.
QByteArray appcast(const QList<std::pair<QByteArray, QByteArray>>& releases) {
    QByteArray xml =
        R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel>)";
    for (const auto& [version, display] : releases) {
        xml += "<item><link>https://example.org/pimsel/releases/" + version + "</link><enclosure url=\"" +
               "https://example.org/pimsel-" + version + ".tar.gz\" sparkle:version=\"" + version + "\"" +
               (display.isEmpty() ? "" : " sparkle:shortVersionString=\"" + display + "\"") + "/></item>\n";
    }
    return xml + "</channel></rss>\n";
}

// Oldest first (the first is empty): every version is older than each one after it. (That garbage is
// ordered consistently is the feed fuzzer's check, replayed with the unit tests.)
TEST(VersionCompare, OrdersReleasesAsPeopleReadThem) {
    const QStringList ascending =
        QStringLiteral("|0.0.1|0.9.9|1.0-1|1.0-alpha|1.0|1.2a1|1.2.0-alpha|1.2.0-alpha.1|1.2b3|"
                       "1.2.0-beta.2|1.2.0-beta.10|1.2.0-rc.1|1.2|1.2.1-alpha|1.2.1|1.2.9|1.2.10|"
                       "v1.9|1.10|2|10|99999999999999999999|100000000000000000000")
            .split(u'|');
    for (qsizetype i = 0; i < ascending.size(); ++i) {
        for (qsizetype j = 0; j < i; ++j) {
            const QString &older = ascending[j], &newer = ascending[i];
            EXPECT_TRUE(compareVersions(newer, older) > 0 && compareVersions(older, newer) < 0 &&
                        isNewerVersion(newer, older) && !isNewerVersion(older, newer))
                << newer.toStdString() << " vs " << older.toStdString();
        }
    }
}

class UpdateControllerTest : public ::testing::Test {
protected:
    UpdateController& make(QUrl feed, const QString& current = QStringLiteral("1.4.0"),
                           int deadlineMs = 400) {
        updates = std::make_unique<UpdateController>(
            &defaults,
            UpdateController::Options{std::move(feed), current, 0, 24 * 3600 * 1000, deadlineMs, nullptr,
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
    // The answer to a manual check, on screen.
    static UpdateDialog* dialog() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* shown = qobject_cast<UpdateDialog*>(window); shown && shown->isVisible())
                return shown;
        }
        return nullptr;
    }

    QTemporaryDir dir;
    QSettings defaults{dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat};
    HttpServer server;
    std::unique_ptr<UpdateController> updates;
    QList<UpdateCheckOutcome> finished;
    QList<QString> announced;
    QList<QUrl> opened;
};

using Kind = UpdateCheckOutcome::Kind;

TEST_F(UpdateControllerTest, AScheduledCheckShowsNothingAndOnlyANewerReleaseSetsTheReminder) {
    const QByteArray releases =
        appcast({{"1.9.0", "1.9"}, {"1.10.0", "1.10"}, {"1.10.0-rc.1", "1.10 RC"}, {"1.2.0", ""}});
    const struct {
        const char* name;
        int status;
        QByteArray body;
        const char* current;
        Kind kind;
        const char* available; // what the reminder offers afterwards
    } feeds[] = {
        {"newest by version", 200, releases, "1.4.0", Kind::updateAvailable, "1.10"},
        {"without display version", 200, appcast({{"1.5.0", ""}}), "1.4", Kind::updateAvailable, "1.5.0"},
        {"same", 200, appcast({{"1.4.0", "1.4"}}), "v1.4", Kind::upToDate, ""},
        {"pre-release of ours", 200, appcast({{"1.5.0-rc.2", "1.5 RC2"}}), "1.5.0", Kind::upToDate, ""},
        {"newer behind an error", 500, releases, "1.4.0", Kind::failed, ""},
        {"truncated", 200, releases.left(150), "1.4.0", Kind::failed, ""}};
    for (const auto& c : feeds) {
        SCOPED_TRACE(c.name);
        finished.clear();
        announced.clear();
        server.serve(c.status, c.body);
        UpdateController& u = make(server.url(), QString::fromUtf8(c.current));
        u.start();
        ASSERT_TRUE(waitForChecks(1));
        EXPECT_EQ(finished[0].kind, c.kind);
        EXPECT_EQ(u.availableVersion(), QString::fromUtf8(c.available));
        EXPECT_EQ(announced, *c.available ? QList<QString>{c.available} : QList<QString>{});
        EXPECT_TRUE(!u.isChecking() && u.isScheduled()) << "the daily check stays scheduled";
    }
    EXPECT_EQ(dialog(), nullptr) << "a scheduled check must not put up a window";
}

// Without a feed nothing is scheduled or sent. A feed trickling a byte every 50 ms (never silent for
// long, but the check as a whole has 400 ms) and one of 64 MB, while the event loop is held up for as
// long as the server gets bytes away (no more than the cap and the socket buffers may be taken in),
// both fail quietly.
TEST_F(UpdateControllerTest, NoFeedATricklingOrAnOversizedFeedEndQuietly) {
    qputenv("PIMSEL_UPDATE_FEED_URL", "");
    make(UpdateController::configuredFeedUrl()).start();
    qunsetenv("PIMSEL_UPDATE_FEED_URL");
    updates->checkInBackground();
    EXPECT_TRUE(!updates->isScheduled() && updates->requestCount() == 0);
    finished.clear();

    HttpServer trickle;
    trickle.route({}, HttpServer::stream("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", 600, 1, 50ms));
    make(trickle.url()).checkInBackground();
    ASSERT_TRUE(waitForChecks(1)) << "the check is still open";
    EXPECT_FALSE(updates->isChecking());
    HttpServer flood;
    flood.route({}, HttpServer::stream("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", qint64(64) << 20,
                                       qint64(64) << 10));
    make(flood.url(), QStringLiteral("1.4.0"), 60 * 1000).checkInBackground();
    ASSERT_TRUE(waitUntil([&] { return flood.sent > 0; }));
    for (qint64 before = -1; flood.sent != before; std::this_thread::sleep_for(200ms))
        before = flood.sent;
    ASSERT_TRUE(waitForChecks(2));
    EXPECT_LT(flood.sent, qint64(16) << 20);
    EXPECT_TRUE(
        std::all_of(finished.begin(), finished.end(), [](const auto& o) { return o.kind == Kind::failed; }));
    EXPECT_TRUE(announced.isEmpty());

    // Destroyed while a request is in flight: nothing is reported afterwards.
    make(trickle.url()).checkForUpdates();
    ASSERT_TRUE(waitUntil([&] { return trickle.targets().size() == 2; }));
    updates.reset();
    spin(50);
    EXPECT_EQ(finished.size(), 2);
    EXPECT_EQ(dialog(), nullptr);
}

// With automatic checks off nothing is sent; a manual check answers in a dialog whose download
// button opens the release page, and switching the checks on makes the first one due at once.
TEST_F(UpdateControllerTest, AManualCheckAnswersInTheDialogAndTheSwitchStartsTheSchedule) {
    server.serve(200, appcast({{"1.5.0", "1.5"}}));
    defaults.setValue(QLatin1String(UpdateController::automaticChecksKey), false);
    UpdateController& u = make(server.url());
    u.start();
    spin(300);
    EXPECT_TRUE(!u.isScheduled() && server.targets().isEmpty());

    u.checkForUpdates();
    ASSERT_TRUE(waitForChecks(1));
    ASSERT_NE(dialog(), nullptr);
    EXPECT_TRUE(u.availableVersion().isEmpty()) << "the dialog said it; no reminder as well";
    EXPECT_TRUE(opened.isEmpty());
    dialog()->downloadButton()->click();
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/pimsel/releases/1.5.0"))});
    EXPECT_EQ(dialog(), nullptr);

    u.setAutomaticallyChecksForUpdates(true);
    ASSERT_TRUE(waitForChecks(2));
    EXPECT_EQ(u.availableVersion(), QStringLiteral("1.5"));
    EXPECT_EQ(dialog(), nullptr);
    u.setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(u.isScheduled());
}

} // namespace
