// "/sticker" and "/gif" in a messaging application, typed as a user would, against the built
// application with its sticker CDN and its GIF service on a local server: the picker opens,
// filters, and a pick pastes the downloaded file in place of the command.
#include "tests/e2e/support/typing_fixture.h"

#include <QDir>
#include <QFile>

namespace pimsel::e2e {
namespace {

// A whole one-pixel GIF: what the servers hand out for every sticker and GIF of the test.
const QByteArray
    servedGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00,"
              "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;",
              43);
const QString cdnPath = QStringLiteral("s/e/notoemoji/latest/");

// The GIF service's answer: every GIF served by `server` under m/<id>.gif.
QByteArray gifAnswer(const PageServer& server, const QStringList& ids) {
    QByteArray data;
    for (const QString& id : ids) {
        const QByteArray url = server.url(QStringLiteral("m/%1.gif").arg(id)).toEncoded();
        data += QByteArray(data.isEmpty() ? "" : ",") + R"({"id":")" + id.toUtf8() + R"(","title":"A )" +
                id.toUtf8() + R"(","images":{"fixed_width_small":{"url":")" + url +
                R"("},"downsized":{"url":")" + url + R"("}}})";
    }
    return R"({"data":[)" + data + "]}";
}

// A GTK entry named as a messaging application, and Pimsel with both services on a local server.
TEST(Messaging, StickerAndGifCommandsPasteThePickAndOnlyInAMessagingApp) {
    XView x;
    ASSERT_TRUE(x.isOpen());
    PageServer server{{{cdnPath + "1f973/512.gif", servedGif}, {cdnPath + "1f389/512.gif", servedGif}}};
    ASSERT_TRUE(server.isReady());
    server.put(QStringLiteral("v1/gifs/trending"), gifAnswer(server, {"t1", "t2", "t3", "t4"}));
    server.put(QStringLiteral("v1/gifs/search"), gifAnswer(server, {"cat1", "cat2"}));
    for (const char* id : {"t1", "t2", "t3", "t4", "cat1", "cat2"})
        server.put(QStringLiteral("m/%1.gif").arg(QLatin1String(id)), servedGif);
    QTemporaryDir scratch;
    const QString script = scratch.filePath(QStringLiteral("signal"));
    ASSERT_TRUE(QFile::copy(TargetApp::gtkScript(), script));
    const TargetApp app(TargetApp::Kind::gtk, QStringList{}, script);
    ASSERT_TRUE(app.isReady()) << app.output().toStdString();
    FrontmostApplication frontmost;
    ASSERT_TRUE(pumpUntil([&] { return frontmost.frontmostApplicationId() == QStringLiteral("signal"); }));
    // The session's own keyboard, as a user's: it follows the window manager's activation.
    Typist typist(Typist::Keyboard::core);
    ASSERT_TRUE(typist.isReady()) << typist.error();
    typist.setKeyDelay(userKeyDelay);
    Profile profile;
    QProcessEnvironment env;
    const QString origin = server.url(QString()).adjusted(QUrl::StripTrailingSlash).toString();
    env.insert(QStringLiteral("PIMSEL_STICKER_CDN_BASE"), origin);
    env.insert(QStringLiteral("PIMSEL_GIPHY_API_BASE"), origin);
    env.insert(QStringLiteral("PIMSEL_GIPHY_API_KEY"), QStringLiteral("test-key"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), scratch.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("TMPDIR"), scratch.path());
    PimselProcess pimsel(profile, env);
    ASSERT_TRUE(pimsel.waitForHook()) << pimsel.output().toStdString();
    pump(1s);
    ASSERT_TRUE(typist.activate(app.window()));
    const auto type = [&](const char* text) { whileUserTypes([&] { typist.type(text); }); };

    // The picker's window once it is on screen, within `patience`.
    const auto picker = [&](std::chrono::milliseconds patience = 5s) {
        xcb_window_t found = XCB_WINDOW_NONE;
        pumpUntil(
            [&] {
                for (xcb_window_t w : x.managedWindows(pimsel.pid())) {
                    if (x.rootGeometry(w).value_or(QRect()).size() == QSize(420, 480) && x.isViewable(w))
                        found = w;
                }
                return found != XCB_WINDOW_NONE;
            },
            patience);
        return found;
    };
    // The staged file `name` is pasted: the field then ends with its address and the messaging
    // window has the keyboard back. (The clipboard around the paste: insertion_e2e.)
    QString expected;
    const auto expectPasted = [&](const QString& name) {
        const QString file = scratch.filePath(QStringLiteral("PimselStickers/") + name);
        // A GTK entry takes a pasted file as its address: the command gave way to exactly that.
        expected += QUrl::fromLocalFile(file).toString();
        EXPECT_EQ(app.waitForText(expected).toStdString(), expected.toStdString());
        QFile staged(file);
        EXPECT_TRUE(staged.open(QIODevice::ReadOnly) && staged.readAll() == servedGif);
        EXPECT_TRUE(pumpUntil([&] { return x.activeWindow() == app.window(); }, 1s))
            << "the messaging window did not get the keyboard back: 0x" << std::hex << x.activeWindow();
        pump(700ms); // the insertion ends with the user's clipboard back, 600 ms after the paste
    };

    // "/sticker ": the Space opens the picker; the query filters it without reaching the field, and
    // Return pastes the first sticker for "party", whichever of the two the ranking puts first.
    type("/sticker ");
    ASSERT_EQ(app.waitForText(QStringLiteral("/sticker")).toStdString(), "/sticker") << "the Space was typed";
    xcb_window_t window = picker();
    ASSERT_NE(window, XCB_WINDOW_NONE) << pimsel.output().toStdString();
    type("party");
    pump(300ms);
    EXPECT_EQ(app.settledText().toStdString(), "/sticker") << "the query reached the field";
    whileUserTypes([&] { typist.key("Return"); });
    QString file;
    ASSERT_TRUE(pumpUntil([&] {
        const QStringList staged = QDir(scratch.filePath("PimselStickers")).entryList(QDir::Files);
        file = staged.size() == 1 ? staged.first() : QString();
        return !file.isEmpty();
    })) << pimsel.output().toStdString();
    expectPasted(file);
    EXPECT_FALSE(x.isViewable(window));

    // "/gif ": trending first, then a search; a click on the first cell pastes it.
    type(" /gif ");
    expected += QLatin1Char(' ');
    ASSERT_NE(window = picker(), XCB_WINDOW_NONE) << pimsel.output().toStdString();
    EXPECT_TRUE(pumpUntil([&] { return server.wasRequested("v1/gifs/trending?api_key=test-key&"); }));
    type("cats");
    EXPECT_TRUE(pumpUntil([&] { return server.wasRequested("v1/gifs/search?api_key=test-key&"); }));
    EXPECT_TRUE(server.wasRequested("v1/gifs/search?api_key=test-key&limit=30&rating=pg-13&bundle="
                                    "messaging_non_clips&q=cats"));
    pump(500ms); // the answer replaces the trending cells
    // The first cell sits at the grid's top left, under the search row.
    const QRect frame = x.rootGeometry(window).value_or(QRect());
    ASSERT_TRUE(typist.click(frame.left() + 76, frame.top() + 100));
    expectPasted(QStringLiteral("giphy-cat1.gif"));

    // Escape closes the picker and takes the command back out: the Space never reached the field.
    type(" /gif ");
    ASSERT_NE(window = picker(), XCB_WINDOW_NONE);
    whileUserTypes([&] { typist.key("Escape"); });
    EXPECT_TRUE(pumpUntil([&] { return !x.isViewable(window); }));
    EXPECT_EQ(app.waitForText(expected + " ").toStdString(), (expected + " ").toStdString());

    // Outside a messaging application the command is only text.
    {
        TargetApp other(TargetApp::Kind::gtk);
        ASSERT_TRUE(other.isReady()) << other.output().toStdString();
        ASSERT_TRUE(typist.activate(other.window()));
        type("/gif ");
        EXPECT_EQ(other.waitForText(QStringLiteral("/gif ")).toStdString(), "/gif ");
        EXPECT_EQ(picker(1500ms), XCB_WINDOW_NONE) << "the picker opened outside a messaging application";
    }
    // The messaging window is left active, as a user leaves it, for what runs next.
    typist.activate(app.window());
    if (HasFailure())
        std::printf("--- Pimsel's log\n%s\n---\n", pimsel.output().toUtf8().constData());
}

} // namespace
} // namespace pimsel::e2e
