// The focus questions and the frontmost application against real GTK, Qt and Chromium windows in
// the test desktop.

#include "platform/atspi_client.h"
#include "platform/focus_context_provider.h"
#include "platform/frontmost_application.h"
#include "platform/permissions_controller.h"
#include "tests/e2e/support/desktop.h"
#include "tests/e2e/support/target_app.h"
#include "tests/e2e/support/typist.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::e2e;

namespace {

using namespace std::chrono_literals;
using Kind = TargetApp::Kind;

std::unique_ptr<TargetApp> startTarget(Kind kind, const QStringList& arguments) {
    auto target = std::make_unique<TargetApp>(kind, arguments);
    EXPECT_TRUE(target->isReady()) << target->diagnostics().toStdString();
    return target;
}

class FocusTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(frontmost.hasDisplay()) << "no X display";
        ASSERT_TRUE(keys.isReady()) << keys.error();
    }

    // The target's window is active and its focused field is visible on the accessibility bus.
    void bringUp(const TargetApp& target) {
        ASSERT_TRUE(target.isReady());
        ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == target.pid(); }, 10s))
            << "the target window never became active";
        ASSERT_TRUE(pumpUntil([&] { return focus.focusedElement().has_value(); }, 10s))
            << "no focused element found for pid " << target.pid();
    }
    // Keys on the session's own keyboard, to whatever has its focus.
    void press(const std::string& key, int count = 1) {
        for (int i = 0; i < count; ++i)
            keys.key(key);
        keys.sync();
    }

    FrontmostApplication frontmost;
    FocusContextProvider focus{frontmost.activeWindowSource()};
    Typist keys{nullptr, Typist::MasterLifetime::removeOnDestruction, Typist::Keyboard::core};
};

// ---------------------------------------------------------------------------------------------
// Password fields

// The answer follows the focus from a password field to an ordinary one and back, with nothing
// asked twice from a stale element; and in a new window of another application at once.
TEST_F(FocusTest, PasswordAnswerFollowsTheFocusAcrossFieldsAndWindows) {
    const auto login =
        startTarget(Kind::gtk, {QStringLiteral("--password"), QStringLiteral("--plain-after")});
    bringUp(*login);
    ASSERT_TRUE(focus.isSecureFieldFocused());
    for (int round = 0; round < 2; ++round) {
        press("Tab");
        EXPECT_TRUE(pumpUntil([&] { return focus.isFollowingFocus() && !focus.isSecureFieldFocused(); }))
            << "round " << round << ": still silent in the ordinary entry";
        EXPECT_EQ(focus.textBeforeCaret(2), QString()) << "the ordinary entry is empty";
        press("Tab", 2); // past the button, round to the first entry
        EXPECT_TRUE(pumpUntil([&] { return focus.isFollowingFocus() && focus.isSecureFieldFocused(); }))
            << "round " << round << ": the password entry was not recognised again";
    }
    const auto plain = startTarget(Kind::gtk, {QStringLiteral("--text"), QStringLiteral("ab c")});
    bringUp(*plain);
    EXPECT_FALSE(focus.isSecureFieldFocused());
    EXPECT_EQ(focus.textBeforeCaret(2), QStringLiteral(" c"));
}

// ---------------------------------------------------------------------------------------------
// Caret rectangle

class FieldTest : public FocusTest, public ::testing::WithParamInterface<Kind> {
protected:
    void expectInside(const QRect& caret, const QRect& window, const char* where) {
        EXPECT_GT(caret.height(), 0) << where;
        EXPECT_TRUE(window.contains(caret.topLeft()) && window.contains(caret.bottomLeft()))
            << where << ": caret " << caret.x() << "," << caret.y() << " " << caret.width() << "x"
            << caret.height() << " outside window " << window.x() << "," << window.y() << " "
            << window.width() << "x" << window.height();
    }
};

