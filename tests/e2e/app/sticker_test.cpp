// "/sticker" in a messaging application, typed as a user would, against the built application
// with its sticker CDN on a local server: the picker opens, filters, and Return pastes the
// downloaded file in place of the command while the user's clipboard comes back afterwards.
#include "tests/e2e/support/clipboard_support.h"
#include "tests/e2e/support/typing_fixture.h"
#include "tests/e2e/support/web.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

namespace pimsel::e2e {
namespace {

// A whole one-pixel GIF: what the CDN serves for every sticker of the test.
const QByteArray
    servedGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00,"
              "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;",
              43);

QString dumpLineOf(const QString& format, const QByteArray& bytes) {
    return QStringLiteral("%1 %2 %3")
        .arg(format)
        .arg(bytes.size())
        .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
}

TEST(StickerCommand, PickingAFilteredStickerPastesTheDownloadedFileInPlaceOfTheCommand) {
    XView x;
    ASSERT_TRUE(x.isOpen());
    const QString cdnPath = QStringLiteral("s/e/notoemoji/latest/");
    PageServer cdn({{cdnPath + "1f973/512.gif", servedGif}, {cdnPath + "1f389/512.gif", servedGif}});
    ASSERT_TRUE(cdn.isReady());

    // A GTK entry under the name of a messaging application stands in for one.
    QTemporaryDir scratch;
    const QString script = scratch.filePath(QStringLiteral("signal"));
    ASSERT_TRUE(QFile::copy(TargetApp::gtkScript(), script));
    TargetApp app(TargetApp::Kind::gtk, {}, script);
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    FrontmostApplication frontmost;
    ASSERT_TRUE(pumpUntil([&] { return frontmost.frontmostApplicationId() == QStringLiteral("signal"); }))
        << frontmost.frontmostApplicationId().value_or(QStringLiteral("(none)")).toStdString();

    const auto owner = clipboardOwner();
    ASSERT_TRUE(owner->ready);
    const QString before = dumpClipboard();

    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    Profile profile;
    QProcessEnvironment env;
    const QString origin = cdn.url(QString()).adjusted(QUrl::StripTrailingSlash).toString();
    env.insert(QStringLiteral("PIMSEL_STICKER_CDN_BASE"), origin);
    env.insert(QStringLiteral("PIMSEL_GIPHY_API_BASE"), origin);
    env.insert(QStringLiteral("PIMSEL_GIPHY_API_KEY"), QString());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), scratch.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("TMPDIR"), scratch.path());
    PimselProcess pimsel(profile, env);
    ASSERT_TRUE(pimsel.waitForHook()) << pimsel.output().toStdString();
    pump(1s);
    typist.setKeyDelay(userKeyDelay);
    ASSERT_TRUE(typist.activate(app.window()));
    ASSERT_TRUE(typist.focus(app.window()));

    whileUserTypes([&] { typist.type("/sticker "); });
    ASSERT_EQ(app.waitForText(QStringLiteral("/sticker")).toStdString(), "/sticker") << "the Space was typed";
    xcb_window_t picker = XCB_WINDOW_NONE;
    ASSERT_TRUE(pumpUntil([&] {
        for (xcb_window_t w : x.managedWindows(pimsel.pid())) {
            if (x.rootGeometry(w).value_or(QRect()).size() == QSize(420, 480) && x.isViewable(w))
                picker = w;
        }
        return picker != XCB_WINDOW_NONE;
    })) << pimsel.output().toStdString();

    whileUserTypes([&] { typist.type("party"); });
    pump(300ms);
    EXPECT_EQ(app.settledText().toStdString(), "/sticker") << "the query reached the field";
    whileUserTypes([&] { typist.key("Return"); });

    // The pick is the first sticker for "party"; both candidates are staged under their file name.
    const QString staging = scratch.filePath(QStringLiteral("PimselStickers"));
    QStringList offered;
    for (const char* name : {"1f973.gif", "1f389.gif"}) {
        const QByteArray uri = QUrl::fromLocalFile(staging + "/" + QLatin1String(name)).toEncoded();
        offered << dumpLineOf(QStringLiteral("text/uri-list"), uri + "\r\n");
    }
    QString during;
    ASSERT_TRUE(pumpUntil(
        [&] {
            during = dumpClipboard();
            return during.contains(offered[0]) || during.contains(offered[1]);
        },
        5s))
        << during.toStdString() << pimsel.output().toStdString();
    const QStringList staged = QDir(staging).entryList(QDir::Files);
    ASSERT_EQ(staged.size(), 1) << staged.join(' ').toStdString();
    QFile file(staging + "/" + staged.first());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), servedGif);

    // A GTK entry takes a pasted file as its address: the command gave way to exactly that.
    const QString address = QUrl::fromLocalFile(file.fileName()).toString();
    EXPECT_EQ(app.waitForText(address).toStdString(), address.toStdString());
    EXPECT_FALSE(x.isViewable(picker));
    QString after;
    EXPECT_TRUE(pumpUntil([&] { return (after = dumpClipboard()) == before; }, 3s)) << after.toStdString();
}

} // namespace
} // namespace pimsel::e2e
