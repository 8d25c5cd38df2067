// The emoji browser of the built application, opened by the doubled trigger in a GTK entry and
// driven by the user's keys and pointer: search, pick, dismissal, and the kept window reopening.
#include "tests/e2e/support/typing_fixture.h"
#include "ui/emoji_browser_view.h"

#include <thread>

namespace pimsel::e2e {
namespace {

// A fresh field and a freshly started Pimsel, the user on the session's own keyboard, whose focus
// the window manager moves: to the browser while it is open and back to the field when it closes.
// A keyboard of its own held on the field would hide from the window manager that the field got
// the focus back.
class Browser : public Typing {
protected:
    bool onSessionKeyboard() const override { return true; }
    void SetUp() override {
        Typing::SetUp();
        if (HasFatalFailure())
            return;
        // The idle-time preparation is over before the user first asks for the browser.
        ASSERT_TRUE(pimsel->waitForOutput(QStringLiteral("emoji browser prepared"), 20s))
            << pimsel->output().toStdString();
        pump(2s);
    }

    void user(const std::function<bool()>& action) {
        bool ok = false;
        whileUserTypes([&] { ok = action(); });
        EXPECT_TRUE(ok) << typist->error();
    }

    std::optional<QRect> browserWindow(bool active = false) {
        const std::vector<xcb_window_t> windows = x.managedWindows(pimsel->pid());
        if (windows.empty() || (active && x.activeWindow() != windows.front()))
            return std::nullopt;
        return x.rootGeometry(windows.front());
    }
    bool browserGone() {
        return pumpUntil([&] { return !browserWindow(); }, 3s);
    }
    // The second trigger of the pair, until the browser is the active window.
    bool openBrowser() {
        // One finger strikes the same key twice: a lift and a press, 100 ms apart at the quickest.
        user([&] {
            const bool typed = typist->type(":");
            std::this_thread::sleep_for(70ms); // after the typist's own 30 ms
            return typed && typist->press("Shift_L");
        });
        typist->sendKey("semicolon", true);
        typist->sendKey("semicolon", false);
        const bool shown = pumpUntil([&] { return browserWindow(true).has_value(); }, 3s);
        user([&] { return typist->release("Shift_L"); });
        EXPECT_TRUE(shown) << "field " << app->text().toStdString() << "; " << pimsel->output().toStdString();
        return shown;
    }
    // After a close the field's window is the session's active one again, so the user's next key,
    // typed on the session's own keyboard, lands in the field.
    void expectKeyboardBackInField() {
        EXPECT_TRUE(pumpUntil([&] { return x.activeWindow() == app->window(); }, 1s))
            << "active window 0x" << std::hex << x.activeWindow() << ", the field's 0x" << app->window()
            << std::dec;
        base = app->text() + QLatin1Char(' ');
        type(" ");
        EXPECT_EQ(app->waitForText(base).toStdString(), base.toStdString()) << "the key went elsewhere";
    }

    QString base; // the field's text before the trigger to come
};

// One user's path: the first opening, a search picked with Return in place of the trigger, then
// Escape, a click outside and the window manager's close button, each closing the kept window once
// and leaving the trigger; closing the last window does not end Pimsel.
TEST_P(Browser, DoubledTriggerOpensItSearchPicksAndEscapeAClickOutsideOrTheCloseButtonCloseIt) {
    ASSERT_TRUE(openBrowser());
    const QString trigger = base + QLatin1Char(':');
    EXPECT_EQ(app->settledText().toStdString(), trigger.toStdString())
        << "the second trigger reached the field";
    std::optional<QRect> window = browserWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), QSize(EmojiBrowserView::panelWidth, EmojiBrowserView::panelHeight));

    // How the browser looks is the view's own test (ui_tests); the search reaches it, not the field.
    // The user looks at the first letter's results before typing on.
    type("t");
    pump(500ms);
    type("ada");
    EXPECT_EQ(app->settledText().toStdString(), trigger.toStdString()) << "the search reached the field";
    ASSERT_TRUE(browserWindow()) << "the browser closed while searching";
    key("Return");
    EXPECT_TRUE(browserGone());
    // On a field that started empty: exactly the emoji.
    const QString picked = base + QStringLiteral("🎉");
    EXPECT_EQ(app->waitForText(picked).toStdString(), picked.toStdString());
    EXPECT_EQ(app->settledText().toStdString(), picked.toStdString());
    expectKeyboardBackInField();
    // Keys typed while the insertion is in flight (until the clipboard is back) pass untouched.
    pump(500ms);

    const char* const dismissals[] = {"Escape", "a click outside", "the close button"};
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(dismissals[way]);
        ASSERT_TRUE(openBrowser());
        window = browserWindow();
        ASSERT_TRUE(window);
        if (way == 0) {
            key("Escape");
        } else if (way == 1) {
            // On the field's window where it shows, else on the bare desktop; with the session's own
            // pointer, whose clicks the window manager turns into activations.
            const std::optional<QRect> field = x.rootGeometry(app->window());
            QPoint outside(window->right() + 40, window->bottom() + 40);
            if (field && !window->contains(field->center()))
                outside = field->center();
            user([&] { return typist->click(outside.x(), outside.y()); });
        } else {
            x.close(x.managedWindows(pimsel->pid()).front());
        }
        ASSERT_TRUE(browserGone());
        base += QLatin1Char(':');
        EXPECT_EQ(app->settledText().toStdString(), base.toStdString()) << "the trigger was not left";
        expectKeyboardBackInField();
    }
    EXPECT_TRUE(pimsel->isRunning());
}

INSTANTIATE_TEST_SUITE_P(Targets, Browser, testing::Values(TargetApp::Kind::gtk), targetName);

} // namespace
} // namespace pimsel::e2e
