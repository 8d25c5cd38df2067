#include "stickers/sticker_catalog.h"
#include "stickers/sticker_config.h"
#include "stickers/sticker_store.h"

#include "support/files.h"
#include "support/http_server.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;
using Urls = QList<std::optional<QUrl>>;

namespace {

const QByteArray catalogue =
    R"([{"id":"a","fileName":"a.gif","keywords":["x"],"name":"A","isAnimated":true,"isBundled":false},
        {"id":"b","fileName":"b.gif","keywords":[],"name":"B","isAnimated":false,"isBundled":true}])";

class StickerStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir.filePath("stickers.json"), catalogue);
        StickerLocations locations{dir.filePath("stickers.json"), dir.filePath("res"), cache,
                                   dir.filePath("staging")};
        store.emplace(&settings, StickerServiceConfig::cdnBaseFromOrigin(server.origin().toString()),
                      locations);
        store->setTransferTimeout(std::chrono::milliseconds(300));
        store->load();
    }
    static QString cdnPath(const QString& id) { return "/s/e/notoemoji/latest/" + id + "/512.gif"; }
    // Completions, which must come later and in the order of the calls.
    Urls fetch(const QList<StickerEntry>& entries, bool thumbnail = false) {
        auto results = std::make_shared<std::pair<Urls, QList<int>>>();
        for (int i = 0; i < entries.size(); ++i) {
            auto done = [results, i](std::optional<QUrl> url) {
                results->first.append(url), results->second.append(i);
            };
            thumbnail ? store->fetchThumbnail(entries[i], done) : store->fetchFile(entries[i], done);
        }
        EXPECT_TRUE(results->first.isEmpty());
        EXPECT_TRUE(waitUntil([&] { return results->first.size() == entries.size(); }));
        EXPECT_TRUE(std::is_sorted(results->second.begin(), results->second.end()));
        return results->first;
    }
    std::optional<QUrl> cached(const QString& name) const { return QUrl::fromLocalFile(cache + "/" + name); }

    QTemporaryDir dir;
    QString cache = dir.filePath("cache");
    QSettings settings{dir.filePath("settings.ini"), QSettings::IniFormat};
    HttpServer server;
    std::optional<StickerStore> store;
};

TEST_F(StickerStoreTest, TwoRequestsShareOneDownloadThenCacheAndResourcesAnswer) {
    server.route(cdnPath("a"), HttpServer::answer(200, gifBytes("a")));
    const StickerEntry a = store->stickers().at(0);
    EXPECT_EQ(fetch({a, a}), (Urls{cached("a.gif"), cached("a.gif")}));
    EXPECT_EQ(readFile(cache + "/a.gif"), gifBytes("a"));
    EXPECT_FALSE(store->isDownloading(cache + "/a.gif"));
    // A catalogue sticker's preview is its file; the cache serves both without a second request.
    EXPECT_EQ(fetch({a}, /*thumbnail=*/true), (Urls{cached("a.gif")}));
    EXPECT_EQ(server.targets().size(), 1);
    EXPECT_FALSE(QFile::exists(cache + "/thumb-a.gif"));
    // A cached file that is empty or no image is fetched again.
    for (const QByteArray& broken : {QByteArray(), QByteArray("<html>")}) {
        writeFile(cache + "/a.gif", broken);
        EXPECT_EQ(fetch({a}), (Urls{cached("a.gif")}));
        EXPECT_EQ(readFile(cache + "/a.gif"), gifBytes("a"));
    }
    EXPECT_EQ(server.targets().size(), 3);

    // Built-in files win over the cache and need no network.
    writeFile(dir.filePath("res/stickers/a.gif"), gifBytes());
    writeFile(dir.filePath("res/b.gif"), gifBytes());
    EXPECT_EQ(fetch(store->stickers()), (Urls{QUrl::fromLocalFile(dir.filePath("res/stickers/a.gif")),
                                              QUrl::fromLocalFile(dir.filePath("res/b.gif"))}));
    EXPECT_EQ(server.targets().size(), 3);
}

