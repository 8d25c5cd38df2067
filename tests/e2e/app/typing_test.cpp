// The built application typed into as a user would, in GTK and Qt fields: suggestions under the
// caret and every way of accepting them, the keys it must take or leave, a cleared field, a stalled
// Pimsel; and silence in a password field ending at the next field.
#include "tests/e2e/support/typing_fixture.h"
#include "ui/suggestion_layout.h"

#include <csignal>

namespace pimsel::e2e {
namespace {

namespace layout = suggestion_layout;

TEST_P(Typing, SuggestionsAreShownUnderTheCaretAndEveryWayOfAcceptingWorks) {
    const QStringList smiRows = profile.cli({QStringLiteral("search"), QStringLiteral("smi")});
    ASSERT_EQ(smiRows.size(), 6);

    // ":smi": six rows under the caret (how the rows are drawn is the panel's own test, in ui_tests).
    type(":smi");
    ASSERT_EQ(app->waitForText(QStringLiteral(":smi")).toStdString(), ":smi");
    const std::optional<QRect> popover = waitForPopover();
    ASSERT_TRUE(popover) << pimsel->output().toStdString();
    EXPECT_EQ(popover->size(), layout::panelSize(6, false));
    const std::optional<QRect> caret = focus.caretRect();
    ASSERT_TRUE(caret);
    EXPECT_NEAR(popover->top(), caret->y() + caret->height() + 6, 1)
        << "caret " << caret->y() << "+" << caret->height() << ", popover at " << popover->top();
    EXPECT_NEAR(popover->left(), caret->left(), 30);

    // Down moves the selection and Up brings it back, neither reaching the field: after Down, Up and
    // Down, Tab accepts the second row. The use is counted.
    key("Down");
    key("Up");
    key("Down");
    key("Tab");
    const QString second = smiRows.at(1).section(QLatin1Char('\t'), 0, 0);
    EXPECT_EQ(app->waitForText(second).toStdString(), second.toStdString());
    EXPECT_TRUE(popoverGone());
    EXPECT_TRUE(pumpUntil(
        [&] { return profile.read(QStringLiteral("pimsel.useCounts")).toMap().value(second).toInt() == 1; }));
    EXPECT_EQ(profile.cli({QStringLiteral("search")}).value(0).section(QLatin1Char('\t'), 0, 0), second);
    settle();

    // The closing trigger right after an exact shortcode accepts it and never reaches the field.
    QString expected = second + QStringLiteral(" 🎉");
    type(" :tada:");
    EXPECT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
    settle();

    // Return, with acceptance by Return switched off, closes the popover and reaches the field.
    type(" :smi");
    expected += QStringLiteral(" :smi");
    ASSERT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
    ASSERT_TRUE(waitForPopover());
    key("Return");
    EXPECT_TRUE(popoverGone());
    EXPECT_TRUE(pumpUntil([&] { return x.presses(keyReturn) == 1; })) << "the Return never reached the field";

    // Escape closes the popover and is taken; with no popover it reaches the field.
    type(" :smi");
    expected += QStringLiteral(" :smi");
    ASSERT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
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
    expected += QStringLiteral(" ") + smiRows.at(2).section(QLatin1Char('\t'), 0, 0);
    EXPECT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
    settle();

    // A tone-capable emoji brings the tone strip; a chosen tone becomes the default.
    type(" :wave");
    std::optional<QRect> withTones;
    pumpUntil([&] {
        withTones = x.popover(pimsel->pid());
        return withTones && withTones->size() == layout::panelSize(6, true);
    });
    ASSERT_TRUE(withTones);
    ASSERT_EQ(withTones->size(), layout::panelSize(6, true));
    pump(200ms); // the grown panel is placed and painted before the user aims at it
    withTones = x.popover(pimsel->pid());
    ASSERT_TRUE(withTones);
    const QPoint medium = withTones->topLeft() + layout::toneCellRect(6, 6, 3).center();
    whileUserTypes([&] { typist->click(medium.x(), medium.y()); });
    expected += QStringLiteral(" 👋🏽");
    EXPECT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
    settle();
    type(" :wave");
    ASSERT_TRUE(waitForPopover());
    key("Tab");
    expected += QStringLiteral(" 👋🏽");
    EXPECT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
    settle();

    // A field cleared with BackSpace: only the field knows the caret is at its start, where the
    // popover comes as it came in the fresh field.
    type(" :smi");
    ASSERT_TRUE(waitForPopover());
    key("Escape");
    EXPECT_TRUE(popoverGone());
    key("ctrl+a");
    key("BackSpace");
    ASSERT_EQ(app->waitForText(QString()).toStdString(), "");
    type(":smi");
    expected = QStringLiteral(":smi");
    ASSERT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
    const std::optional<QRect> atStart = waitForPopover();
    ASSERT_TRUE(atStart) << "no popover in the cleared field";
    EXPECT_NEAR(atStart->left(), popover->left(), 10) << "the caret of the cleared field was not read";
    key("Escape");
    EXPECT_TRUE(popoverGone());

    // Pimsel stopped for a second with the popover open, the user presses Tab and moves on to
    // another window: once Pimsel runs again, the late Tab is the application's and nothing is
    // erased or pasted anywhere.
    type(" :smi");
    expected += QStringLiteral(" :smi");
    ASSERT_EQ(app->waitForText(expected).toStdString(), expected.toStdString());
    ASSERT_TRUE(waitForPopover());
    ASSERT_EQ(::kill(static_cast<pid_t>(pimsel->pid()), SIGSTOP), 0);
    typist->key("Tab");
    TargetApp other(GetParam());
    ASSERT_TRUE(other.isReady()) << other.diagnostics().toStdString();
    ASSERT_TRUE(typist->focus(other.window()));
    pump(1000ms);
    ASSERT_EQ(::kill(static_cast<pid_t>(pimsel->pid()), SIGCONT), 0);
    pump(1000ms);
    EXPECT_EQ(other.settledText().toStdString(), "");
    EXPECT_EQ(app->settledText().toStdString(), expected.toStdString());
}

// Silence in a password field ends the moment the focus is on the next, ordinary field of the same
// page or window: it gets the popover at the first ":smi". (A new window after a password one: the
// focus scenario.)
class AfterPassword : public Typing {
protected:
    QStringList targetArguments() const override { return {QStringLiteral("--login")}; }
};

TEST_P(AfterPassword, TheNextOrdinaryFieldGetsThePopoverAtOnce) {
    type("pw :smi");
    QString typed;
    ASSERT_TRUE(pumpUntil([&] { return (typed = app->passwordText()) == QStringLiteral("pw :smi"); }, 4s))
        << "the password field got \"" << typed.toStdString() << '"';
    EXPECT_FALSE(pumpUntil([&] { return x.popover(pimsel->pid()).has_value(); }, 800ms))
        << "a popover in the password field";
    // The Tab that leaves the password field is the application's.
    key("Tab");
    type(":smi");
    ASSERT_EQ(app->waitForText(QStringLiteral(":smi")).toStdString(), ":smi");
    ASSERT_TRUE(waitForPopover()) << "silent in the ordinary field after the password field";
    key("Tab");
    const QString smile = profile.topResult(QStringLiteral("smi"));
    EXPECT_EQ(app->waitForText(smile).toStdString(), smile.toStdString());
    EXPECT_TRUE(popoverGone());
}

INSTANTIATE_TEST_SUITE_P(Targets, Typing, testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                         targetName);
INSTANTIATE_TEST_SUITE_P(Targets, AfterPassword,
                         testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::chromium,
                                         TargetApp::Kind::firefox),
                         targetName);

} // namespace
} // namespace pimsel::e2e
