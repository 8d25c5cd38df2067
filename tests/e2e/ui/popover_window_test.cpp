// The popover on a real X server: it must leave the keyboard with the application being typed in
// and still take the user's clicks.

#include "engine/emoji_entry.h"
#include "platform/xcb_handles.h"
#include "tests/e2e/support/target_app.h"
#include "tests/e2e/typist.h"
#include "ui/suggestion_compositor.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_window_controller.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
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

bool waitUntil(const std::function<bool()>& condition, int milliseconds = 5000) {
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

// Lets the X server, the window manager and Qt settle for a while.
void settle(int milliseconds) {
    waitUntil([] { return false; }, milliseconds);
}

class X11 {
public:
    X11()
        : connection_(nullptr) {}
    bool isOpen() const { return static_cast<bool>(connection_); }
    xcb_connection_t* get() const { return connection_.get(); }
    xcb_window_t root() const { return connection_.root(); }

    xcb_atom_t atom(const char* name) const {
        auto r = xcb::reply<xcb_intern_atom_reply_t>(
            get(), xcb_intern_atom_reply,
            xcb_intern_atom(get(), 0, static_cast<uint16_t>(strlen(name)), name));
        return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    }

    xcb_window_t activeWindow() const {
        auto r = xcb::reply<xcb_get_property_reply_t>(
            get(), xcb_get_property_reply,
            xcb_get_property(get(), 0, root(), atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1));
        if (!r || xcb_get_property_value_length(r.get()) < 4)
            return XCB_WINDOW_NONE;
        return *static_cast<xcb_window_t*>(xcb_get_property_value(r.get()));
    }

    // GTK gives the X focus to a window of its own next to the toplevel; what matters is which
    // client holds it. Window ids carry their client's resource base.
    bool sameClient(xcb_window_t a, xcb_window_t b) const {
        const uint32_t mask = xcb_get_setup(get())->resource_id_mask;
        return a != XCB_WINDOW_NONE && (a & ~mask) == (b & ~mask);
    }

    // The core keyboard focus window.
    xcb_window_t inputFocus() const {
        auto r = xcb::reply<xcb_get_input_focus_reply_t>(get(), xcb_get_input_focus_reply,
                                                         xcb_get_input_focus(get()));
        return r ? r->focus : xcb_window_t{XCB_WINDOW_NONE};
    }

    bool isViewable(xcb_window_t window, bool* overrideRedirect) const {
        auto r = xcb::reply<xcb_get_window_attributes_reply_t>(get(), xcb_get_window_attributes_reply,
                                                               xcb_get_window_attributes(get(), window));
        if (!r)
            return false;
        *overrideRedirect = r->override_redirect != 0;
        return r->map_state == XCB_MAP_STATE_VIEWABLE;
    }

private:
    xcb::Connection connection_;
};

class PopoverWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(x11.isOpen()) << "no X display";
        ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
        target = app.window();
        ASSERT_TRUE(waitUntil([&] { return x11.activeWindow() == target; })) << "target is not active";
        ASSERT_TRUE(x11.sameClient(x11.inputFocus(), target));
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

    X11 x11;
    e2e::TargetApp app{e2e::TargetApp::Kind::gtk};
    xcb_window_t target = XCB_WINDOW_NONE;
    SuggestionWindowController controller;
    std::vector<int> picks, hovers, tonePicks;
};

TEST_F(PopoverWindow, ShowingLeavesTheKeyboardWithTheTarget) {
    controller.show(rows(), 0, QRect(40, 60, 2, 18), QStringLiteral(":"));
    controller.showToneVariants(toneVariants(rows()[0]), 0);
    const xcb_window_t panelWindow = nativeWindow();
    bool overrideRedirect = false;
    ASSERT_TRUE(waitUntil([&] { return x11.isViewable(panelWindow, &overrideRedirect); }));
    EXPECT_TRUE(overrideRedirect);
    settle(400);

    EXPECT_EQ(x11.activeWindow(), target);
    EXPECT_TRUE(x11.sameClient(x11.inputFocus(), target));
    EXPECT_FALSE(controller.panel()->isActiveWindow());
    EXPECT_EQ(controller.panel()->geometry(), QRect(40, 84, 272, 142));

    // The user's keys still land in the entry while the panel is up.
    e2e::Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    ASSERT_TRUE(typist.focus(target));
    ASSERT_TRUE(typist.type(":smi"));
    EXPECT_EQ(app.waitForText(QStringLiteral(":smi")).toStdString(), ":smi");

    // Hiding and showing again does not take the focus either.
    controller.hide();
    controller.show(rows().mid(0, 2), 0, QRect(40, 60, 2, 18), QStringLiteral(":"));
    settle(300);
    EXPECT_EQ(x11.activeWindow(), target);
    EXPECT_TRUE(x11.sameClient(x11.inputFocus(), target));
}

TEST_F(PopoverWindow, TakesClicksWithoutTakingFocus) {
    controller.show(rows(), 0, QRect(40, 60, 2, 18), QStringLiteral(":"));
    controller.showToneVariants(toneVariants(rows()[0]), 0);
    bool overrideRedirect = false;
    ASSERT_TRUE(waitUntil([&] { return x11.isViewable(nativeWindow(), &overrideRedirect); }));
    settle(300);

    e2e::Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    const QPoint row = rowCentre(2);
    ASSERT_TRUE(typist.click(row.x(), row.y()));
    EXPECT_TRUE(waitUntil([&] { return !picks.empty(); })) << "no pick";
    EXPECT_EQ(picks, (std::vector<int>{2}));
    EXPECT_NE(std::find(hovers.begin(), hovers.end(), 2), hovers.end());
    EXPECT_TRUE(controller.containsGlobalPoint(row));

    // A tone cell: the strip under three rows has its cells from x 42, y 104.
    const QPoint cell = controller.panel()->mapToGlobal(QPoint(42 + 4 * 32 + 14, 104 + 14));
    ASSERT_TRUE(typist.click(cell.x(), cell.y()));
    EXPECT_TRUE(waitUntil([&] { return !tonePicks.empty(); })) << "no tone pick";
    EXPECT_EQ(tonePicks, (std::vector<int>{4}));

    settle(200);
    EXPECT_EQ(x11.activeWindow(), target);
    EXPECT_TRUE(x11.sameClient(x11.inputFocus(), target));
}

TEST(PopoverCompositor, FollowsTheCompositingManagerSelection) {
    X11 x11;
    ASSERT_TRUE(x11.isOpen());
    // openbox composites nothing.
    EXPECT_FALSE(isCompositorRunning());

    // Stand in for a compositing manager: own the selection with a window of our own.
    const xcb_window_t owner = xcb_generate_id(x11.get());
    xcb_create_window(x11.get(), XCB_COPY_FROM_PARENT, owner, x11.root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t selection = x11.atom(compositorSelectionName(qgetenv("DISPLAY")).constData());
    xcb_set_selection_owner(x11.get(), owner, selection, XCB_CURRENT_TIME);
    xcb_flush(x11.get());
    EXPECT_TRUE(waitUntil([] { return isCompositorRunning(); }, 2000));

    xcb_destroy_window(x11.get(), owner);
    xcb_flush(x11.get());
    EXPECT_TRUE(waitUntil([] { return !isCompositorRunning(); }, 2000));
}

} // namespace
} // namespace pimsel
