// The input hook against real GTK and Qt fields, with the user typing through a master keyboard of
// its own: what it hands to the handler, what it withholds, and what it never loses.
#include "tests/e2e/support/input_fixture.h"

#include <QProcess>

// xcb's XKB header names a member after a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace pimsel::e2e {
namespace {

using InputHook = HookedField;

// What the hook withholds is what the handler may swallow, a key's raw and grabbed press being one
// key; nothing typed around a withheld key is lost. (Tab, Escape and Return with the application's
// own handler: app_e2e.)
TEST_P(InputHook, SwallowsExactlyWhatTheHandlerMaySwallowAndLosesNothing) {
    SwallowableKeys trigger;
    trigger.triggerText = QStringLiteral(":");
    SwallowableKeys tab;
    tab.insert(KeyAction::tab);
    const auto typing = [](const char* text) { return [text](Typist& t) { t.type(text); }; };
    const struct {
        const char* label;
        SwallowableKeys keys;
        std::chrono::milliseconds stall;
        std::function<void(Typist&)> user;
        const char* field;
        const char* handed; // the handler's script: every key once
    } cases[] = {
        {"trigger only", trigger, {}, typing("a:b;:"), "ab;", "a:b;:"},
        {"keys typed while a swallowed key is held", tab, std::chrono::milliseconds(60),
         [](Typist& t) {
             t.type("a");
             t.press("Tab");
             t.type("bc");
             t.release("Tab");
             t.type("d");
         },
         "abcd", "a[tab]bcd"},
        // Undecided past the hook's bound: the key goes to the field, and the log says so.
        {"a stalled decision", trigger, std::chrono::milliseconds(500), typing("a:b"), "a:b", "a:b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        openField();
        handler.keys = c.keys;
        handler.decide = [this](const InputEvent& e) { return handler.keys.mayContain(e); };
        handler.stall = c.stall;
        handler.events.clear();
        tap.refreshGrabs();
        const int undecided = log.count("input", "not decided");
        whileUserTypes([&] { c.user(typist); });
        EXPECT_EQ(field(QString::fromUtf8(c.field)), c.field);
        EXPECT_TRUE(pumpUntil([&] { return handler.script() == QLatin1String(c.handed); }))
            << handler.script().toStdString();
        if (c.stall > std::chrono::milliseconds(200)) { // past the hook's bound
            EXPECT_TRUE(pumpUntil([&] { return log.count("input", "not decided") == undecided + 1; }));
        }
    }
}

// Pimsel's own keys never reach the handler, the user's keys typed meanwhile do; a click comes
// with the pointer's position.
TEST_P(InputHook, OwnKeysAreWithheldTheUsersAndTheirClicksAreHandedOver) {
    type("hello");
    ASSERT_EQ(field("hello"), "hello");
    ASSERT_TRUE(pumpUntil([&] { return handler.script() == "hello"; }));

    // The user's typing and the synthesised Backspaces interleave in whatever order the server
    // takes them; only the Backspaces are withheld from the handler.
    handler.events.clear();
    std::thread user([&] { typist.type("xyz"); });
    path.synthesizer.pressBackspace(3);
    user.join();
    EXPECT_TRUE(pumpUntil([&] { return handler.script() == "xyz"; })) << handler.script().toStdString();
    EXPECT_EQ(app->settledText().size(), 5);
    pump(std::chrono::milliseconds(100));
    EXPECT_EQ(handler.script().toStdString(), "xyz");
    EXPECT_EQ(tap.ownEvents()->pendingCount(), 0u);

    whileUserTypes([&] { typist.click(300, 200); });
    const auto click = [&] {
        return std::find_if(handler.events.begin(), handler.events.end(),
                            [](const InputEvent& e) { return e.type == InputEvent::Type::mouseDown; });
    };
    ASSERT_TRUE(pumpUntil([&] { return click() != handler.events.end(); }));
    EXPECT_EQ(click()->globalPosition, QPoint(300, 200));
}

INSTANTIATE_TEST_SUITE_P(Targets, InputHook, testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                         targetName);

TEST(InputHookLayout, TheTriggerGrabFollowsALayoutChange) {
    // The session keyboard is switched to German, where ":" is Shift+period instead of Shift+semicolon.
    TargetApp app(TargetApp::Kind::gtk);
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    ScriptedHandler handler;
    handler.keys.triggerText = QStringLiteral(":");
    handler.decide = [&](const InputEvent& e) { return handler.keys.mayContain(e); };
    EventTapManager tap;
    tap.setHandler(&handler);
    ASSERT_TRUE(tap.start());

    const auto setLayout = [](const char* layout) {
        QProcess setxkbmap;
        setxkbmap.start(QStringLiteral("setxkbmap"),
                        {QStringLiteral("-layout"), QString::fromLatin1(layout)});
        return setxkbmap.waitForFinished(5000) && setxkbmap.exitCode() == 0;
    };
    ASSERT_TRUE(setLayout("de"));
    pump(std::chrono::milliseconds(500)); // the hook reloads keymaps after a short quiet period
    const auto onSessionKeyboard = [](const std::function<void(Typist&)>& user) {
        Typist keyboard(nullptr, Typist::MasterLifetime::removeOnDestruction, Typist::Keyboard::core);
        ASSERT_TRUE(keyboard.isReady()) << keyboard.error();
        whileUserTypes([&] { user(keyboard); });
    };
    onSessionKeyboard([](Typist& keyboard) { keyboard.type("a:b"); });
    QString field = app.settledText();
    QString script = handler.script();
    EXPECT_EQ(field.toStdString(), "ab");
    EXPECT_EQ(script.toStdString(), "a:b");

    // Two layouts, the second one locked by another client as a panel does it: the grab and the
    // reading follow the locked layout, where ":" is Shift+period.
    ASSERT_TRUE(setLayout("us,de"));
    pump(std::chrono::milliseconds(500));
    xcb::Connection panel(nullptr);
    ASSERT_TRUE(xkb_x11_setup_xkb_extension(
        panel.get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
        XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(xcb::check(panel.get(), xcb_xkb_latch_lock_state_checked(panel.get(), XCB_XKB_ID_USE_CORE_KBD,
                                                                         0, 0, 1, XCB_XKB_GROUP_2, 0, 0, 0)));
    pump(std::chrono::milliseconds(300));
    onSessionKeyboard([](Typist& keyboard) {
        keyboard.type("c");
        keyboard.press("Shift_L");
        keyboard.key("period");
        keyboard.release("Shift_L");
        keyboard.type("d");
    });
    field = app.settledText();
    script = handler.script();
    ASSERT_TRUE(setLayout("us"));
    pump(std::chrono::milliseconds(300));
    EXPECT_EQ(field.toStdString(), "abcd");
    EXPECT_EQ(script.toStdString(), "a:bc:d");
}

} // namespace
} // namespace pimsel::e2e