// A password field counts as secure and still says where its caret is (the field itself at worst).
// In an ordinary field the caret lies inside the field's window and follows the text to an empty
// field.
TEST_P(FieldTest, PasswordFieldsAreSecureAndTheCaretFollowsTheText) {
    {
        const auto secret = startTarget(GetParam(), {QStringLiteral("--text"), QStringLiteral("secret words"),
                                                     QStringLiteral("--password")});
        bringUp(*secret);
        EXPECT_TRUE(focus.isSecureFieldFocused());
        EXPECT_TRUE(focus.caretRect().has_value());
    }
    const auto target =
        startTarget(GetParam(), {QStringLiteral("--text"), QStringLiteral("hello caret world")});
    bringUp(*target);
    EXPECT_FALSE(focus.isSecureFieldFocused()) << "an ordinary field counts as secure";
    const std::optional<QRect> window = XView().rootGeometry(target->window());
    ASSERT_TRUE(window.has_value());

    // Focusing a field with text leaves the caret at its end.
    std::optional<QRect> end;
    ASSERT_TRUE(pumpUntil([&] { return (end = focus.caretRect()).has_value(); }));
    expectInside(*end, *window, "end of text");

    press("Home");
    std::optional<QRect> start;
    ASSERT_TRUE(pumpUntil([&] {
        start = focus.caretRect();
        return start && start->x() < end->x();
    })) << "the caret did not move left after Home";
    expectInside(*start, *window, "start of text");

    press("Right", 5);
    std::optional<QRect> middle;
    ASSERT_TRUE(pumpUntil([&] {
        middle = focus.caretRect();
        return middle && middle->x() > start->x();
    })) << "the caret did not follow Right";
    expectInside(*middle, *window, "mid-text");
    EXPECT_LT(middle->x(), end->x());
    EXPECT_EQ(middle->y(), start->y()); // one line

    // An empty field has no character to take a box from: the caret is still inside the window.
    press("ctrl+a");
    press("BackSpace");
    ASSERT_EQ(target->waitForText(QString()).toStdString(), "");
    std::optional<QRect> empty;
    ASSERT_TRUE(pumpUntil([&] {
        return (empty = focus.caretRect()).has_value() && empty->x() < middle->x();
    })) << "no caret at the start of the emptied field";
    expectInside(*empty, *window, "empty field");
}

INSTANTIATE_TEST_SUITE_P(Toolkits, FieldTest, ::testing::Values(Kind::gtk, Kind::qt), targetName);

// ---------------------------------------------------------------------------------------------
// Unresponsive application

TEST_F(FocusTest, FrozenApplicationCostsOneBoundedWaitAndGivesNeutralAnswers) {
    const auto target =
        startTarget(Kind::gtk, {QStringLiteral("--password"), QStringLiteral("--text"), QStringLiteral("x")});
    bringUp(*target);
    ASSERT_TRUE(pumpUntil([&] { return focus.isSecureFieldFocused() && focus.isFollowingFocus(); }));

    target->stop();
    const auto timed = [](const std::function<void()>& query) {
        QElapsedTimer clock;
        clock.start();
        query();
        return clock.elapsed();
    };
    bool secure = true;
    std::optional<QRect> caret;
    std::optional<QUrl> url;
    const qint64 secureMs = timed([&] { secure = focus.isSecureFieldFocused(); });
    const qint64 caretMs = timed([&] { caret = focus.caretRect(); });
    const qint64 urlMs = timed([&] { url = focus.currentBrowserURL(); });
    EXPECT_FALSE(secure);
    EXPECT_FALSE(caret.has_value());
    EXPECT_FALSE(url.has_value());
    // A hang guard, not a speed target: the budget is 250 ms per question.
    EXPECT_LT(secureMs, 1000);
    EXPECT_LT(caretMs, 1000);
    EXPECT_LT(urlMs, 1000);

    target->resume();
    EXPECT_TRUE(pumpUntil([&] { return focus.isSecureFieldFocused(); }))
        << "answers did not come back after the application woke up";
}

// ---------------------------------------------------------------------------------------------
// Frontmost application

