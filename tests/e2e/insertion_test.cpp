// Token replacement end to end: Backspaces and a paste into real GTK and Qt fields, and the user's
// clipboard (owned by another process) back byte for byte afterwards.
#include "platform/sticker_insertion_controller.h"
#include "tests/e2e/support/input_fixture.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

namespace pimsel::e2e {
namespace {

const QString smile = QStringLiteral("😄");

class Insertion : public HookedField {
protected:
    // The user types ":smi" after what the field holds.
    void typeToken() {
        const QString before = app->settledText(std::chrono::milliseconds(100));
        type(":smi");
        ASSERT_EQ(field(before + ":smi"), (before + ":smi").toStdString());
    }
    std::unique_ptr<InsertionController>& inserter = path.inserter;
};

// One field through every kind of replacement. A Shift the user holds around the paste is proven
// with the application itself (FastTyping).
TEST_P(Insertion, TokensBecomeEmojiAndTheUsersClipboardSurvivesEveryWay) {
    // The handler sees only the user's keys, and an empty clipboard stays empty.
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
    ASSERT_TRUE(pumpUntil([] { return dumpClipboard().isEmpty(); }));
    typeToken();
    ASSERT_TRUE(path.replace(4, smile));
    QString expected = smile;
    EXPECT_EQ(field(expected), expected.toStdString());
    pump(std::chrono::milliseconds(100));
    EXPECT_EQ(handler.script().toStdString(), ":smi") << "no Backspace or paste reached the handler";
    EXPECT_EQ(dumpClipboard().toStdString(), "");

    // Nothing to erase still pastes and restores.
    type("ab");
    expected += QStringLiteral("ab");
    ASSERT_EQ(field(expected), expected.toStdString());
    ASSERT_TRUE(path.replace(0, smile));
    expected += smile;
    EXPECT_EQ(field(expected), expected.toStdString());

    // An inserter that is gone neither pastes nor completes: the Backspaces went out at once.
    typeToken();
    bool completed = false;
    inserter->replaceToken(4, smile, [&] { completed = true; });
    inserter.reset();
    pump(std::chrono::milliseconds(700));
    EXPECT_FALSE(completed);
    EXPECT_EQ(app->settledText().toStdString(), expected.toStdString());
    inserter = std::make_unique<InsertionController>(path.synthesizer, path.clipboard);

    // Every owner's formats come back byte for byte.
    for (const OwnerKind kind :
         {OwnerKind::qtRichTextAndImage, OwnerKind::gtkRichText, OwnerKind::gtkImage}) {
        SCOPED_TRACE("clipboard owner " + std::to_string(int(kind)));
        const auto owner = clipboardOwner(kind);
        ASSERT_TRUE(owner->ready);
        const QString before = dumpClipboard();
        ASSERT_GE(before.count('\n'), 2) << before.toStdString();
        typeToken();
        ASSERT_TRUE(path.replace(4, smile));
        expected += smile;
        EXPECT_EQ(field(expected), expected.toStdString());
        EXPECT_EQ(dumpClipboard().toStdString(), before.toStdString());
    }

    // A hung owner (stopped by SIGSTOP) costs the paste the save's budget and the GUI thread
    // nothing; the emoji still goes in and the log says what was lost.
    {
        const auto owner = clipboardOwner();
        ASSERT_TRUE(owner->ready);
        typeToken();
        const int lost = log.count(QStringLiteral("clipboard"), QStringLiteral("lost"));
        owner->stop();
        QElapsedTimer clock;
        qint64 lastTurn = 0;
        qint64 longestStall = 0;
        QTimer heartbeat;
        heartbeat.setInterval(5);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, clock.elapsed() - lastTurn);
            lastTurn = clock.elapsed();
        });
        clock.start();
        heartbeat.start();
        qint64 completedAfter = -1;
        inserter->replaceToken(4, smile, [&] { completedAfter = clock.elapsed(); });
        ASSERT_TRUE(pumpUntil([&] { return completedAfter >= 0; }, std::chrono::seconds(30)));
        heartbeat.stop();
        expected += smile;
        EXPECT_EQ(field(expected), expected.toStdString());
        const qint64 unhindered =
            (InsertionController::pasteDelay + InsertionController::clipboardRestoreDelay).count();
        // Hang guards: the save's budget is far below these.
        EXPECT_LE(completedAfter - unhindered, 300);
        EXPECT_LT(longestStall, 300);
        EXPECT_EQ(log.count(QStringLiteral("clipboard"), QStringLiteral("lost")), lost + 1);
    }

    // What someone copies while the emoji is on the clipboard stays there; the emoji itself is
    // offered as transient, so clipboard histories leave it out.
    const auto owner = clipboardOwner();
    ASSERT_TRUE(owner->ready);
    QTemporaryDir dir;
    QFile newer(dir.filePath(QStringLiteral("newer")));
    ASSERT_TRUE(newer.open(QIODevice::WriteOnly));
    newer.write("copied during the paste");
    newer.close();
    const auto reader = clipToolOnSignal({QStringLiteral("dump")});
    const auto copier = clipToolOnSignal({QStringLiteral("own"), "text/plain=" + newer.fileName()});
    ASSERT_TRUE(reader->ready && copier->ready);
    typeToken();
    completed = false;
    inserter->replaceToken(4, smile, [&] { completed = true; });
    expected += smile;
    ASSERT_EQ(field(expected), expected.toStdString());
    reader->signal(SIGUSR1);
    ASSERT_TRUE(reader->waitForExit());
    copier->signal(SIGUSR1);
    ASSERT_TRUE(copier->waitForOutput(QStringLiteral("READY")));
    ASSERT_FALSE(completed) << "the copy came after the restore";
    ASSERT_TRUE(pumpUntil([&] { return completed; }));
    const QString lent = reader->output();
    EXPECT_TRUE(lent.contains(dumpLine(QStringLiteral("text/plain"), smile.toUtf8()))) << lent.toStdString();
    EXPECT_TRUE(lent.contains(dumpLine(QStringLiteral("x-kde-passwordManagerHint"), "secret")))
        << lent.toStdString();
    const QString after = dumpClipboard();
    EXPECT_TRUE(after.contains(dumpLine(QStringLiteral("text/plain"), "copied during the paste")))
        << after.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Targets, Insertion, testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                         targetName);

