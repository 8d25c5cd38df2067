// The focus questions against real GTK and Qt windows in the test desktop: the password answer
// followed across fields, windows and a frozen application, the accessibility permission asked for
// on the real bus, and neutral answers without a bus.
#include "platform/permissions_controller.h"
#include "tests/e2e/support/typing_fixture.h"

#include <QElapsedTimer>

#include <csignal>

namespace pimsel::e2e {
namespace {

using Kind = TargetApp::Kind;

// The target's window is active and its focused field is visible on the accessibility bus.
void bringUp(FocusProbe& probe, const TargetApp& target) {
    ASSERT_TRUE(target.isReady()) << target.output().toStdString();
    ASSERT_TRUE(pumpUntil([&] { return probe.frontmost.activeProcessId() == target.pid(); }))
        << "the target window never became active";
    ASSERT_TRUE(pumpUntil([&] { return probe.focus.focusedElement().has_value(); }))
        << "no focused element found for pid " << target.pid();
}

// Each question a key makes gets the neutral answer, and in one bounded wait: a hang guard, not a
// speed target (the budget is 250 ms a question).
void expectNeutralAnswers(FocusContextProvider& focus) {
    const std::pair<const char*, std::function<bool()>> questions[] = {
        {"isSecureFieldFocused", [&] { return focus.isSecureFieldFocused(); }},
        {"caretRect", [&] { return focus.caretRect().has_value(); }},
        {"currentBrowserURL", [&] { return focus.currentBrowserURL().has_value(); }},
    };
    for (const auto& [name, answered] : questions) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(answered()) << name;
        EXPECT_LT(clock.elapsed(), 1000) << name;
    }
}

// The answer follows the focus from a password field to an ordinary one and back, with nothing
// asked twice from a stale element; a frozen application costs each question one bounded wait and
// gets neutral answers until it wakes up; a new window of another toolkit is answered for at once;
// a field that hides its text in place turns secure; and accessibility, switched off, can be asked for.
TEST(FocusTest, PasswordAnswerFollowsTheFocusThroughAFrozenApplicationAndToANewWindow) {
    FocusProbe probe;
    FocusContextProvider& focus = probe.focus;
    ASSERT_TRUE(probe.frontmost.hasDisplay());
    // Keys on the session's own keyboard, to whatever has its focus.
    Typist keys(Typist::Keyboard::core);
    ASSERT_TRUE(keys.isReady()) << keys.error();
    const auto press = [&](int count) {
        for (int i = 0; i < count; ++i)
            keys.key("Tab");
        keys.sync();
    };
    TargetApp login(Kind::gtk, {QStringLiteral("--login")});
    ASSERT_NO_FATAL_FAILURE(bringUp(probe, login));
    ASSERT_TRUE(focus.isSecureFieldFocused());
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        press(1);
        EXPECT_TRUE(pumpUntil([&] { return focus.isFollowingFocus() && !focus.isSecureFieldFocused(); }))
            << "still silent in the ordinary entry";
        EXPECT_EQ(focus.textBeforeCaret(2), QString()) << "the ordinary entry is empty";
        press(2); // past the button, round to the password entry
        EXPECT_TRUE(pumpUntil([&] { return focus.isFollowingFocus() && focus.isSecureFieldFocused(); }))
            << "the password entry was not recognised again";
    }

    login.stop();
    expectNeutralAnswers(focus);
    login.resume();
    EXPECT_TRUE(pumpUntil([&] { return focus.isSecureFieldFocused(); }))
        << "answers did not come back after the application woke up";

    // A Qt password field is secure and still says where its caret is (the field itself at worst).
    {
        TargetApp secret(Kind::qt, {QStringLiteral("--password")});
        ASSERT_NO_FATAL_FAILURE(bringUp(probe, secret));
        EXPECT_TRUE(focus.isSecureFieldFocused());
        EXPECT_TRUE(focus.caretRect().has_value());
    }

    TargetApp plain(Kind::gtk, {QStringLiteral("--text"), QStringLiteral("ab c")});
    ASSERT_NO_FATAL_FAILURE(bringUp(probe, plain));
    EXPECT_FALSE(focus.isSecureFieldFocused());
    EXPECT_EQ(focus.textBeforeCaret(2), QStringLiteral(" c"));
    // The field hides its text without the focus moving: the answer remembered for the letters is
    // checked behind them, the turn is reported, and the next answer is the new one.
    bool turned = false;
    focus.setFieldTurnedSecureHandler([&] { turned = true; });
    EXPECT_FALSE(focus.isSecureFieldFocusedRemembered());
    ASSERT_EQ(::kill(static_cast<pid_t>(plain.pid()), SIGUSR1), 0);
    EXPECT_TRUE(pumpUntil([&] { return focus.isSecureFieldFocusedRemembered() && turned; }))
        << "the field that hid its text is still taken for an ordinary one";

    // The test desktop grants both permissions; with the accessibility bus switched off, asking for
    // accessibility switches it on again over the session bus.
    PermissionsController permissions;
    QList<bool> accessibility;
    QObject::connect(&permissions, &PermissionsController::accessibilityGrantedChanged,
                     [&](bool granted) { accessibility.append(granted); });
    permissions.refresh();
    EXPECT_TRUE(permissions.inputMonitoringGranted());
    PermissionsController::setAccessibilityBusEnabled(false);
    permissions.refresh();
    EXPECT_FALSE(permissions.accessibilityGranted());
    permissions.requestAccessibility();
    permissions.refresh();
    EXPECT_TRUE(permissions.accessibilityGranted());
    EXPECT_EQ(accessibility, (QList<bool>{true, false, true}));
}

// Run with a broken or a bare session bus (ctest's focus_e2e_no_* entries).
TEST(NoAccessibilityBus, NeutralAnswersQuicklyAndNoCrash) {
    TargetApp target(Kind::gtk, {QStringLiteral("--password")});
    ASSERT_TRUE(target.isReady()) << target.output().toStdString();
    FrontmostApplication frontmost;
    ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == target.pid(); }));
    FocusContextProvider focus(frontmost.activeWindowSource());
    for (int round = 0; round < 3; ++round) {
        expectNeutralAnswers(focus);
        EXPECT_FALSE(focus.focusedElement().has_value());
    }
    EXPECT_FALSE(PermissionsController::accessibilityBusEnabled());
}

} // namespace
} // namespace pimsel::e2e