TEST(FrontmostApplicationTest, IdentifiesTheActiveWindowsApplicationAndAnnouncesSwitches) {
    // A desktop entry for the Qt target, found through its window class.
    const QString applications = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
    ASSERT_TRUE(QDir().mkpath(applications));
    QFile entry(applications + QStringLiteral("/org.example.FieldTarget.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write(
        "[Desktop Entry]\nType=Application\nName=Field Target\nExec=qt_field\nStartupWMClass=qt_field\n");
    entry.close();

    FrontmostApplication frontmost;
    ASSERT_TRUE(frontmost.hasDisplay());
    QStringList announced;
    QObject::connect(&frontmost, &FrontmostApplication::frontmostApplicationChanged,
                     [&](const QString& id) { announced.append(id); });

    const auto gtk = startTarget(Kind::gtk, {QStringLiteral("--title"), QStringLiteral("first")});
    ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == gtk->pid(); }));
    EXPECT_EQ(frontmost.activeWindow(), gtk->window());
    // No desktop entry and no GTK application id: the lower-cased window class.
    EXPECT_EQ(frontmost.frontmostApplicationId(), QStringLiteral("gtk_entry.py"));
    EXPECT_EQ(frontmost.displayName(QStringLiteral("gtk_entry.py")), QStringLiteral("Gtk_entry.py"));
    ASSERT_TRUE(pumpUntil([&] { return announced.contains(QStringLiteral("gtk_entry.py")); }));

    const auto qt = startTarget(Kind::qt, {QStringLiteral("--title"), QStringLiteral("second")});
    ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == qt->pid(); }));
    EXPECT_EQ(frontmost.frontmostApplicationId(), QStringLiteral("org.example.FieldTarget"));
    EXPECT_EQ(frontmost.displayName(QStringLiteral("org.example.FieldTarget")),
              QStringLiteral("Field Target"));
    EXPECT_EQ(frontmost.activeWindow(), qt->window());
    ASSERT_TRUE(pumpUntil([&] {
        return !announced.isEmpty() && announced.last() == QStringLiteral("org.example.FieldTarget");
    }));

    // Back to the first window the way the panels do it.
    announced.clear();
    frontmost.activateWindow(gtk->window());
    ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == gtk->pid(); }))
        << "activateWindow did not bring the first window back";
    EXPECT_EQ(frontmost.activeWindow(), gtk->window());
    EXPECT_TRUE(pumpUntil([&] { return announced == QStringList{QStringLiteral("gtk_entry.py")}; }))
        << announced.join(u',').toStdString();

    // A second window of the same application is no switch.
    const auto gtk2 = startTarget(Kind::gtk, {QStringLiteral("--title"), QStringLiteral("third")});
    ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == gtk2->pid(); }));
    pump(300ms);
    EXPECT_EQ(announced, QStringList{QStringLiteral("gtk_entry.py")});
}

// ---------------------------------------------------------------------------------------------
// Permissions as the test desktop grants them

void setAccessibilitySwitch(bool on) {
    QDBusMessage set = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    set << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled")
        << QVariant::fromValue(QDBusVariant(on));
    QDBusConnection::sessionBus().call(set, QDBus::Block, 2000);
}

TEST(PermissionsTest, TestDesktopGrantsBothAndAccessibilityCanBeRequested) {
    PermissionsController permissions;
    QList<bool> accessibility;
    QObject::connect(&permissions, &PermissionsController::accessibilityGrantedChanged,
                     [&](bool granted) { accessibility.append(granted); });
    permissions.refresh();
    EXPECT_TRUE(permissions.accessibilityGranted());
    EXPECT_TRUE(permissions.inputMonitoringGranted());

    setAccessibilitySwitch(false);
    permissions.refresh();
    EXPECT_FALSE(permissions.accessibilityGranted());
    EXPECT_TRUE(permissions.inputMonitoringGranted());

    permissions.requestAccessibility();
    permissions.refresh();
    permissions.refresh();
    EXPECT_TRUE(permissions.accessibilityGranted());
    EXPECT_EQ(accessibility, (QList<bool>{true, false, true}));
    setAccessibilitySwitch(true); // whatever happened above, later tests need it on
}

// ---------------------------------------------------------------------------------------------
// Without an accessibility bus (run with a broken or a bare session bus)

TEST(NoAccessibilityBus, NeutralAnswersQuicklyAndNoCrash) {
    const auto target = startTarget(Kind::gtk, {QStringLiteral("--password")});
    FrontmostApplication frontmost;
    ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == target->pid(); }));
    FocusContextProvider focus(frontmost.activeWindowSource());
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(focus.isSecureFieldFocused());
        EXPECT_FALSE(focus.caretRect().has_value());
        EXPECT_FALSE(focus.currentBrowserURL().has_value());
        EXPECT_FALSE(focus.focusedElement().has_value());
        EXPECT_LT(clock.elapsed(), 1000);
    }
    EXPECT_FALSE(PermissionsController::accessibilityBusEnabled());
}

} // namespace
