// The built application typed into as a user would, in GTK and Qt fields: suggestions under the
// caret and every way of accepting them, the keys it must take or leave, a cleared field, a fast
// typist, a stalled Pimsel; silence in a web password field ending at the next input (where the
// caret is read from the page; what the user waits for there is measured by
// bench/desktop_bench.cpp); the popover's view of the compositor; and the emoji browser, opened by
// the doubled trigger in a GTK entry and driven by the user's keys and pointer: search, pick,
// dismissal, and the kept window reopening.
#include "tests/e2e/support/typing_fixture.h"
#include "ui/emoji_browser_view.h"
#include "ui/suggestion_compositor.h"
#include "ui/suggestion_layout.h"

#include <thread>

namespace pimsel::e2e {
namespace {

namespace layout = suggestion_layout;

TEST_P(Typing, SuggestionsAreShownUnderTheCaretAndEveryWayOfAcceptingWorks) {
    const QStringList smiRows = profile.cli({QStringLiteral("search"), QStringLiteral("smi")});
    ASSERT_EQ(smiRows.size(), 6);
    const auto row = [&](int index) { return smiRows.at(index).section(QLatin1Char('\t'), 0, 0); };

    // Whether a compositing manager runs decides if the popover's backdrop may be translucent:
    // openbox composites nothing; a window of the test owning the selection stands in for one.
    EXPECT_FALSE(isCompositorRunning());
    xcb_connection_t* c = x.connection();
    const xcb_window_t compositor = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, compositor, x.root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t selection = x.atom(compositorSelectionName(qgetenv("DISPLAY")).constData());
    xcb_set_selection_owner(c, compositor, selection, XCB_CURRENT_TIME);
    xcb_flush(c);
    EXPECT_TRUE(pumpUntil([] { return isCompositorRunning(); }, 2s));
    xcb_destroy_window(c, compositor);
    xcb_flush(c);
    EXPECT_TRUE(pumpUntil([] { return !isCompositorRunning(); }, 2s));

    // ":smi": six rows under the caret (how the rows are drawn is the panel's own test, in ui_tests).
    ASSERT_TRUE(typed(":smi", QStringLiteral(":smi")));
    const std::optional<QRect> popover = popoverUnderCaret();
    ASSERT_TRUE(popover);
    EXPECT_EQ(popover->size(), layout::panelSize(6, false));

    // Down moves the selection and Up brings it back, neither reaching the field: after Down, Up and
    // Down, Tab accepts the second row. The use is counted.
    for (const char* combo : {"Down", "Up", "Down", "Tab"})
        key(combo);
    expected = row(1);
    EXPECT_TRUE(shows(expected));
    EXPECT_TRUE(popoverGone());
    EXPECT_TRUE(pumpUntil(
        [&] { return profile.read(QStringLiteral("pimsel.useCounts")).toMap().value(row(1)).toInt() == 1; }));
    EXPECT_EQ(profile.cli({QStringLiteral("search")}).value(0).section(QLatin1Char('\t'), 0, 0), row(1));
    settle();

    // The closing trigger right after an exact shortcode accepts it and never reaches the field.
    EXPECT_TRUE(typed(" :tada:", QStringLiteral(" 🎉")));
    settle();

    // A letter typed after Down narrows the list and puts the selection back on its first row.
    const QString smil = profile.topResult(QStringLiteral("smil"));
    type(" :smi");
    ASSERT_TRUE(waitForPopover());
    key("Down");
    EXPECT_TRUE(typed("l\t", QStringLiteral(" ") + smil));
    settle();

    // Return, with acceptance by Return switched off, closes the popover and reaches the field.
    ASSERT_TRUE(typed(" :smi", QStringLiteral(" :smi")));
    ASSERT_TRUE(waitForPopover());
    key("Return");
    EXPECT_TRUE(popoverGone());
    EXPECT_TRUE(pumpUntil([&] { return x.presses(keyReturn) == 1; })) << "the Return never reached the field";

    // Escape closes the popover and is taken; with no popover it reaches the field.
    ASSERT_TRUE(typed(" :smi", QStringLiteral(" :smi")));
    ASSERT_TRUE(waitForPopover());
    key("Escape");
    EXPECT_TRUE(popoverGone());
    pump(200ms);
    EXPECT_EQ(x.presses(keyEscape), 0) << "the Escape that closed the popover reached the field";
    key("Escape");
    EXPECT_TRUE(pumpUntil([&] { return x.presses(keyEscape) == 1; }))
        << "a plain Escape was kept from the field";
    EXPECT_EQ(x.presses(keyTab), 0) << "the accepting Tab reached the field";

    // A click on a row inserts that row's emoji.
    type(" :smi");
    const std::optional<QRect> shown = waitForPopover();
    ASSERT_TRUE(shown);
    const QPoint third = shown->topLeft() + layout::rowRect(2).center();
    whileUserTypes([&] { typist->click(third.x(), third.y()); });
    expected += QStringLiteral(" ") + row(2);
    EXPECT_TRUE(shows(expected));
    settle();

    // A tone-capable emoji brings the tone strip; a chosen tone becomes the default.
    type(" :wave");
    std::optional<QRect> withTones;
    ASSERT_TRUE(pumpUntil([&] {
        withTones = x.popover(pimsel->pid());
        return withTones && withTones->size() == layout::panelSize(6, true);
    }));
    pump(200ms); // the grown panel is placed and painted before the user aims at it
    withTones = x.popover(pimsel->pid());
    ASSERT_TRUE(withTones);
    const QPoint medium = withTones->topLeft() + layout::toneCellRect(6, 6, 3).center();
    whileUserTypes([&] { typist->click(medium.x(), medium.y()); });
    expected += QStringLiteral(" 👋🏽");
    EXPECT_TRUE(shows(expected));
    settle();
    type(" :wave");
    ASSERT_TRUE(waitForPopover());
    key("Tab");
    expected += QStringLiteral(" 👋🏽");
    EXPECT_TRUE(shows(expected));
    settle();

    // A field cleared with BackSpace: only the field knows the caret is at its start, where the
    // popover comes as it came in the fresh field.
    type(" :smi");
    ASSERT_TRUE(waitForPopover());
    key("Escape");
    EXPECT_TRUE(popoverGone());
    key("ctrl+a");
    key("BackSpace");
    expected.clear();
    ASSERT_TRUE(shows(expected));
    ASSERT_TRUE(typed(":smi", QStringLiteral(":smi")));
    const std::optional<QRect> atStart = waitForPopover();
    ASSERT_TRUE(atStart) << "no popover in the cleared field";
    EXPECT_NEAR(atStart->left(), popover->left(), 10) << "the caret of the cleared field was not read";
    key("Escape");
    EXPECT_TRUE(popoverGone());

    // A fast typist: bursts at 10 ms a key, and the user's own Shift on the session's keyboard held
    // around an insertion and let go at any moment of it. Every shortcode is replaced, the paste is
    // never Control+Shift+V, no key stays down on any XTEST keyboard, and what is typed next comes
    // out as typed.
    ASSERT_TRUE(typedInBursts());
    typist->setKeyDelay(userKeyDelay);
    Typist second(Typist::Keyboard::core);
    ASSERT_TRUE(second.isReady()) << second.error();
    second.setKeyDelay(0ms);
    ASSERT_TRUE(second.activate(app->window()));
    for (int hold : {0, 1, 2, 3, 5, 8, 12, 20, 40, 80, 250}) {
        SCOPED_TRACE("Shift let go " + std::to_string(hold) + " ms after the closing trigger");
        ASSERT_TRUE(typed(" :tada", QStringLiteral(" :tada")));
        whileUserTypes([&] {
            second.press("Shift_L");
            second.press("colon");
            second.release("colon");
            std::this_thread::sleep_for(std::chrono::milliseconds(hold));
            second.release("Shift_L");
        });
        expected = expected.left(expected.size() - 5) + QStringLiteral("🎉");
        EXPECT_TRUE(shows(expected));
        settle();
        EXPECT_TRUE(Typist::keysHeldOnXtestKeyboards().empty());
        whileUserTypes([&] { second.type("a"); });
        expected += QStringLiteral("a");
        ASSERT_TRUE(shows(expected));
    }

    // Pimsel stopped for a second with the popover open, the user presses Tab and moves on to
    // another window: once Pimsel runs again, the late Tab is the application's and nothing is
    // erased or pasted anywhere.
    ASSERT_TRUE(typed(" :smi", QStringLiteral(" :smi")));
    ASSERT_TRUE(waitForPopover());
    pimsel->stop();
    typist->key("Tab");
    TargetApp other(GetParam());
    ASSERT_TRUE(other.isReady()) << other.output().toStdString();
    ASSERT_TRUE(typist->focus(other.window()));
    pump(1000ms);
    pimsel->resume();
    pump(1000ms);
    EXPECT_EQ(other.settledText().toStdString(), "");
    EXPECT_EQ(app->settledText().toStdString(), expected.toStdString());
}

// Silence in a web password field ends the moment the focus is on the next, ordinary input of the
// page: it gets the popover at the first ":smi", in Chromium under the caret read from the page.
class AfterPassword : public Typing {
protected:
    QStringList targetArguments() const override { return {QStringLiteral("--login")}; }
};

TEST_P(AfterPassword, TheNextOrdinaryFieldGetsThePopoverAtOnce) {
    type("pw :smi");
    QString typedThere;
    ASSERT_TRUE(
        pumpUntil([&] { return (typedThere = app->passwordText()) == QStringLiteral("pw :smi"); }, 4s))
        << "the password field got \"" << typedThere.toStdString() << '"';
    EXPECT_FALSE(pumpUntil([&] { return x.popover(pimsel->pid()).has_value(); }, 800ms))
        << "a popover in the password field";
    // The Tab that leaves the password field is the application's.
    key("Tab");
    ASSERT_TRUE(typed(":smi", QStringLiteral(":smi")));
    ASSERT_TRUE(waitForPopover()) << "silent in the ordinary field after the password field";
    if (GetParam() == TargetApp::Kind::chromium) {
        // Under the caret of the page's input. At the end of the text the browser gives the caret's
        // character no box: the one before it places the caret, not the field.
        ASSERT_TRUE(popoverUnderCaret());
        const std::optional<QRect> caret = focus.caretRect();
        const std::optional<AtspiRef> field = focus.focusedElement();
        ASSERT_TRUE(caret && field);
        QueryDeadline deadline(250);
        const std::optional<QRect> fieldBox = probe.extents(deadline, *field);
        ASSERT_TRUE(fieldBox);
        EXPECT_GT(caret->left(), fieldBox->left() + 10) << "the caret is not after the typed text";
        EXPECT_LT(caret->height(), fieldBox->height() + 1);
    }
    key("Tab");
    expected = profile.topResult(QStringLiteral("smi"));
    EXPECT_TRUE(shows(expected));
    EXPECT_TRUE(popoverGone());

    // Chromium reads its keys in processes of its own, which a fast typist keeps busy: bursts at
    // 10 ms a key there too.
    if (GetParam() != TargetApp::Kind::chromium)
        return;
    settle();
    EXPECT_TRUE(typedInBursts());
}

INSTANTIATE_TEST_SUITE_P(Targets, Typing, testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                         targetName);
// The toolkits' windows announce the next field at once (the focus scenario); a browser may do so late.
INSTANTIATE_TEST_SUITE_P(Targets, AfterPassword,
                         testing::Values(TargetApp::Kind::chromium, TargetApp::Kind::firefox), targetName);

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
        expected = app->text();
        EXPECT_TRUE(typed(" ", QStringLiteral(" "))) << "the key went elsewhere";
    }
};

