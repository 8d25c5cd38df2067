#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view.h"
#include "ui/emoji_browser_view_model.h"
#include "ui/emoji_browser_window_controller.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

constexpr quint32 editorWindow = 0x4200007;

QList<EmojiEntry> smallCatalogue() {
    QList<EmojiEntry> entries;
    const QStringList aliases = {"tada", "smile", "heart",  "cat",   "dog",
                                 "fire", "star",  "rocket", "pizza", "sun"};
    for (int i = 0; i < aliases.size(); ++i) {
        EmojiEntry e;
        e.emoji = QString(QChar(0x2600 + i));
        e.name = aliases[i];
        e.aliases = {aliases[i]};
        e.category = QStringLiteral("Objects");
        entries.append(e);
    }
    return entries;
}

// Records what the controller asks of the desktop and reports, in one timeline.
struct Recorder {
    QStringList events;
    quint32 activeWindow = editorWindow;
    QList<quint32> activated;
    int picks = 0;
    int dismissals = 0;

    WindowActivation activation() {
        return {[this] { return activeWindow; },
                [this](quint32 window) {
                    activated.append(window);
                    events.append(QStringLiteral("activate %1").arg(window, 0, 16));
                }};
    }
    EmojiBrowserCallbacks callbacks() {
        return {[this](const EmojiEntry& e) {
                    ++picks;
                    events.append(QStringLiteral("pick ") + e.aliases.first());
                },
                [this] {
                    ++dismissals;
                    events.append(QStringLiteral("dismiss"));
                }};
    }
};

class EmojiBrowserControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller = std::make_unique<EmojiBrowserWindowController>(recorder.activation());
        controller->setCallbacks(recorder.callbacks());
    }

    // Shows the browser and lets the deferred make-key step run.
    void open() {
        controller->show(smallCatalogue());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->panel()));
        QCoreApplication::processEvents();
    }

    Recorder recorder;
    std::unique_ptr<EmojiBrowserWindowController> controller;
};

} // namespace

TEST_F(EmojiBrowserControllerTest, OpensOneReusedPanelThatTakesTheKeyboard) {
    open();
    EmojiBrowserPanel* panel = controller->panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->size(), QSize(440, 520));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Browse Emoji"));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(panel->windowType(), Qt::Tool);
    EXPECT_EQ(controller->targetWindow(), editorWindow);
    // The panel asked for the keyboard for itself, never for the editor.
    EXPECT_EQ(recorder.activated, QList<quint32>{static_cast<quint32>(panel->winId())});
    EXPECT_EQ(QApplication::activeWindow(), panel);

    controller->model().close();
    recorder.activeWindow = 0x4300001;
    open();
    EXPECT_EQ(controller->panel(), panel);
    EXPECT_EQ(controller->targetWindow(), 0x4300001u);
    EXPECT_FALSE(controller->isFinishing());
}

TEST_F(EmojiBrowserControllerTest, PickReactivatesTheTargetAtOnceAndReportsOnceAfterTheDelay) {
    open();
    controller->model().appendToQuery(QStringLiteral("tada"));
    const std::optional<EmojiEntry> selected = controller->model().selectedEntry();
    ASSERT_TRUE(selected.has_value());
    recorder.events.clear();

    controller->model().pick(*selected);
    EXPECT_FALSE(controller->panel()->isVisible());
    EXPECT_EQ(recorder.events, QStringList{QStringLiteral("activate %1").arg(editorWindow, 0, 16)});
    EXPECT_EQ(recorder.picks, 0); // not before the target has the keyboard again

    // Further picks, closes and the deactivation that follows hiding change nothing.
    controller->model().pick(*selected);
    controller->model().close();
    controller->cancel();
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.picks > 0; }, 2000));
    QTest::qWait(2 * EmojiBrowserWindowController::reactivateDelayMs);
    EXPECT_EQ(recorder.events, (QStringList{QStringLiteral("activate %1").arg(editorWindow, 0, 16),
                                            QStringLiteral("pick tada")}));
    EXPECT_EQ(recorder.dismissals, 0);
}

TEST_F(EmojiBrowserControllerTest, EscapeThenLosingTheKeyboardDismissesOnce) {
    open();
    recorder.events.clear();
    controller->model().close();
    EXPECT_EQ(recorder.dismissals, 1); // at once, no delay
    EXPECT_FALSE(controller->panel()->isVisible());
    QWidget other;
    other.show();
    other.activateWindow();
    QTest::qWait(50);
    EXPECT_EQ(recorder.dismissals, 1);
    EXPECT_EQ(recorder.events, (QStringList{QStringLiteral("activate %1").arg(editorWindow, 0, 16),
                                            QStringLiteral("dismiss")}));
}

