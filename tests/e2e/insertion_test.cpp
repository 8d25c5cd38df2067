// Token replacement end to end: Backspaces and a paste into real GTK and Qt fields, and the user's
// clipboard (owned by another process) back byte for byte afterwards.
#include "platform/clipboard_manager.h"
#include "platform/event_tap_manager.h"
#include "platform/insertion_controller.h"
#include "platform/keyboard_synthesizer.h"
#include "tests/e2e/support/clipboard_support.h"
#include "tests/e2e/support/input_fixture.h"
#include "tests/e2e/support/target_app.h"
#include "tests/e2e/typist.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pimsel::e2e {
namespace {

const QString smile = QStringLiteral("😄");

class Insertion : public testing::TestWithParam<TargetApp::Kind> {
protected:
    void SetUp() override {
        app = std::make_unique<TargetApp>(GetParam());
        ASSERT_TRUE(app->isReady()) << app->diagnostics().toStdString();
        typist = std::make_unique<Typist>();
        ASSERT_TRUE(typist->isReady()) << typist->error();
        ASSERT_TRUE(typist->focus(app->window()));
        tap.setHandler(&handler);
        ASSERT_TRUE(tap.start());
    }

    void typeToken() {
        whileUserTypes([&] { typist->type(":smi"); });
        ASSERT_EQ(app->waitForText(":smi").toStdString(), ":smi");
    }

    // Runs one replacement and waits for its completion; true when it completed.
    bool replace(int eraseCount, const QString& text) {
        bool completed = false;
        inserter->replaceToken(eraseCount, text, [&] { completed = true; });
        return pumpUntil([&] { return completed; });
    }

    ScriptedHandler handler;
    EventTapManager tap;
    KeyboardSynthesizer synthesizer{tap.ownEvents()};
    ClipboardManager clipboard;
    std::unique_ptr<InsertionController> inserter =
        std::make_unique<InsertionController>(synthesizer, clipboard);
    std::unique_ptr<TargetApp> app;
    std::unique_ptr<Typist> typist;
};

TEST_P(Insertion, TheTokenBecomesTheEmojiAndTheHandlerSeesOnlyTheUsersKeys) {
    typeToken();
    ASSERT_TRUE(replace(4, smile));
    EXPECT_EQ(app->waitForText(smile).toStdString(), smile.toStdString());
    pump(std::chrono::milliseconds(100));
    EXPECT_EQ(handler.script().toStdString(), ":smi") << "no Backspace or paste reached the handler";
}

TEST_P(Insertion, AnEmptyClipboardStaysEmpty) {
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
    ASSERT_TRUE(pumpUntil([] { return dumpClipboard().isEmpty(); }));
    typeToken();
    ASSERT_TRUE(replace(4, smile));
    EXPECT_EQ(app->waitForText(smile).toStdString(), smile.toStdString());
    EXPECT_EQ(dumpClipboard().toStdString(), "");
}

TEST_P(Insertion, AShiftTheUserHoldsDoesNotTurnThePasteIntoSomethingElse) {
    typeToken();
    Typist keyboard(nullptr, Typist::MasterLifetime::removeOnDestruction, Typist::Keyboard::core);
    ASSERT_TRUE(keyboard.isReady()) << keyboard.error();
    ASSERT_TRUE(keyboard.press("Shift_L"));
    const bool completed = replace(4, smile);
    ASSERT_TRUE(keyboard.release("Shift_L"));
    ASSERT_TRUE(completed);
    EXPECT_EQ(app->waitForText(smile).toStdString(), smile.toStdString());
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

INSTANTIATE_TEST_SUITE_P(Targets, Insertion, testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                         [](const auto& info) { return TargetApp::kindName(info.param).toStdString(); });

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
    EventTapManager tap;
    ASSERT_TRUE(tap.start());
    KeyboardSynthesizer synthesizer(tap.ownEvents());
    ClipboardManager clipboard;
    InsertionController inserter(synthesizer, clipboard);

    whileUserTypes([&] { typist.type(":smi"); });
    ASSERT_EQ(app.waitForText(":smi").toStdString(), ":smi");
    bool completed = false;
    inserter.replaceToken(4, smile, [&] { completed = true; });
    ASSERT_TRUE(pumpUntil([&] { return completed; }));
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

TEST(ClipboardSnapshot, TheSecondOfTwoSavesIsWhatComesBack) {
    QClipboard* board = QGuiApplication::clipboard();
    ClipboardManager manager;
    board->setText(QStringLiteral("first"));
    manager.save();
    auto* second = new QMimeData;
    second->setData(QStringLiteral("text/plain"), "second");
    second->setData(QStringLiteral("application/x-pimsel-test"), QByteArray("\x00\x01\x02", 3));
    board->setMimeData(second);
    manager.save();
    board->setText(QStringLiteral("third"));
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
