// The focus questions and the frontmost application against real GTK, Qt and Chromium windows in
// the test desktop; password inputs and the page address in Chromium.

#include "platform/permissions_controller.h"
#include "tests/e2e/support/typing_fixture.h"
#include "tests/e2e/support/web.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

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

class FocusTest : public ::testing::Test, protected FocusProbe {
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

    Typist keys{nullptr, Typist::MasterLifetime::removeOnDestruction, Typist::Keyboard::core};
};

// ---------------------------------------------------------------------------------------------
// Password fields

// The answer follows the focus from a password field to an ordinary one and back, with nothing
// asked twice from a stale element; a frozen application costs each question one bounded wait and
// gets neutral answers until it wakes up; and a new window of another application is answered for
// at once.
TEST_F(FocusTest, PasswordAnswerFollowsTheFocusThroughAFrozenApplicationAndToANewWindow) {
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

    login->stop();
    const std::pair<const char*, std::function<bool()>> questions[] = {
        {"isSecureFieldFocused", [&] { return focus.isSecureFieldFocused(); }},
        {"caretRect", [&] { return focus.caretRect().has_value(); }},
        {"currentBrowserURL", [&] { return focus.currentBrowserURL().has_value(); }},
    };
    for (const auto& [name, answered] : questions) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(answered()) << name;
        // A hang guard, not a speed target: the budget is 250 ms a question.
        EXPECT_LT(clock.elapsed(), 1000) << name;
    }
    login->resume();
    EXPECT_TRUE(pumpUntil([&] { return focus.isSecureFieldFocused(); }))
        << "answers did not come back after the application woke up";

    const auto plain = startTarget(Kind::gtk, {QStringLiteral("--text"), QStringLiteral("ab c")});
    bringUp(*plain);
    EXPECT_FALSE(focus.isSecureFieldFocused());
    EXPECT_EQ(focus.textBeforeCaret(2), QStringLiteral(" c"));
    // The field hides its text without the focus moving: the answer remembered for the letters is
    // checked behind them, the turn is reported, and the next answer is the new one.
    bool turned = false;
    focus.setFieldTurnedSecureHandler([&] { turned = true; });
    EXPECT_FALSE(focus.isSecureFieldFocusedRemembered());
    ASSERT_EQ(::kill(static_cast<pid_t>(plain->pid()), SIGUSR1), 0);
    EXPECT_TRUE(pumpUntil([&] { return focus.isSecureFieldFocusedRemembered() && turned; }))
        << "the field that hid its text is still taken for an ordinary one";
}

// ---------------------------------------------------------------------------------------------
// Password fields of each toolkit

class FieldTest : public FocusTest, public ::testing::WithParamInterface<Kind> {};

// A password field counts as secure and still says where its caret is (the field itself at worst).
// Where an ordinary field's caret is shows in the popover's place (app_e2e).
TEST_P(FieldTest, APasswordFieldIsSecureAndHasACaret) {
    const auto secret = startTarget(
        GetParam(), {QStringLiteral("--text"), QStringLiteral("secret words"), QStringLiteral("--password")});
    bringUp(*secret);
    EXPECT_TRUE(focus.isSecureFieldFocused());
    EXPECT_TRUE(focus.caretRect().has_value());
}

INSTANTIATE_TEST_SUITE_P(Toolkits, FieldTest, ::testing::Values(Kind::gtk, Kind::qt), targetName);

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

    const auto gtk = startTarget(Kind::gtk, {});
    ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == gtk->pid(); }));
    EXPECT_EQ(frontmost.activeWindow(), gtk->window());
    // No desktop entry and no GTK application id: the lower-cased window class.
    EXPECT_EQ(frontmost.frontmostApplicationId(), QStringLiteral("gtk_entry.py"));
    EXPECT_EQ(frontmost.displayName(QStringLiteral("gtk_entry.py")), QStringLiteral("Gtk_entry.py"));
    ASSERT_TRUE(pumpUntil([&] { return announced.contains(QStringLiteral("gtk_entry.py")); }));

    const auto qt = startTarget(Kind::qt, {});
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
    const auto gtk2 = startTarget(Kind::gtk, {});
    ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == gtk2->pid(); }));
    pump(300ms);
    EXPECT_EQ(announced, QStringList{QStringLiteral("gtk_entry.py")});
}

// ---------------------------------------------------------------------------------------------
// Permissions as the test desktop grants them

