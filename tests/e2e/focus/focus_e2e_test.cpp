// The focus questions and the frontmost application against real GTK, Qt and Chromium windows in
// the test desktop.

#include "focus_e2e_support.h"
#include "platform/atspi_client.h"
#include "platform/focus_context_provider.h"
#include "platform/frontmost_application.h"
#include "platform/permissions_controller.h"

#include <QCoreApplication>
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

#include <ostream>

#include <cstdio>

// Readable failure messages.
void PrintTo(const QUrl& url, std::ostream* os) {
    *os << url.toString().toStdString();
}
void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

using namespace pimsel;
using namespace pimsel::e2e;

namespace {

constexpr std::uint32_t keyHome = 0xff50;
constexpr std::uint32_t keyRight = 0xff53;
constexpr uint roleEntry = 79;

enum class Toolkit { gtk, qt };

std::unique_ptr<Target> startTarget(Toolkit toolkit, const QStringList& arguments) {
    return toolkit == Toolkit::gtk ? startGtkTarget(arguments) : startQtTarget(arguments);
}

const char* toolkitName(Toolkit toolkit) {
    return toolkit == Toolkit::gtk ? "GTK" : "Qt";
}

class FocusTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(frontmost.hasDisplay()) << "no X display"; }

    // The target's window is active and its focused field is visible on the accessibility bus.
    void bringUp(const Target& target) {
        ASSERT_TRUE(waitUntil([&] { return frontmost.activeProcessId() == target.pid(); }))
            << "the target window never became active";
        ASSERT_TRUE(waitUntil([&] { return focus.focusedElement().has_value(); }))
            << "no focused element found for pid " << target.pid();
    }

    FrontmostApplication frontmost;
    FocusContextProvider focus{frontmost.activeWindowSource()};
};

// ---------------------------------------------------------------------------------------------
// Password fields

struct SecureCase {
    Toolkit toolkit;
    bool password;
};

class SecureFieldTest : public FocusTest, public ::testing::WithParamInterface<SecureCase> {};

TEST_P(SecureFieldTest, OnlyPasswordFieldsCountAsSecure) {
    const SecureCase c = GetParam();
    QStringList arguments{QStringLiteral("--text"), QStringLiteral("secret words")};
    if (c.password)
        arguments << QStringLiteral("--password");
    const auto target = startTarget(c.toolkit, arguments);
    ASSERT_NE(target, nullptr);
    bringUp(*target);
    EXPECT_EQ(focus.isSecureFieldFocused(), c.password) << toolkitName(c.toolkit);
    // A password field still says where its caret is (the field itself at worst).
    EXPECT_TRUE(focus.caretRect().has_value());
}

INSTANTIATE_TEST_SUITE_P(Toolkits, SecureFieldTest,
                         ::testing::Values(SecureCase{Toolkit::gtk, true}, SecureCase{Toolkit::gtk, false},
                                           SecureCase{Toolkit::qt, true}, SecureCase{Toolkit::qt, false}),
                         [](const auto& info) {
                             return std::string(toolkitName(info.param.toolkit)) +
                                    (info.param.password ? "Password" : "Plain");
                         });

// The answer follows the focus from a password field to an ordinary one and back, with nothing
// asked twice from a stale element; and in a new window of another application at once.
TEST_F(FocusTest, PasswordAnswerFollowsTheFocusAcrossFieldsAndWindows) {
    constexpr std::uint32_t keyTab = 0xff09;
    const auto login = startGtkTarget({QStringLiteral("--password"), QStringLiteral("--plain-after")});
    ASSERT_NE(login, nullptr);
    bringUp(*login);
    ASSERT_TRUE(focus.isSecureFieldFocused());
    for (int round = 0; round < 2; ++round) {
        pressKey(keyTab);
        EXPECT_TRUE(waitUntil([&] { return focus.isFollowingFocus() && !focus.isSecureFieldFocused(); }))
            << "round " << round << ": still silent in the ordinary entry";
        EXPECT_EQ(focus.textBeforeCaret(2), QString()) << "the ordinary entry is empty";
        pressKey(keyTab, 2); // past the button, round to the first entry
        EXPECT_TRUE(waitUntil([&] { return focus.isFollowingFocus() && focus.isSecureFieldFocused(); }))
            << "round " << round << ": the password entry was not recognised again";
    }
    const auto plain = startGtkTarget({QStringLiteral("--text"), QStringLiteral("ab c")});
    ASSERT_NE(plain, nullptr);
    bringUp(*plain);
    EXPECT_FALSE(focus.isSecureFieldFocused());
    EXPECT_EQ(focus.textBeforeCaret(2), QStringLiteral(" c"));
}

// ---------------------------------------------------------------------------------------------
// Caret rectangle

class CaretTest : public FocusTest, public ::testing::WithParamInterface<Toolkit> {
protected:
    void expectInside(const QRect& caret, const QRect& window, const char* where) {
        EXPECT_GT(caret.height(), 0) << where;
        EXPECT_TRUE(window.contains(caret.topLeft()) && window.contains(caret.bottomLeft()))
            << where << ": caret " << caret.x() << "," << caret.y() << " " << caret.width() << "x"
            << caret.height() << " outside window " << window.x() << "," << window.y() << " "
            << window.width() << "x" << window.height();
    }
};

