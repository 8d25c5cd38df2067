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

// Shown, and shown again after a hide, the popover leaves the keyboard with the application being
// typed in. Its rows and tone cells take the user's clicks in the application's scenarios (app_e2e).
TEST(PopoverWindow, ShowingLeavesTheKeyboardWithTheTarget) {
    e2e::XView x11;
    ASSERT_TRUE(x11.isOpen()) << "no X display";
    e2e::TargetApp app(e2e::TargetApp::Kind::gtk);
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    const xcb_window_t target = app.window();
    ASSERT_TRUE(pumpUntil([&] { return e2e::Typist::activeWindow() == target; })) << "target is not active";
    ASSERT_TRUE(x11.focusIsWithClientOf(target));
    SuggestionWindowController controller;
    const auto expectTargetKeepsTheKeyboard = [&] {
        EXPECT_EQ(e2e::Typist::activeWindow(), target);
        EXPECT_TRUE(x11.focusIsWithClientOf(target));
        EXPECT_FALSE(controller.panel()->isActiveWindow());
    };

    controller.show(rows(), 0, QRect(40, 60, 2, 18), QStringLiteral(":"));
    controller.showToneVariants(toneVariants(rows()[0]), 0);
    // QWidget::winId() can name a window Qt replaced while showing a tooltip-type window; the
    // QWindow knows the current one.
    const auto panelWindow = static_cast<xcb_window_t>(controller.panel()->windowHandle()->winId());
    bool overrideRedirect = false;
    ASSERT_TRUE(pumpUntil([&] { return x11.isViewable(panelWindow, &overrideRedirect); }));
    EXPECT_TRUE(overrideRedirect);
    pump(400ms);
    expectTargetKeepsTheKeyboard();

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
