// The popover's view of the compositing manager on a real X server.
#include "tests/e2e/support/desktop.h"
#include "ui/suggestion_compositor.h"

#include <gtest/gtest.h>

namespace pimsel {
namespace {

using namespace std::chrono_literals;
using e2e::pumpUntil;

// Whether a compositing manager runs decides if the popover's backdrop may be translucent. Its keys
// and clicks are the application's scenarios (app_e2e).
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