TEST_P(CaretTest, CaretLiesInsideTheFieldsWindowAndFollowsTheText) {
    const auto target =
        startTarget(GetParam(), {QStringLiteral("--text"), QStringLiteral("hello caret world")});
    ASSERT_NE(target, nullptr);
    bringUp(*target);
    const std::optional<QRect> window = windowGeometry(target->window());
    ASSERT_TRUE(window.has_value());

    // Focusing a field with text leaves the caret at its end.
    std::optional<QRect> end;
    ASSERT_TRUE(waitUntil([&] { return (end = focus.caretRect()).has_value(); }));
    expectInside(*end, *window, "end of text");

    pressKey(keyHome);
    std::optional<QRect> start;
    ASSERT_TRUE(waitUntil([&] {
        start = focus.caretRect();
        return start && start->x() < end->x();
    })) << "the caret did not move left after Home";
    expectInside(*start, *window, "start of text");

    pressKey(keyRight, 5);
    std::optional<QRect> middle;
    ASSERT_TRUE(waitUntil([&] {
        middle = focus.caretRect();
        return middle && middle->x() > start->x();
    })) << "the caret did not follow Right";
    expectInside(*middle, *window, "mid-text");
    EXPECT_LT(middle->x(), end->x());
    EXPECT_EQ(middle->y(), start->y()); // one line
}

TEST_P(CaretTest, EmptyFieldGivesACaretInsideTheWindow) {
    const auto target = startTarget(GetParam(), {});
    ASSERT_NE(target, nullptr);
    bringUp(*target);
    const std::optional<QRect> window = windowGeometry(target->window());
    ASSERT_TRUE(window.has_value());
    std::optional<QRect> caret;
    ASSERT_TRUE(waitUntil([&] { return (caret = focus.caretRect()).has_value(); }));
    expectInside(*caret, *window, "empty field");
}

INSTANTIATE_TEST_SUITE_P(Toolkits, CaretTest, ::testing::Values(Toolkit::gtk, Toolkit::qt),
                         [](const auto& info) { return std::string(toolkitName(info.param)); });

// ---------------------------------------------------------------------------------------------
// Unresponsive application

TEST_F(FocusTest, FrozenApplicationCostsOneBoundedWaitAndGivesNeutralAnswers) {
    const auto target =
        startGtkTarget({QStringLiteral("--password"), QStringLiteral("--text"), QStringLiteral("x")});
    ASSERT_NE(target, nullptr);
    bringUp(*target);
    ASSERT_TRUE(waitUntil([&] { return focus.isSecureFieldFocused() && focus.isFollowingFocus(); }));

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
    std::printf("frozen target: isSecureFieldFocused %lld ms, caretRect %lld ms, currentBrowserURL %lld ms\n",
                static_cast<long long>(secureMs), static_cast<long long>(caretMs),
                static_cast<long long>(urlMs));
    EXPECT_FALSE(secure);
    EXPECT_FALSE(caret.has_value());
    EXPECT_FALSE(url.has_value());
    // A hang guard, not a speed target: the budget is 250 ms per question.
    EXPECT_LT(secureMs, 1000);
    EXPECT_LT(caretMs, 1000);
    EXPECT_LT(urlMs, 1000);

    target->resume();
    EXPECT_TRUE(waitUntil([&] { return focus.isSecureFieldFocused(); }))
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

    const auto gtk = startGtkTarget({QStringLiteral("--title"), QStringLiteral("first")});
    ASSERT_NE(gtk, nullptr);
    ASSERT_TRUE(waitUntil([&] { return frontmost.activeProcessId() == gtk->pid(); }));
    EXPECT_EQ(frontmost.activeWindow(), gtk->window());
    // No desktop entry and no GTK application id: the lower-cased window class.
    EXPECT_EQ(frontmost.frontmostApplicationId(), QStringLiteral("gtk_entry.py"));
    EXPECT_EQ(frontmost.displayName(QStringLiteral("gtk_entry.py")), QStringLiteral("Gtk_entry.py"));
    ASSERT_TRUE(waitUntil([&] { return announced.contains(QStringLiteral("gtk_entry.py")); }));

    const auto qt = startQtTarget({QStringLiteral("--title"), QStringLiteral("second")});
    ASSERT_NE(qt, nullptr);
    ASSERT_TRUE(waitUntil([&] { return frontmost.activeProcessId() == qt->pid(); }));
    EXPECT_EQ(frontmost.frontmostApplicationId(), QStringLiteral("org.example.FieldTarget"));
    EXPECT_EQ(frontmost.displayName(QStringLiteral("org.example.FieldTarget")),
              QStringLiteral("Field Target"));
    EXPECT_EQ(frontmost.activeWindow(), qt->window());
    ASSERT_TRUE(waitUntil([&] {
        return !announced.isEmpty() && announced.last() == QStringLiteral("org.example.FieldTarget");
    }));

    // Back to the first window the way the panels do it.
    announced.clear();
    frontmost.activateWindow(gtk->window());
    ASSERT_TRUE(waitUntil([&] { return frontmost.activeProcessId() == gtk->pid(); }))
        << "activateWindow did not bring the first window back";
    EXPECT_EQ(frontmost.activeWindow(), gtk->window());
    EXPECT_TRUE(waitUntil([&] { return announced == QStringList{QStringLiteral("gtk_entry.py")}; }))
        << announced.join(u',').toStdString();

    // A second window of the same application is no switch.
    const auto gtk2 = startGtkTarget({QStringLiteral("--title"), QStringLiteral("third")});
    ASSERT_NE(gtk2, nullptr);
    ASSERT_TRUE(waitUntil([&] { return frontmost.activeProcessId() == gtk2->pid(); }));
    QElapsedTimer settle;
    settle.start();
    waitUntil([&] { return settle.elapsed() > 300; });
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
    const auto target = startGtkTarget({QStringLiteral("--password")});
    ASSERT_NE(target, nullptr);
    FrontmostApplication frontmost;
    ASSERT_TRUE(waitUntil([&] { return frontmost.activeProcessId() == target->pid(); }));
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

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