// Whatever goes wrong, every waiting caller hears "no file", nothing is left in the cache, the key
// is released, and the next request tries again.
TEST_F(StickerStoreTest, AFailedDownloadLeavesNothingAndALaterRequestRetries) {
    const QList<std::pair<const char*, HttpServer::Route>> failures = {
        {"404", HttpServer::answer(404, gifBytes())},
        {"a page that is no image", HttpServer::answer(200, "<html>portal</html>")},
        {"a server that never answers", HttpServer::silent()},
        {"a body without end", HttpServer::endless()},
    };
    const StickerEntry a = store->stickers().at(0);
    for (const auto& [label, route] : failures) {
        SCOPED_TRACE(label);
        server.route(cdnPath("a"), route);
        EXPECT_EQ(fetch({a, a}), (Urls{std::nullopt, std::nullopt}));
        EXPECT_TRUE(QDir(cache).entryList(QDir::Files).isEmpty());
        EXPECT_FALSE(store->isDownloading(cache + "/a.gif"));
        server.route(cdnPath("a"), HttpServer::answer(200, gifBytes()));
        // The server may still be ending the stream it was cut off from (slowly, under a sanitizer).
        store->setTransferTimeout(std::chrono::seconds(5));
        EXPECT_EQ(fetch({a}), (Urls{cached("a.gif")}));
        store->setTransferTimeout(std::chrono::milliseconds(300));
        QFile::remove(cache + "/a.gif");
    }
}

TEST_F(StickerStoreTest, AGifResultKeepsItsPreviewAndFileApart) {
    server.route("/media/thumb.gif", HttpServer::answer(200, gifBytes("thumb")));
    server.route("/media/file.gif", HttpServer::answer(200, gifBytes("file")));
    const StickerEntry gif = sticker_catalog::makeGifEntry(
        "k9", "Dog", {"Dog"}, server.url("/media/file.gif"), server.url("/media/thumb.gif"));
    EXPECT_EQ(fetch({gif}, true), (Urls{cached("thumb-giphy-k9.gif")}));
    EXPECT_EQ(fetch({gif}), (Urls{cached("giphy-k9.gif")}));
    EXPECT_EQ(readFile(cache + "/thumb-giphy-k9.gif"), gifBytes("thumb"));
    EXPECT_EQ(readFile(cache + "/giphy-k9.gif"), gifBytes("file"));
}

TEST_F(StickerStoreTest, UseCountsAreAppliedOnLoadAndStoredOnEveryPick) {
    settings.setValue(StickerStore::useCountKey, QVariantMap{{"a", 3}, {"gone", 2}});
    SetUp(); // a store opened on those counts
    EXPECT_EQ(store->stickers().at(0).useCount, 3);
    EXPECT_EQ(store->stickers().at(1).useCount, 0);
    const QList<StickerEntry> before = store->stickers();
    store->recordUse("giphy-unknown");
    EXPECT_EQ(store->stickers(), before);
    store->recordUse("b");
    EXPECT_EQ(store->stickers().at(1).useCount, 1);
    EXPECT_EQ(QSettings(settings.fileName(), QSettings::IniFormat).value(StickerStore::useCountKey).toMap(),
              (QVariantMap{{"a", 3}, {"gone", 2}, {"giphy-unknown", 1}, {"b", 1}}));
}

TEST_F(StickerStoreTest, PasteCopiesAreStagedPrivatelyAndReplacedWhenCutShort) {
    writeFile(cache + "/a.gif", gifBytes("whole"));
    const QUrl staged = QUrl::fromLocalFile(dir.filePath("staging/a.gif"));
    writeFile(staged.toLocalFile(), "GIF"); // a copy a full disk cut short
    EXPECT_EQ(store->stagedForPaste(*cached("a.gif")), staged);
    EXPECT_EQ(readFile(staged.toLocalFile()), gifBytes("whole"));
    QFile::setPermissions(dir.filePath("staging"),
                          QFile::permissions(dir.filePath("staging")) | QFile::WriteOther);
    EXPECT_EQ(store->stagedForPaste(*cached("a.gif")), *cached("a.gif"));
}

TEST(StickerCatalogue, TheShippedCatalogueLoads) {
    StickerStore store(nullptr, std::nullopt);
    store.load();
    ASSERT_GT(store.stickers().size(), 300);
    for (const StickerEntry& entry : store.stickers()) {
        ASSERT_EQ(entry.fileName, entry.id + ".gif");
        // The picker draws this emoji until the animation has arrived.
        ASSERT_FALSE(sticker_catalog::emojiOf(entry).isEmpty()) << entry.id.toStdString();
    }
}

} // namespace
