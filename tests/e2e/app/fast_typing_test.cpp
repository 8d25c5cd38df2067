// The built application under a fast typist in GTK, Qt and Chromium fields. What the user waits for
// there is measured by bench/desktop_bench.cpp.
#include "tests/e2e/support/typing_fixture.h"

#include <thread>

namespace pimsel::e2e {
namespace {

// A fast typist: bursts at 10 ms a key, and the user's own Shift on the session's keyboard held
// around an insertion and let go at any moment of it. Every shortcode is replaced, the paste is
// never Control+Shift+V, no key stays down on any XTEST keyboard, and what is typed next comes out
// as typed.
using FastTyping = Typing;

TEST_P(FastTyping, FullSpeedBurstsAndAShiftHeldAroundTheInsertion) {
    const QString smile = profile.topResult(QStringLiteral("smi"));
    QString expected;
    if (GetParam() == TargetApp::Kind::chromium) {
        // The page's input gets the popover in its caret's line. At the end of the text the browser
        // gives the caret's character no box: the one before it places the caret, not the field.
        type(":smi");
        expected = QStringLiteral(":smi");
        ASSERT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
        const std::optional<QRect> popover = waitForPopover();
        ASSERT_TRUE(popover) << pimsel->output().toStdString();
        const std::optional<QRect> caret = focus.caretRect();
        const std::optional<AtspiRef> field = focus.focusedElement();
        ASSERT_TRUE(caret && field);
        QueryDeadline deadline(250);
        const std::optional<QRect> fieldBox = probe.extents(deadline, *field);
        ASSERT_TRUE(fieldBox);
        EXPECT_GT(caret->left(), fieldBox->left() + 10) << "the caret is not after the typed text";
        EXPECT_LT(caret->height(), fieldBox->height() + 1);
        EXPECT_NEAR(popover->top(), caret->y() + caret->height() + 6, 1)
            << "caret " << caret->y() << "+" << caret->height() << ", popover at " << popover->top();
        EXPECT_NEAR(popover->left(), caret->left(), 30);
        key("Escape");
        EXPECT_TRUE(popoverGone());
        settle();
    }
    typist->setKeyDelay(10ms);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        type(" hello :tada:");
        expected += QStringLiteral(" hello 🎉");
        ASSERT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
        settle();
        type(" :smi\t");
        expected += QStringLiteral(" ") + smile;
        ASSERT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
        settle();
    }

    // The held Shift is a matter of the X server's key states and Pimsel alone: GTK and Qt show it.
    if (GetParam() == TargetApp::Kind::chromium)
        return;
    Typist second(nullptr, Typist::MasterLifetime::keep, Typist::Keyboard::core);
    ASSERT_TRUE(second.isReady()) << second.error();
    second.setKeyDelay(0ms);
    ASSERT_TRUE(second.activate(app->window()));
    for (int hold : {0, 1, 2, 3, 5, 8, 12, 20, 40, 80, 250}) {
        SCOPED_TRACE("Shift let go " + std::to_string(hold) + " ms after the closing trigger");
        type(" :tada");
        expected += QStringLiteral(" :tada");
        ASSERT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
        whileUserTypes([&] {
            second.press("Shift_L");
            second.press("colon");
            second.release("colon");
            std::this_thread::sleep_for(std::chrono::milliseconds(hold));
            second.release("Shift_L");
        });
        expected = expected.left(expected.size() - 5) + QStringLiteral("🎉");
        EXPECT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
        settle();
        EXPECT_TRUE(Typist::keysHeldOnXtestKeyboards().empty());
        whileUserTypes([&] { second.type("a"); });
        expected += QStringLiteral("a");
        ASSERT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FastTyping,
                         testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt,
                                         TargetApp::Kind::chromium),
                         targetName);

} // namespace
} // namespace pimsel::e2e
