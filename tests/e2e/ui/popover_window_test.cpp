// The popover on a real X server: it must leave the keyboard with the application being typed in
// and still take the user's clicks.

#include "engine/emoji_entry.h"
#include "tests/e2e/support/desktop.h"
#include "tests/e2e/support/target_app.h"
#include "tests/e2e/support/typist.h"
#include "ui/suggestion_compositor.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_window_controller.h"

#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace pimsel {
namespace {

QList<EmojiEntry> rows() {
    QList<EmojiEntry> list;
    for (const auto& [emoji, alias] : {std::pair{"😄", "smile"}, {"😃", "smiley"}, {"😸", "smile_cat"}}) {
        EmojiEntry e;
        e.emoji = QString::fromUtf8(emoji);
        e.aliases = {QString::fromUtf8(alias)};
        e.name = e.aliases.first();
        list.append(e);
    }
    return list;
}

using namespace std::chrono_literals;
using e2e::pump;
using e2e::pumpUntil;

class PopoverWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(x11.isOpen()) << "no X display";
        ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
        target = app.window();
        ASSERT_TRUE(pumpUntil([&] { return e2e::Typist::activeWindow() == target; }))
            << "target is not active";
        ASSERT_TRUE(x11.focusIsWithClientOf(target));
        controller.setCallbacks({[this](int row) { picks.push_back(row); },
                                 [this](int row) { hovers.push_back(row); },
                                 [this](int variant) { tonePicks.push_back(variant); }});
    }

    // The X window on screen. QWidget::winId() can name a window Qt replaced while showing a
    // tooltip-type window; the QWindow knows the current one.
    xcb_window_t nativeWindow() const {
        return static_cast<xcb_window_t>(controller.panel()->windowHandle()->winId());
    }

    QPoint rowCentre(int row) const {
        return controller.panel()->mapToGlobal(QPoint(136, 6 + 30 * row + 15));
    }

    // The keyboard stays with the application being typed in.
    void expectTargetKeepsTheKeyboard() {
        EXPECT_EQ(e2e::Typist::activeWindow(), target);
        EXPECT_TRUE(x11.focusIsWithClientOf(target));
        EXPECT_FALSE(controller.panel()->isActiveWindow());
    }

    e2e::XView x11;
    e2e::TargetApp app{e2e::TargetApp::Kind::gtk};
    xcb_window_t target = XCB_WINDOW_NONE;
    SuggestionWindowController controller;
    std::vector<int> picks, hovers, tonePicks;
};

TEST_F(PopoverWindow, ShowingLeavesTheKeyboardWithTheTargetAndTakesClicks) {
    controller.show(rows(), 0, QRect(40, 60, 2, 18), QStringLiteral(":"));
    controller.showToneVariants(toneVariants(rows()[0]), 0);
    const xcb_window_t panelWindow = nativeWindow();
    bool overrideRedirect = false;
    ASSERT_TRUE(pumpUntil([&] { return x11.isViewable(panelWindow, &overrideRedirect); }));
    EXPECT_TRUE(overrideRedirect);
    pump(400ms);
    expectTargetKeepsTheKeyboard();
    EXPECT_EQ(controller.panel()->geometry(), QRect(40, 84, 272, 142));

    // The user's keys still land in the entry while the panel is up.
    e2e::Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    ASSERT_TRUE(typist.focus(target));
    ASSERT_TRUE(typist.type(":smi"));
    EXPECT_EQ(app.waitForText(QStringLiteral(":smi")).toStdString(), ":smi");

    // A click on a row picks it.
    const QPoint row = rowCentre(2);
    ASSERT_TRUE(typist.click(row.x(), row.y()));
    EXPECT_TRUE(pumpUntil([&] { return !picks.empty(); })) << "no pick";
    EXPECT_EQ(picks, (std::vector<int>{2}));
    EXPECT_NE(std::find(hovers.begin(), hovers.end(), 2), hovers.end());
    EXPECT_TRUE(controller.containsGlobalPoint(row));

    // A tone cell: the strip under three rows has its cells from x 42, y 104.
    const QPoint cell = controller.panel()->mapToGlobal(QPoint(42 + 4 * 32 + 14, 104 + 14));
    ASSERT_TRUE(typist.click(cell.x(), cell.y()));
    EXPECT_TRUE(pumpUntil([&] { return !tonePicks.empty(); })) << "no tone pick";
    EXPECT_EQ(tonePicks, (std::vector<int>{4}));
    pump(200ms);
    expectTargetKeepsTheKeyboard();

    // Hiding and showing again does not take the focus either.
    controller.hide();
    controller.show(rows().mid(0, 2), 0, QRect(40, 60, 2, 18), QStringLiteral(":"));
    pump(300ms);
    expectTargetKeepsTheKeyboard();
}

TEST(PopoverCompositor, FollowsTheCompositingManagerSelection) {
    e2e::XView x11;
    ASSERT_TRUE(x11.isOpen());
    // openbox composites nothing.
    EXPECT_FALSE(isCompositorRunning());

    // Stand in for a compositing manager: own the selection with a window of our own.
    xcb_connection_t* c = x11.connection();
    const xcb_window_t owner = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, x11.root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t selection = x11.atom(compositorSelectionName(qgetenv("DISPLAY")).constData());
    xcb_set_selection_owner(c, owner, selection, XCB_CURRENT_TIME);
    xcb_flush(c);
    EXPECT_TRUE(pumpUntil([] { return isCompositorRunning(); }, 2s));

    xcb_destroy_window(c, owner);
    xcb_flush(c);
    EXPECT_TRUE(pumpUntil([] { return !isCompositorRunning(); }, 2s));
}

} // namespace
} // namespace pimsel
