// The built application's lifecycle: no display, its item on a panel's tray, one instance that a
// second start hands over to (its onboarding window, where Pimsel works too, and its preferences),
// the hook's connection broken, and SIGTERM during an insertion with the user's clipboard handed to
// the session's clipboard manager.
#include "tests/e2e/support/typing_fixture.h"

#include <QRegularExpression>

#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pimsel::e2e {
namespace {

// Breaks a connection of another process of ours from outside, the way the server ends it.
bool shutDownSocketOf(qint64 pid, int descriptor) {
    const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (process < 0)
        return false;
    const int socket = static_cast<int>(::syscall(SYS_pidfd_getfd, process, descriptor, 0));
    const bool done = socket >= 0 && ::shutdown(socket, SHUT_RDWR) == 0;
    if (socket >= 0)
        ::close(socket);
    ::close(process);
    return done;
}

// "--preferences", handed over by a second start as the tray's row hands it over, opens an ordinary
// window of 680 × 540 (each pane saved as a PNG into $PIMSEL_E2E_SHOTS when set: the README's
// figures). What its switches do is the preferences' own test (ui_tests). Closes the window and
// makes `target` the active window again.
void openPreferences(XView& x, Typist& typist, PimselProcess& pimsel, const Profile& profile,
                     xcb_window_t target) {
    Process request(QStringLiteral(PIMSEL_BINARY), {QStringLiteral("--preferences")}, {},
                    profile.environment());
    ASSERT_TRUE(request.waitForExit());
    EXPECT_EQ(request.exitCode(), 0) << request.output().toStdString();
    std::vector<xcb_window_t> windows;
    std::optional<QRect> frame;
    ASSERT_TRUE(pumpUntil([&] {
        windows = x.managedWindows(pimsel.pid());
        frame = windows.empty() ? std::nullopt : x.rootGeometry(windows.front());
        return frame && frame->size() == QSize(680, 540);
    })) << pimsel.output().toStdString();
    pump(500ms);

    // Sidebar rows: 12 from the top, 32 high, 4 apart.
    const QString shots = qEnvironmentVariable("PIMSEL_E2E_SHOTS");
    const char* panes[] = {"general", "shortcuts", "custom", "privacy", "other-projects"};
    for (int row = 0; row < 5 && !shots.isEmpty(); ++row) {
        ASSERT_TRUE(typist.click(frame->x() + 98, frame->y() + 12 + 36 * row + 16));
        pump(400ms);
        grabScreen(*frame).save(
            QStringLiteral("%1/preferences-%2.png").arg(shots, QLatin1String(panes[row])));
    }
    x.close(windows.front());
    ASSERT_TRUE(pumpUntil([&] { return x.managedWindows(pimsel.pid()).empty(); }));
    ASSERT_TRUE(typist.activate(target));
    ASSERT_TRUE(typist.focus(target));
}

TEST(Lifecycle, OneInstanceClosingWindowsDoesNotQuitAndSigtermDoes) {
    XView x;
    ASSERT_TRUE(x.isOpen());
    Profile profile;

    // Without a display it says so and fails.
    QProcessEnvironment env = profile.environment();
    env.remove(QStringLiteral("DISPLAY"));
    Process headless(QStringLiteral(PIMSEL_BINARY), {}, {}, env);
    ASSERT_TRUE(headless.waitForExit());
    EXPECT_EQ(headless.exitCode(), 2);
    EXPECT_TRUE(headless.output().contains(QLatin1String("X11")));

    // Another application's clipboard, a clipboard manager to take it over when its owner quits,
    // and a panel's tray host (a stand-in that says which items register with it).
    const auto manager = clipboardManager();
    ASSERT_TRUE(manager->ready);
    const auto owner = clipboardOwner();
    ASSERT_TRUE(owner->ready);
    const QString clipboard = dumpClipboard();
    ASSERT_GE(clipboard.count('\n'), 2) << clipboard.toStdString();
    Process trayHost(QStringLiteral(PIMSEL_SNI_WATCHER), {}, QStringLiteral("ready\n"));
    ASSERT_TRUE(trayHost.ready) << trayHost.output().toStdString();

    TargetApp app(TargetApp::Kind::gtk);
    ASSERT_TRUE(app.isReady()) << app.output().toStdString();
    QProcessEnvironment debug;
    debug.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("input.debug=true"));
    PimselProcess first(profile, debug);
    ASSERT_TRUE(first.waitForHook()) << first.output().toStdString();
    EXPECT_TRUE(trayHost.waitForOutput(QStringLiteral("registered "))) << "no item on the tray";

