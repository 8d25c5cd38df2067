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
    for (const char* alias :
         {"tada", "smile", "heart", "cat", "dog", "fire", "star", "rocket", "pizza", "sun"}) {
        const QChar symbol(static_cast<char16_t>(0x2600 + entries.size()));
        entries.append(EmojiEntry{symbol, alias, {alias}, "Objects", false, 0});
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
    EXPECT_EQ(panel->size(), QSize(440, 520));
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Browse Emoji"));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(panel->windowType(), Qt::Tool);
    EXPECT_EQ(controller->targetWindow(), editorWindow);
    // The panel asked for the keyboard for itself, never for the editor.
    EXPECT_EQ(recorder.activated, QList<quint32>{static_cast<quint32>(panel->winId())});
    EXPECT_EQ(QApplication::activeWindow(), panel);
    // Nothing inside can take the focus and receive keys of its own.
    for (QWidget* child : panel->findChildren<QWidget*>())
        EXPECT_EQ(child->focusPolicy(), Qt::NoFocus) << child->metaObject()->className();

    controller->panel()->close(); // the window manager closing it is a dismissal
    EXPECT_EQ(recorder.dismissals, 1);
    recorder.activeWindow = 0x4300001;
    open();
    EXPECT_EQ(controller->panel(), panel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(controller->targetWindow(), 0x4300001u);
}

TEST_F(EmojiBrowserControllerTest, PickReactivatesTheTargetAtOnceAndReportsOnceAfterTheDelay) {
    open();
    controller->model().appendToQuery(QStringLiteral("tada"));
    const std::optional<EmojiEntry> selected = controller->model().selectedEntry();
    ASSERT_TRUE(selected.has_value());
    recorder.events.clear();
    controller->model().pick(*selected);
    EXPECT_FALSE(controller->panel()->isVisible());
    EXPECT_EQ(recorder.picks, 0) << "not before the target has the keyboard again";
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

TEST_F(EmojiBrowserControllerTest, EscapeOrAnotherWindowTakingTheKeyboardDismissesOnce) {
    open();
    recorder.events.clear();
    controller->model().close();
    EXPECT_EQ(recorder.dismissals, 1); // at once, no delay
    QWidget other;
    other.show();
    other.activateWindow();
    QTest::qWait(50);
    EXPECT_EQ(recorder.events, (QStringList{QStringLiteral("activate %1").arg(editorWindow, 0, 16),
                                            QStringLiteral("dismiss")}));

    open();
    ASSERT_EQ(QApplication::activeWindow(), controller->panel());
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.dismissals > 1; }, 2000));
    QTest::qWait(50);
    EXPECT_EQ(recorder.dismissals, 2);
    EXPECT_FALSE(controller->panel()->isVisible());
    EXPECT_EQ(recorder.picks, 0);
}

TEST_F(EmojiBrowserControllerTest, KeysDeliveredToThePanelAreNotAppliedASecondTime) {
    open();
    QTest::keyClicks(controller->panel(), QStringLiteral("cat"));
    QTest::keyClick(controller->panel(), Qt::Key_Down);
    QTest::keyClick(controller->panel(), Qt::Key_Escape);
    QTest::keyClick(controller->panel(), Qt::Key_Return);
    EXPECT_TRUE(controller->model().query().isEmpty());
    EXPECT_EQ(controller->viewModel().selectedIndex(), 0);
    EXPECT_EQ(recorder.dismissals + recorder.picks, 0);
    EXPECT_TRUE(controller->panel()->isVisible());
}

TEST_F(EmojiBrowserControllerTest, ClickingACellPicksItThroughTheSameDelayedPath) {
    open();
    EmojiBrowserGrid* grid = controller->panel()->view()->grid();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->gridLayout().cellRect(3).center());
    EXPECT_FALSE(controller->panel()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.picks > 0; }, 2000));
    EXPECT_EQ(recorder.events.last(), QStringLiteral("pick cat"));
}

TEST_F(EmojiBrowserControllerTest, CloseBeforeMakeKeyLeavesTheKeyboardAloneAndAPickDiesWithTheController) {
    controller->show(smallCatalogue());
    controller->model().close(); // in the same turn of the event loop
    QTest::qWait(20);
    EXPECT_EQ(recorder.activated, QList<quint32>{editorWindow});
    EXPECT_EQ(recorder.dismissals, 1);

    open();
    controller->model().pick(smallCatalogue().first());
    controller.reset();
    QTest::qWait(2 * EmojiBrowserWindowController::reactivateDelayMs);
    EXPECT_EQ(recorder.picks, 0);
    EXPECT_EQ(recorder.dismissals, 1);
}

TEST_F(EmojiBrowserControllerTest, TargetIsNotThePanelItselfAndMayBeAbsent) {
    open();
    controller->model().close();
    // The window manager has not handed the keyboard back yet.
    recorder.activeWindow = static_cast<quint32>(controller->panel()->winId());
    open();
    EXPECT_EQ(controller->targetWindow(), editorWindow);
    controller->model().close();

    recorder.activeWindow = 0;
    open();
    recorder.activated.clear();
    controller->model().pick(smallCatalogue()[1]);
    EXPECT_TRUE(recorder.activated.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.picks > 0; }, 2000));
    EXPECT_EQ(recorder.events.last(), QStringLiteral("pick smile"));
}
