#include "app/app_entry.h"

#include "app/instance_channel.h"
#include "app/pimsel_core.h"
#include "platform/display_session.h"
#include "platform/permissions_controller.h"
#include "platform/xcb_handles.h"
#include "ui/palette.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace pimsel {

namespace {

// The write end of the pipe through which a signal handler wakes the event loop.
int signalWriteFd = -1;

void onTerminationSignal(int) {
    const char byte = 1;
    // Nothing more can be done from a signal handler when the pipe is full: a byte is already there.
    [[maybe_unused]] const ssize_t written = ::write(signalWriteFd, &byte, 1);
}

// SIGTERM and SIGINT end the event loop like a quit from the menu, so the destructors release the
// key grabs and write the settings out.
class TerminationSignals {
public:
    TerminationSignals() {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0)
            return;
        signalWriteFd = fds_[1];
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            char buffer[16];
            while (::read(fds_[0], buffer, sizeof buffer) > 0) {
            }
            QCoreApplication::quit();
        });
        struct sigaction action = {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }
    ~TerminationSignals() {
        if (fds_[0] < 0)
            return;
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        notifier_.reset();
        signalWriteFd = -1;
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace

QString x11DisplayProblem() {
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        return QStringLiteral(
            "no display (neither DISPLAY nor WAYLAND_DISPLAY is set). Pimsel runs in an X11 "
            "or Wayland desktop session; to see it without one, try 'make demo'.");
    const xcb::Connection connection(nullptr);
    if (!connection)
        return QStringLiteral("cannot connect to the X11 display '%1'.").arg(display);
    return {};
}

QString instanceLockPath() {
    QString display = qEnvironmentVariable(isWaylandOnly() ? "WAYLAND_DISPLAY" : "DISPLAY");
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    // The runtime directory belongs to this user and this login; the temporary one is shared, so
    // the user id goes into the name there.
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString name = QStringLiteral("pimsel-%1.lock").arg(display);
    if (dir.isEmpty() || !QDir(dir).exists()) {
        dir = QDir::tempPath();
        name = QStringLiteral("pimsel-%1-%2.lock").arg(::getuid()).arg(display);
    }
    return QDir(dir).filePath(name);
}

QString instanceSocketPath() {
    QString path = instanceLockPath();
    path.chop(qsizetype(sizeof(".lock") - 1));
    return path + QStringLiteral(".socket");
}

int runDesktopApplication(int& argc, char** argv, ShellRequest request) {
    const bool wayland = isWaylandOnly();
    const QString problem = wayland ? QString() : x11DisplayProblem();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "pimsel: %s\n", qPrintable(problem));
        return desktopNoDisplay;
    }
    if (!wayland && isWaylandSession())
        std::fprintf(stderr, "pimsel: this is a Wayland session; Pimsel sees the keys of X11 applications "
                             "only, so autocomplete stays off.\n");

    QLockFile instanceLock(instanceLockPath());
    instanceLock.setStaleLockTime(0); // a lock whose process is gone is stale, however young
    if (!instanceLock.tryLock(0)) {
        if (instanceLock.error() == QLockFile::LockFailedError) {
            std::puts("Pimsel is already running.");
            // The running one may have just started and not listen yet.
            constexpr int handOverTimeoutMs = 5000;
            if (handOver(instanceSocketPath(), request, handOverTimeoutMs))
                return desktopSuccess;
            std::fprintf(stderr, "pimsel: the running instance did not answer at %s\n",
                         qPrintable(instanceSocketPath()));
            return desktopFailed;
        }
        std::fprintf(stderr, "pimsel: cannot create the instance lock %s\n", qPrintable(instanceLockPath()));
        return desktopFailed;
    }

    // Every window, the popover's placement and the hook share the X11 display. Without one, the
    // windows are Wayland's and the keys fcitx5's.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", wayland ? "wayland" : "xcb");
    QApplication::setApplicationName(QStringLiteral("pimsel"));
    QApplication::setOrganizationName(QStringLiteral("pimsel"));
    QApplication::setDesktopFileName(QStringLiteral("pimsel"));
    QApplication app(argc, argv);
    // Pimsel has no main window: closing a preferences or browser window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Installed, the theme has the icon; run from a build directory, the compiled-in copy stands in.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("pimsel"), QIcon(QStringLiteral(":/pimsel/desktop/pimsel.svg"))));
    QApplication::setPalette(palette::darkPalette());
    if (wayland) {
        if (PermissionsController::inputMethodModuleRunning())
            std::fputs("pimsel: Wayland session: fcitx5 with Pimsel's module handles the keys.\n", stderr);
        else
            std::fputs(
                "pimsel: Wayland session: no application's keys reach Pimsel without fcitx5 and Pimsel's "
                "module (the fcitx5 component; see \"With fcitx5\" in the README).\n",
                stderr);
    }

    TerminationSignals terminationSignals;
    // The session is ending: leave cleanly instead of waiting to be killed.
    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &app, [] { QCoreApplication::quit(); },
        Qt::QueuedConnection);

    std::unique_ptr<PimselCore> core;
    std::unique_ptr<InstanceServer> channel;
    if (qEnvironmentVariableIsEmpty("PIMSEL_TEST_HARNESS")) {
        core = std::make_unique<PimselCore>();
        PimselCore* started = core.get();
        QTimer::singleShot(0, started, [started, request] {
            started->start();
            if (request != ShellRequest::reopen)
                started->handle(request);
        });
        channel = std::make_unique<InstanceServer>(instanceSocketPath());
        QObject::connect(channel.get(), &InstanceServer::requested, started, &PimselCore::handle);
        if (!channel->listen())
            std::fprintf(stderr, "pimsel: later starts cannot reach this one at %s\n",
                         qPrintable(instanceSocketPath()));
    }
    const int status = QApplication::exec();
    channel.reset();
    core.reset();
    return status;
}

} // namespace pimsel
