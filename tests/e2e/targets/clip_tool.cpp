// Clipboard owner and reader for the desktop tests, independent of the code under test.
//   clip_tool own FORMAT=FILE...   owns the CLIPBOARD selection with those formats until SIGTERM,
//                                   printing "READY" once it owns it
//   clip_tool dump                 prints "FORMAT SIZE MD5" for every data format of the clipboard now
//   clip_tool --on-signal MODE...  starts up, prints "WAITING" and does MODE on SIGUSR1, for a step
//                                   that has to land inside a window too short for a process start
#include <QClipboard>
#include <QCryptographicHash>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
}
} // namespace

int dump() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    QStringList formats = data ? data->formats() : QStringList();
    formats.sort();
    for (const QString& format : formats) {
        // Selection bookkeeping differs from owner to owner by nature.
        if (format == QLatin1String("TIMESTAMP") || format == QLatin1String("TARGETS") ||
            format == QLatin1String("MULTIPLE") || format == QLatin1String("SAVE_TARGETS"))
            continue;
        const QByteArray bytes = data->data(format);
        std::printf("%s %lld %s\n", qPrintable(format), static_cast<long long>(bytes.size()),
                    QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().constData());
    }
    std::fflush(stdout);
    return 0;
}

int main(int argc, char** argv) {
    // Blocked before Qt starts its threads, or one of them would take the signal and die of it.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    const bool waitsForSignal = argc > 1 && std::strcmp(argv[1], "--on-signal") == 0;
    if (waitsForSignal)
        pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (waitsForSignal) {
        args.removeFirst();
        std::printf("WAITING\n");
        std::fflush(stdout);
        int received = 0;
        sigwait(&usr1, &received);
    }
    if (args.value(0) == QLatin1String("dump"))
        return dump();
    if (args.value(0) != QLatin1String("own"))
        return 2;
    auto* mime = new QMimeData;
    for (const QString& spec : args.mid(1)) {
        const qsizetype eq = spec.indexOf('=');
        QFile file(spec.mid(eq + 1));
        if (eq < 0 || !file.open(QIODevice::ReadOnly))
            return 2;
        mime->setData(spec.left(eq), file.readAll());
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] { QGuiApplication::quit(); });
    std::signal(SIGTERM, onSignal);
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
    QTimer::singleShot(0, [] {
        std::printf("READY\n");
        std::fflush(stdout);
    });
    return QGuiApplication::exec();
}
