// Token replacement end to end: Backspaces and a paste into real GTK and Qt fields, and the user's
// clipboard (owned by another process) back byte for byte afterwards.
#include "platform/sticker_insertion_controller.h"
#include "tests/e2e/support/clipboard_support.h"
#include "tests/e2e/support/desktop.h"
#include "tests/e2e/support/target_app.h"
#include "tests/e2e/support/typist.h"

#include <QBuffer>
#include <QClipboard>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace pimsel::e2e {
namespace {

const QString smile = QStringLiteral("😄");

// One line of clip_tool's dump: format, size and digest.
QString dumpLine(const QString& format, const QByteArray& bytes) {
    return QStringLiteral("%1 %2 %3\n")
        .arg(format)
        .arg(bytes.size())
        .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
}

class Insertion : public testing::TestWithParam<TargetApp::Kind> {
protected:
    void SetUp() override {
        app = std::make_unique<TargetApp>(GetParam());
        ASSERT_TRUE(app->isReady()) << app->diagnostics().toStdString();
        typist = std::make_unique<Typist>();
        ASSERT_TRUE(typist->isReady()) << typist->error();
        ASSERT_TRUE(typist->focus(app->window()));
        ASSERT_TRUE(path.started);
    }

    void typeToken() {
        whileUserTypes([&] { typist->type(":smi"); });
        ASSERT_EQ(app->waitForText(":smi").toStdString(), ":smi");
    }

    bool replace(int eraseCount, const QString& text) { return path.replace(eraseCount, text); }