TEST(PermissionsTest, TestDesktopGrantsBothAndAccessibilityCanBeRequested) {
    PermissionsController permissions;
    QList<bool> accessibility;
    QObject::connect(&permissions, &PermissionsController::accessibilityGrantedChanged,
                     [&](bool granted) { accessibility.append(granted); });
    permissions.refresh();
    EXPECT_TRUE(permissions.accessibilityGranted());
    EXPECT_TRUE(permissions.inputMonitoringGranted());

    PermissionsController::setAccessibilityBusEnabled(false);
    permissions.refresh();
    EXPECT_FALSE(permissions.accessibilityGranted());
    EXPECT_TRUE(permissions.inputMonitoringGranted());

    permissions.requestAccessibility();
    permissions.refresh();
    permissions.refresh();
    EXPECT_TRUE(permissions.accessibilityGranted());
    EXPECT_EQ(accessibility, (QList<bool>{true, false, true}));
    PermissionsController::setAccessibilityBusEnabled(
        true); // whatever happened above, later tests need it on
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

// ---------------------------------------------------------------------------------------------
// Chromium pages served from 127.0.0.1 (a ctest entry of its own: focus_browser_e2e)

constexpr auto pageTimeout = 45s;

class BrowserTest : public FocusTest {
protected:
    static void SetUpTestSuite() {
        server =
            new PageServer({{QStringLiteral("inner.html"),
                             "<title>inner</title><input id='inner' autofocus>"
                             "<script>onload = () => document.getElementById('inner').focus();</script>"},
                            {QStringLiteral("framed.html"),
                             "<title>framed</title><p>Outer page</p><iframe src='inner.html'></iframe>"},
                            {QStringLiteral("nothing.html"),
                             "<title>nothing</title><p>No field has the focus here.</p><input id='later'>"}});
        ASSERT_TRUE(server->isReady()) << "the page server did not start";
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        FocusTest::SetUp();
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
            << "chromium missing";
    }

    // The browser's window is the active one. Nothing has asked the browser for its page yet: the
    // first key's question must find the focused input unknown and answer as for a password field
    // (silent rather than wrong); that question, or a later key's when the browser joined the bus
    // only after the first, has the browser expose its page.
    void firstKeyIn(const ChromiumBrowser& browser) {
        ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == browser.pid(); }, pageTimeout))
            << "the browser's window never became the active one";
        EXPECT_TRUE(focus.isSecureFieldFocused()) << "the first key in a fresh browser was not kept silent";
    }

    // The user goes on typing, a key every 100 ms, each asking as the first did.
    void keepTyping() {
        if (!sinceKey.isValid() || sinceKey.elapsed() >= 100) {
            sinceKey.start();
            focus.isSecureFieldFocused();
        }
    }
    bool typingFinds(uint role) {
        keepTyping();
        return focusedRole() == role;
    }

    static PageServer* server;
    QElapsedTimer sinceKey;
};

PageServer* BrowserTest::server = nullptr;

// Each page in a fresh browser: what the focused input is, and the page's address. An input inside a
// frame gives the outer page's address; with nothing focused in the page, or with the browser's own
// address bar focused, the page on screen still gives it. (A password page, a login page and an
// ordinary input's caret: app_e2e.)
TEST_F(BrowserTest, FocusedInputAndAddressOfEachKindOfPage) {
    const struct {
        const char* page;
        std::optional<uint> role; // of the focused element, once the page is exposed
        std::string then;         // a key that moves the focus to the address bar
    } pages[] = {
        {"framed.html", roleEntry, ""},
        {"nothing.html", std::nullopt, "F6"},
    };
    for (const auto& p : pages) {
        SCOPED_TRACE(p.page);
        const QUrl page = server->url(QLatin1String(p.page));
        ChromiumBrowser browser(page);
        firstKeyIn(browser);
        if (p.role) {
            ASSERT_TRUE(pumpUntil([&] { return typingFinds(*p.role); }, pageTimeout))
                << "the autofocused input was never seen";
            EXPECT_FALSE(focus.isSecureFieldFocused());
            // The document's address may come a moment after its focused input.
            EXPECT_TRUE(pumpUntil([&] { return focus.currentBrowserURL() == page; }, 5s))
                << "read " << focus.currentBrowserURL().value_or(QUrl()).toString().toStdString();
        } else {
            std::optional<QUrl> url;
            ASSERT_TRUE(pumpUntil(
                [&] {
                    keepTyping();
                    return (url = focus.currentBrowserURL()) == page;
                },
                pageTimeout))
                << "read " << (url ? url->toString().toStdString() : "none");
            EXPECT_NE(focusedRole(), roleEntry);
            EXPECT_FALSE(focus.isSecureFieldFocused());
            EXPECT_EQ(frontmost.frontmostApplicationId(), QStringLiteral("chromium"));
        }
        if (p.then.empty())
            continue;
        press(p.then);
        ASSERT_TRUE(pumpUntil([&] { return focusedRole() == roleEntry; }, 10s))
            << p.then << " did not focus an ordinary input";
        EXPECT_TRUE(pumpUntil([&] { return focus.currentBrowserURL() == page; }, 5s));
    }
}

} // namespace