// One user's path: the first opening, a search picked with Return in place of the trigger, then
// Escape, a click outside and the window manager's close button, each closing the kept window once
// and leaving the trigger; closing the last window does not end Pimsel.
TEST_P(Browser, DoubledTriggerOpensItSearchPicksAndEscapeAClickOutsideOrTheCloseButtonCloseIt) {
    ASSERT_TRUE(openBrowser());
    const QString trigger = expected + QLatin1Char(':');
    EXPECT_EQ(app->settledText().toStdString(), trigger.toStdString())
        << "the second trigger reached the field";
    std::optional<QRect> window = browserWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), QSize(EmojiBrowserView::panelWidth, EmojiBrowserView::panelHeight));

    // The search reaches the browser, not the field; the user looks at the first letter's results
    // before typing on.
    type("t");
    pump(500ms);
    type("ada");
    EXPECT_EQ(app->settledText().toStdString(), trigger.toStdString()) << "the search reached the field";
    ASSERT_TRUE(browserWindow()) << "the browser closed while searching";
    key("Return");
    EXPECT_TRUE(browserGone());
    // On a field that started empty: exactly the emoji.
    expected += QStringLiteral("🎉");
    EXPECT_TRUE(shows(expected));
    EXPECT_EQ(app->settledText().toStdString(), expected.toStdString());
    expectKeyboardBackInField();
    settle();

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
        expected += QLatin1Char(':');
        EXPECT_EQ(app->settledText().toStdString(), expected.toStdString()) << "the trigger was not left";
        expectKeyboardBackInField();
    }
    EXPECT_TRUE(pimsel->isRunning());
}

INSTANTIATE_TEST_SUITE_P(Targets, Browser, testing::Values(TargetApp::Kind::gtk), targetName);

} // namespace
} // namespace pimsel::e2e