    ScriptedHandler handler;
    InsertionPath path{&handler};
    std::unique_ptr<InsertionController>& inserter = path.inserter;
    std::unique_ptr<TargetApp> app;
    std::unique_ptr<Typist> typist;
};

// A Shift the user holds around the paste is proven with the application itself (FastTyping).
TEST_P(Insertion, TheTokenBecomesTheEmojiTheHandlerSeesOnlyTheUsersKeysAndAnEmptyClipboardStaysEmpty) {
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
    ASSERT_TRUE(pumpUntil([] { return dumpClipboard().isEmpty(); }));
    typeToken();
    ASSERT_TRUE(replace(4, smile));
    EXPECT_EQ(app->waitForText(smile).toStdString(), smile.toStdString());
    pump(std::chrono::milliseconds(100));
    EXPECT_EQ(handler.script().toStdString(), ":smi") << "no Backspace or paste reached the handler";
    EXPECT_EQ(dumpClipboard().toStdString(), "");
}

TEST_P(Insertion, NothingToEraseStillPastesAndRestores) {
    whileUserTypes([&] { typist->type("ab"); });
    ASSERT_EQ(app->waitForText("ab").toStdString(), "ab");
    ASSERT_TRUE(replace(0, smile));
    EXPECT_EQ(app->waitForText("ab" + smile).toStdString(), ("ab" + smile).toStdString());
}

TEST_P(Insertion, AnInserterThatIsGoneNeitherPastesNorCompletes) {
    typeToken();
    bool completed = false;
    inserter->replaceToken(4, smile, [&] { completed = true; });
    inserter.reset();
    pump(std::chrono::milliseconds(700));
    EXPECT_FALSE(completed);
    EXPECT_EQ(app->settledText().toStdString(), "") << "the Backspaces went out at once, the paste never";
}

// A hung owner (stopped by SIGSTOP) costs the paste the save's budget and the GUI thread nothing;
// the emoji still goes in and the log says what was lost.
TEST_P(Insertion, AStoppedClipboardOwnerDelaysThePasteByTheSaveBudgetAtMost) {
    ClipboardOwner owner;
    ASSERT_TRUE(owner.ready);
    typeToken();
    LogRecorder log;
    owner.stop();
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
    EXPECT_EQ(app->waitForText(smile).toStdString(), smile.toStdString());
    const qint64 unhindered =
        (InsertionController::pasteDelay + InsertionController::clipboardRestoreDelay).count();
    std::printf("stopped owner: insertion complete after %lld ms (%lld without the save), longest GUI stall "
                "%lld ms\n",
                static_cast<long long>(completedAfter), static_cast<long long>(unhindered),
                static_cast<long long>(longestStall));
    EXPECT_LE(completedAfter - unhindered, 300);
    EXPECT_LT(longestStall, 300);
    EXPECT_EQ(log.count(QStringLiteral("clipboard"), QStringLiteral("lost")), 1);
}

// What someone copies while the emoji is on the clipboard stays there; the emoji itself is offered
// as transient, so clipboard histories leave it out.
TEST_P(Insertion, ACopyMadeDuringThePasteSurvivesAndThePasteIsTransient) {
    ClipboardOwner owner;
    ASSERT_TRUE(owner.ready);
    QTemporaryDir dir;
    QFile newer(dir.filePath(QStringLiteral("newer")));
    ASSERT_TRUE(newer.open(QIODevice::WriteOnly));
    newer.write("copied during the paste");
    newer.close();
    ClipToolOnSignal reader({QStringLiteral("dump")});
    ClipToolOnSignal copier({QStringLiteral("own"), "text/plain=" + newer.fileName()});
    ASSERT_TRUE(reader.ready && copier.ready);
    typeToken();

    bool completed = false;
    inserter->replaceToken(4, smile, [&] { completed = true; });
    ASSERT_EQ(app->waitForText(smile).toStdString(), smile.toStdString());
    reader.fire();
    ASSERT_TRUE(reader.waitForExit());
    copier.fire();
    ASSERT_TRUE(copier.waitForOutput(QStringLiteral("READY")));
    ASSERT_FALSE(completed) << "the copy came after the restore";
    ASSERT_TRUE(pumpUntil([&] { return completed; }));

    const QString lent = reader.output();
    EXPECT_TRUE(lent.contains(dumpLine(QStringLiteral("text/plain"), smile.toUtf8()))) << lent.toStdString();
    EXPECT_TRUE(lent.contains(dumpLine(QStringLiteral("x-kde-passwordManagerHint"), "secret")))
        << lent.toStdString();
    const QString after = dumpClipboard();
    EXPECT_TRUE(after.contains(dumpLine(QStringLiteral("text/plain"), "copied during the paste")))
        << after.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Targets, Insertion, testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                         targetName);

// Every owner in every target: the clipboard another application holds comes back byte for byte.
class ClipboardLoan : public testing::TestWithParam<std::tuple<TargetApp::Kind, ClipboardOwner::Kind>> {};

TEST_P(ClipboardLoan, TheOwnersFormatsComeBackByteIdentical) {
    const auto [targetKind, ownerKind] = GetParam();
    ClipboardOwner owner(ownerKind);
    ASSERT_TRUE(owner.ready);
    const QString before = dumpClipboard();
    ASSERT_GE(before.count('\n'), 2) << before.toStdString();

    TargetApp app(targetKind);
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    ASSERT_TRUE(typist.focus(app.window()));
    InsertionPath path;
    ASSERT_TRUE(path.started);

    whileUserTypes([&] { typist.type(":smi"); });
    ASSERT_EQ(app.waitForText(":smi").toStdString(), ":smi");
    ASSERT_TRUE(path.replace(4, smile));
    EXPECT_EQ(app.waitForText(smile).toStdString(), smile.toStdString());
    EXPECT_EQ(dumpClipboard().toStdString(), before.toStdString());
}

INSTANTIATE_TEST_SUITE_P(Owners, ClipboardLoan,
                         testing::Combine(testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                                          testing::Values(ClipboardOwner::Kind::qtRichTextAndImage,
                                                          ClipboardOwner::Kind::gtkRichText,
                                                          ClipboardOwner::Kind::gtkImage)),
                         [](const auto& info) {
                             return TargetApp::kindName(std::get<0>(info.param)).toStdString() + "_" +
                                    ClipboardOwner::kindName(std::get<1>(info.param));
                         });

// Quitting hands the user's clipboard to the session's clipboard manager (a stand-in here): after an
// insertion, when Pimsel holds the restored clipboard, and during one, when it still holds the emoji.
TEST(ClipboardHandOver, QuittingLeavesTheUsersClipboardWithTheClipboardManager) {
    for (const bool duringTheInsertion : {false, true}) {
        SCOPED_TRACE(duringTheInsertion ? "quit during the insertion" : "quit after the insertion");
        QProcess manager;
        manager.start(QStringLiteral(PIMSEL_E2E_CLIP_MANAGER), {});
        ASSERT_TRUE(pumpUntil(
            [&] { return manager.canReadLine() || (manager.waitForReadyRead(5) && manager.canReadLine()); }));
        ClipboardOwner owner;
        ASSERT_TRUE(owner.ready);
        const QString before = dumpClipboard();
        ASSERT_GE(before.count('\n'), 2) << before.toStdString();
        TargetApp app(TargetApp::Kind::gtk);
        ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();

        // The typist's keyboard exists before the hook starts, so the hook follows it from the start.
        Typist typist;
        ASSERT_TRUE(typist.isReady()) << typist.error();
        Profile profile;
        PimselProcess pimsel(profile);
        ASSERT_TRUE(pimsel.waitForHook()) << pimsel.output().toStdString();
        // Keys in the first moments after the hook reports may still go unseen.
        pump(std::chrono::seconds(1));
        // Slow enough for Pimsel to arm the grab of the closing colon between keys, as for a person.
        typist.setKeyDelay(std::chrono::milliseconds(30));
        ASSERT_TRUE(typist.activate(app.window()));
        ASSERT_TRUE(typist.focus(app.window()));
        whileUserTypes([&] { typist.type(":tada"); });
        // The first field check of a session asks the accessibility bus cold; the closing colon
        // accepts once the popover is up.
        ASSERT_EQ(app.waitForText(QStringLiteral(":tada")).toStdString(), ":tada");
        pump(std::chrono::milliseconds(700));
        whileUserTypes([&] { typist.type(":"); });
        const QString tada = QStringLiteral("🎉");
        ASSERT_EQ(app.waitForText(tada).toStdString(), tada.toStdString()) << pimsel.output().toStdString();
        if (!duringTheInsertion)
            pump(std::chrono::milliseconds(800));
        ::kill(pid_t(pimsel.pid()), SIGTERM);
        ASSERT_TRUE(pumpUntil([&] { return !pimsel.isRunning(); }));

        QString now;
        pumpUntil([&] { return (now = dumpClipboard()) == before; });
        EXPECT_EQ(now.toStdString(), before.toStdString()) << pimsel.output().toStdString();
        manager.kill();
        manager.waitForFinished(2000);
    }
}

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
        ClipboardOwner owner;
        ASSERT_TRUE(owner.ready);
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

TEST(ClipboardSnapshot, BookkeepingTargetsAreNotData) {
    for (const char* format : {"TARGETS", "TIMESTAMP", "MULTIPLE", "SAVE_TARGETS", "application/x-qt-image"})
        EXPECT_TRUE(ClipboardManager::isBookkeepingFormat(QString::fromLatin1(format))) << format;
    for (const char* format : {"text/plain", "image/png", "UTF8_STRING", "targets"})
        EXPECT_FALSE(ClipboardManager::isBookkeepingFormat(QString::fromLatin1(format))) << format;
}

} // namespace
} // namespace pimsel::e2e