TEST_F(EmojiBrowserControllerTest, AnotherWindowTakingTheKeyboardClosesTheBrowser) {
    open();
    ASSERT_EQ(QApplication::activeWindow(), controller->panel());
    recorder.events.clear();

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.dismissals > 0; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(recorder.dismissals, 1);
    EXPECT_FALSE(controller->panel()->isVisible());
    EXPECT_TRUE(controller->isFinishing());
    EXPECT_EQ(recorder.picks, 0);
}

TEST_F(EmojiBrowserControllerTest, TheWindowManagerClosingThePanelIsADismissal) {
    open();
    controller->panel()->close();
    EXPECT_EQ(recorder.dismissals, 1);
    EXPECT_FALSE(controller->panel()->isVisible());
    open(); // the same panel comes back
    EXPECT_TRUE(controller->panel()->isVisible());
}

TEST_F(EmojiBrowserControllerTest, KeysDeliveredToThePanelAreNotAppliedASecondTime) {
    open();
    EmojiBrowserPanel* panel = controller->panel();
    QTest::keyClicks(panel, QStringLiteral("cat"));
    QTest::keyClick(panel, Qt::Key_Down);
    QTest::keyClick(panel, Qt::Key_Escape);
    QTest::keyClick(panel, Qt::Key_Return);
    EXPECT_TRUE(controller->model().query().isEmpty());
    EXPECT_EQ(controller->viewModel().selectedIndex(), 0);
    EXPECT_EQ(recorder.dismissals, 0);
    EXPECT_EQ(recorder.picks, 0);
    EXPECT_TRUE(panel->isVisible());
    // Nothing inside can take the focus and receive keys of its own.
    for (QWidget* child : panel->findChildren<QWidget*>())
        EXPECT_EQ(child->focusPolicy(), Qt::NoFocus) << child->metaObject()->className();
}

TEST_F(EmojiBrowserControllerTest, ClickingACellPicksItThroughTheSameDelayedPath) {
    open();
    EmojiBrowserGrid* grid = controller->panel()->view()->grid();
    const QPoint cell = grid->gridLayout().cellRect(3).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell);
    EXPECT_FALSE(controller->panel()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.picks > 0; }, 2000));
    EXPECT_EQ(recorder.events.last(), QStringLiteral("pick cat"));
}

TEST_F(EmojiBrowserControllerTest, ClosingBeforeTheDeferredMakeKeyLeavesTheKeyboardAlone) {
    controller->show(smallCatalogue());
    controller->model().close(); // in the same turn of the event loop
    QTest::qWait(20);
    EXPECT_EQ(recorder.activated, QList<quint32>{editorWindow});
    EXPECT_EQ(recorder.dismissals, 1);
}

TEST_F(EmojiBrowserControllerTest, PickIsDroppedWhenTheControllerGoesFirst) {
    open();
    controller->model().pick(smallCatalogue().first());
    controller.reset();
    QTest::qWait(2 * EmojiBrowserWindowController::reactivateDelayMs);
    EXPECT_EQ(recorder.picks, 0);
    EXPECT_EQ(recorder.dismissals, 0);
}

TEST_F(EmojiBrowserControllerTest, NoTargetWindowMeansNothingToReactivateButThePickStillArrives) {
    recorder.activeWindow = 0;
    open();
    recorder.activated.clear();
    controller->model().pick(smallCatalogue()[1]);
    EXPECT_TRUE(recorder.activated.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.picks > 0; }, 2000));
    EXPECT_EQ(recorder.events.last(), QStringLiteral("pick smile"));
}

TEST_F(EmojiBrowserControllerTest, ReopeningWhileThePanelStillHasTheKeyboardKeepsTheTarget) {
    open();
    controller->model().close();
    // The window manager has not handed the keyboard back yet.
    recorder.activeWindow = static_cast<quint32>(controller->panel()->winId());
    open();
    EXPECT_EQ(controller->targetWindow(), editorWindow);
    recorder.activated.clear();
    controller->model().close();
    EXPECT_EQ(recorder.activated, QList<quint32>{editorWindow});
}
