#include "stickers/giphy_client.h"

#include "support/http_server.h"

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;

namespace {

QByteArray answer(const QByteArray& gifs) {
    return R"({"data":[)" + gifs + R"(],"meta":{"status":200}})";
}

class GiphyClientTest : public ::testing::Test {
protected:
    // The list the completion delivers; none may arrive inside the call.
    std::optional<QList<StickerEntry>> search(const QString& query, int waitMs = 5000) {
        std::optional<QList<StickerEntry>> result;
        client.search(query, [&result](const QList<StickerEntry>& entries) { result = entries; });
        EXPECT_FALSE(result.has_value());
        waitUntil([&] { return result.has_value(); }, waitMs);
        return result;
    }

    HttpServer server;
    GiphyClient client{"KEY", server.origin()};
};

// Searching and trending as such are the coordinator's command rows; here, a query the service must get
// verbatim (a bare "+" would reach it as a space), and blanks, which are no query.
TEST_F(GiphyClientTest, SendsTheTrimmedQueryEncoded) {
    server.route("/v1/gifs/search", HttpServer::answer(200, answer("")));
    server.route("/v1/gifs/trending", HttpServer::answer(200, answer("")));
    EXPECT_EQ(search(" c++ & dogs=1 "), QList<StickerEntry>());
    EXPECT_EQ(search(" \n\t "), QList<StickerEntry>());
    EXPECT_EQ(server.targets(), (QStringList{"/v1/gifs/search?api_key=KEY&limit=30&rating=pg-13&bundle="
                                             "messaging_non_clips&q=c%2B%2B%20%26%20dogs%3D1",
                                             "/v1/gifs/trending?api_key=KEY&limit=30&rating=pg-13&bundle="
                                             "messaging_non_clips"}));
}

TEST(GiphyAnswer, PicksRenditionsAndNamesEachGifAndAFaultyAnswerGivesNothing) {
    const QByteArray gifs = R"(
        {"id":"orig","title":"Happy Dance-Party","images":{"original":{"url":"https://m/o.gif"}}},
        {"id":"small","title":"","images":{"fixed_width_small":{"url":"https://m/s.gif"},
                                           "fixed_width":{"url":"https://m/w.gif"}}},
        {"id":"onlysmall","images":{"fixed_width_small":{"url":"https://m/s.gif"}}},
        {"id":"local","images":{"original":{"url":"file:///etc/passwd"}}},
        {"id":"../up","images":{"original":{"url":"https://m/o.gif"}}},
        {"id":"slug","title":null,"slug":"","images":{"original":{"url":"https://m/o.gif"},
                                                    "downsized":{"url":"https://m/d.gif"},
                                                    "fixed_width":{"url":"https://m/w.gif"}}},
        {"id":"orig","title":"again","images":{"original":{"url":"https://m/o.gif"}}})";
    const QList<StickerEntry> entries = GiphyClient::parseResponse({true, 200, answer(gifs)});
    const auto gif = [](QString id, QString name, QStringList keywords, QString file, QString preview) {
        StickerEntry e;
        e.id = "giphy-" + id, e.fileName = e.id + ".gif", e.keywords = keywords, e.name = name,
        e.isAnimated = true;
        e.remoteURLOverride = QUrl("https://m/" + file),
        e.thumbnailURLOverride = QUrl("https://m/" + preview);
        return e;
    };
    EXPECT_EQ(entries, (QList<StickerEntry>{
                           gif("orig", "Happy Dance-Party", {"Happy", "Dance", "Party"}, "o.gif", "o.gif"),
                           gif("small", "GIF", {"GIF"}, "w.gif", "s.gif"),
                           gif("slug", "", {"gif"}, "d.gif", "w.gif"),
                       }));

    // Any faulty answer gives nothing at all.
    const QByteArray good = R"({"id":"a","images":{"original":{"url":"https://m/o.gif"}}})";
    for (const TransferResult& faulty :
         {TransferResult{true, 429, answer(good)},
          {false, 200, answer(good)},
          {true, 200, answer(good).chopped(1)},
          {true, 200, answer(good + R"(,{"id":"b","images":{"original":{}}})")}})
        EXPECT_EQ(GiphyClient::parseResponse(faulty), QList<StickerEntry>()) << faulty.body.toStdString();
}

// The cap, not the time-out, ends it: the cap was read, and little more than the socket buffers hold.
TEST_F(GiphyClientTest, AnAnswerWithoutEndIsCutOffAtTheCap) {
    server.route("/v1/gifs/search", HttpServer::endless());
    ASSERT_EQ(search("x", 10000), QList<StickerEntry>());
    ASSERT_TRUE(waitUntil([&] { return server.walkedAway == 1; }));
    EXPECT_GE(server.sent, GiphyClient::maxAnswerBytes);
    EXPECT_LT(server.sent, GiphyClient::maxAnswerBytes + (16 << 20));
}

} // namespace