    Process second(QStringLiteral(PIMSEL_BINARY), {}, {}, profile.environment());
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.output().contains(QLatin1String("Pimsel is already running.")))
        << second.output().toStdString();
    EXPECT_TRUE(first.isRunning());
    std::vector<xcb_window_t> windows;
    ASSERT_TRUE(pumpUntil([&] { return !(windows = x.managedWindows(first.pid())).empty(); }))
        << "no onboarding window";
    const xcb_window_t onboarding = windows.front();
    ASSERT_EQ(x.rootGeometry(onboarding).value_or(QRect()).size(), QSize(460, 656));
    ASSERT_TRUE(pumpUntil([&] { return x.activeWindow() == onboarding; })) << "onboarding is not in front";

    // Its "Try it out" field is Pimsel's own, and Pimsel works there as anywhere: the popover under
    // the caret, Tab inserts.
    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    typist.setKeyDelay(userKeyDelay);
    ASSERT_TRUE(typist.focus(onboarding));
    pump(500ms); // a window that has just come to the front is read before it is typed in
    FrontmostApplication frontmost;
    FocusContextProvider field(frontmost.activeWindowSource());
    whileUserTypes([&] { typist.type(":smi"); });
    std::optional<QRect> popover, caret;
    ASSERT_TRUE(pumpUntil([&] { return (popover = x.popover(first.pid())) && (caret = field.caretRect()); }))
        << first.output().toStdString();
    pump(300ms); // the popover follows the caret while the last keys are read
    popover = x.popover(first.pid());
    ASSERT_TRUE(popover && (caret = field.caretRect()));
    // Under the field's cursor rectangle, which reaches a little below the glyph box the bus reports.
    EXPECT_GE(popover->top(), caret->bottom() + 1 + 6) << "caret at " << caret->y();
    EXPECT_LE(popover->top(), caret->bottom() + 1 + 6 + 16) << "caret at " << caret->y();
    EXPECT_NEAR(popover->left(), caret->left(), 30);
    whileUserTypes([&] { typist.type("\t"); });
    const QString smile = profile.topResult(QStringLiteral("smi"));
    EXPECT_TRUE(pumpUntil([&] { return field.textBeforeCaret(8) == smile; }))
        << field.textBeforeCaret(8).value_or(QStringLiteral("(none)")).toStdString();
    x.close(onboarding);
    ASSERT_TRUE(pumpUntil([&] { return x.managedWindows(first.pid()).empty(); }));
    ASSERT_TRUE(typist.activate(app.window()));
    ASSERT_TRUE(typist.focus(app.window()));
    pump(500ms);

    openPreferences(x, typist, first, profile, app.window());

    // The hook's connection to the server breaks, as when another client kills it: Pimsel says so,
    // installs the hook again and completes as before.
    const QRegularExpression hookConnection(QStringLiteral("input hook connections: descriptors (\\d+) and"));
    const QRegularExpressionMatch hook = hookConnection.match(first.output());
    ASSERT_TRUE(hook.hasMatch()) << first.output().toStdString();
    ASSERT_TRUE(shutDownSocketOf(first.pid(), hook.captured(1).toInt()));
    ASSERT_TRUE(pumpUntil([&] {
        return first.output().contains(QLatin1String("lost its display connection"));
    })) << first.output().toStdString();
    ASSERT_TRUE(pumpUntil([&] { return first.output().count(QLatin1String("tapStarted=true")) == 2; }, 5s))
        << first.output().toStdString();
    whileUserTypes([&] { typist.type(" :tada:"); });
    ASSERT_TRUE(pumpUntil([&] { return app.text().endsWith(QStringLiteral(" 🎉")); }))
        << app.text().toStdString() << first.output().toStdString();

    // Quitting during the insertion, when Pimsel still holds the emoji, hands the user's clipboard
    // over to the clipboard manager.
    const double stopMs = first.terminate();
    EXPECT_GE(stopMs, 0) << "SIGTERM did not end Pimsel";
    EXPECT_LT(stopMs, 5000);
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    QString now;
    pumpUntil([&] { return (now = dumpClipboard()) == clipboard; });
    EXPECT_EQ(now.toStdString(), clipboard.toStdString())
        << first.output().toStdString() << manager->output().toStdString();

    // The instance lock went with it: the next start runs.
    PimselProcess again(profile);
    EXPECT_TRUE(again.waitForHook()) << again.output().toStdString();
}

} // namespace
} // namespace pimsel::e2e