// A picked sticker replaces the typed "/gif": an animated file goes on the clipboard as the staged
// file, a still one as its PNG bytes, and the owner's clipboard comes back after the paste. A still
// file that cannot be read leaves both the command and the clipboard alone.
TEST(StickerPaste, TheCommandBecomesTheFileOnTheClipboardAndTheOwnersClipboardComesBack) {
    QTemporaryDir dir;
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::green);
    ASSERT_TRUE(image.save(dir.filePath("still.png")));
    ASSERT_TRUE(image.save(dir.filePath("moving.gif"), "PNG"));
    ASSERT_TRUE(image.save(dir.filePath("staged.gif"), "PNG"));
    auto bytes = [&](const char* name) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QUrl staged = QUrl::fromLocalFile(dir.filePath("staged.gif"));
    struct Case {
        const char* file;
        bool isAnimated;
        QString format; // empty: nothing is offered
        QByteArray offered;
        QString fieldAfter;
    };
    const QList<Case> cases{
        // A GTK entry takes a pasted file as its address.
        {"moving.gif", true, "text/uri-list", staged.toEncoded() + "\r\n", staged.toString()},
        {"still.png", false, "image/png", bytes("still.png"), ""},
        {"missing.png", false, "", {}, "/gif"},
    };
    TargetApp app(TargetApp::Kind::gtk);
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    ASSERT_TRUE(typist.focus(app.window()));
    InsertionPath path;
    ASSERT_TRUE(path.started);
    StickerInsertionController inserter(path.synthesizer, path.clipboard,
                                        [&](const QUrl&) { return staged; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto owner = clipboardOwner();
        ASSERT_TRUE(owner->ready);
        const QString before = dumpClipboard();
        whileUserTypes([&] { typist.type("/gif"); });
        ASSERT_EQ(app.waitForText("/gif").toStdString(), "/gif");

        bool completed = false;
        QByteArray seen;
        QByteArray gnome;
        inserter.insert(QUrl::fromLocalFile(dir.filePath(QString::fromLatin1(c.file))), c.isAnimated, 4,
                        [&] { completed = true; });
        ASSERT_TRUE(pumpUntil([&] {
            // The loan is this process's own data, read without a round trip, and marked transient;
            // the owner's clipboard may hold the same format.
            const QMimeData* now = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
            if (now && now->hasFormat(QStringLiteral("x-kde-passwordManagerHint")) && !c.format.isEmpty()) {
                seen = now->data(c.format);
                gnome = now->data(QStringLiteral("x-special/gnome-copied-files"));
            }
            return completed;
        }));
        EXPECT_EQ(seen, c.offered);
        if (c.isAnimated) {
            EXPECT_EQ(gnome, "copy\n" + staged.toEncoded());
        }
        EXPECT_EQ(app.waitForText(c.fieldAfter).toStdString(), c.fieldAfter.toStdString());
        EXPECT_EQ(dumpClipboard().toStdString(), before.toStdString());
        if (!c.fieldAfter.isEmpty())
            path.synthesizer.pressBackspace(int(c.fieldAfter.size()));
        ASSERT_EQ(app.waitForText("").toStdString(), "");
    }
}

TEST(ClipboardSnapshot, TheSecondOfTwoSavesIsWhatComesBack) {
    QClipboard* board = QGuiApplication::clipboard();
    ClipboardManager manager;
    board->setText(QStringLiteral("first"));
    manager.save({});
    auto* second = new QMimeData;
    second->setData(QStringLiteral("text/plain"), "second");
    second->setData(QStringLiteral("application/x-pimsel-test"), QByteArray("\x00\x01\x02", 3));
    board->setMimeData(second);
    manager.save({});
    manager.lend(QStringLiteral("third"));
    manager.restore();
    EXPECT_FALSE(manager.hasSnapshot());
    const QMimeData* now = board->mimeData();
    ASSERT_TRUE(now);
    EXPECT_EQ(now->data(QStringLiteral("text/plain")), QByteArray("second"));
    EXPECT_EQ(now->data(QStringLiteral("application/x-pimsel-test")), QByteArray("\x00\x01\x02", 3));
}

} // namespace
} // namespace pimsel::e2e
