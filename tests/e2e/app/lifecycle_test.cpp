// The built application's lifecycle: no display, a test harness, one instance, the hook's connection
// broken, SIGTERM, and the user's clipboard handed to the session's clipboard manager on the way out.
#include "tests/e2e/support/clipboard_support.h"
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

TEST(Lifecycle, OneInstanceALostHookConnectionAndSigtermHandingTheClipboardOver) {
    XView x;
    ASSERT_TRUE(x.isOpen());
    Profile profile;

    // Without a display it says so and fails; under a test harness it starts nothing.
    QProcessEnvironment env = profile.environment();
    env.remove(QStringLiteral("DISPLAY"));
    Process headless(QStringLiteral(PIMSEL_BINARY), {}, {}, env);
    ASSERT_TRUE(headless.waitForExit());
    EXPECT_EQ(headless.exitCode(), 2);
    EXPECT_TRUE(headless.output().contains(QLatin1String("X11")));
    {
        QProcessEnvironment harness;
        harness.insert(QStringLiteral("PIMSEL_TEST_HARNESS"), QStringLiteral("1"));
        PimselProcess idle(profile, harness);
        pump(1500ms);
        EXPECT_TRUE(idle.isRunning());
        EXPECT_FALSE(idle.output().contains(QLatin1String("startEventTapIfPossible")))
            << "the core was started";
        EXPECT_GE(idle.terminate(), 0);
    }

    // Another application's clipboard, and a clipboard manager to take it over when its owner quits.
    const auto manager = clipboardManager();
    ASSERT_TRUE(manager->ready);
    auto owner = clipboardOwner();
    ASSERT_TRUE(owner->ready);
    const QString clipboard = dumpClipboard();
    ASSERT_GE(clipboard.count('\n'), 2) << clipboard.toStdString();

    TargetApp app(TargetApp::Kind::gtk);
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    QProcessEnvironment debug;
    debug.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("input.debug=true"));
    PimselProcess first(profile, debug);
    ASSERT_TRUE(first.waitForHook()) << first.output().toStdString();

    Process second(QStringLiteral(PIMSEL_BINARY), {}, {}, profile.environment());
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.output().contains(QLatin1String("Pimsel is already running.")))
        << second.output().toStdString();
    EXPECT_TRUE(first.isRunning());

    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    ASSERT_TRUE(typist.focus(app.window()));

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
    typist.setKeyDelay(userKeyDelay);
    whileUserTypes([&] { typist.type(" :smi\t"); });
    const QString smile = profile.topResult(QStringLiteral("smi"));
    EXPECT_TRUE(pumpUntil([&] { return app.text().endsWith(QStringLiteral(" ") + smile); }))
        << app.text().toStdString();

    // Quitting after an insertion, when Pimsel holds the restored clipboard.
    pump(800ms);
    const double stopMs = first.terminate();
    EXPECT_GE(stopMs, 0) << "SIGTERM did not end Pimsel";
    EXPECT_LT(stopMs, 5000);
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    QString now;
    pumpUntil([&] { return (now = dumpClipboard()) == clipboard; });
    EXPECT_EQ(now.toStdString(), clipboard.toStdString()) << first.output().toStdString();

    // The instance lock went with it. Quitting during an insertion, when Pimsel still holds the
    // emoji, hands the user's clipboard over too.
    owner = clipboardOwner();
    ASSERT_TRUE(owner->ready);
    PimselProcess again(profile);
    ASSERT_TRUE(again.waitForHook()) << again.output().toStdString();
    pump(1s); // keys in the first moments after the hook reports may still go unseen
    whileUserTypes([&] { typist.type(" :tada"); });
    // The closing colon accepts once the popover is up.
    ASSERT_TRUE(pumpUntil([&] { return app.text().endsWith(QStringLiteral(" :tada")); }));
    pump(700ms);
    whileUserTypes([&] { typist.type(":"); });
    ASSERT_TRUE(pumpUntil([&] { return app.text().endsWith(QStringLiteral(" 🎉")); }))
        << app.text().toStdString() << again.output().toStdString();
    EXPECT_GE(again.terminate(), 0);
    pumpUntil([&] { return (now = dumpClipboard()) == clipboard; });
    EXPECT_EQ(now.toStdString(), clipboard.toStdString()) << again.output().toStdString();
}

} // namespace
} // namespace pimsel::e2e
