// Clipboard owner and reader for the desktop tests, independent of the code under test.
//   clip_tool own FORMAT=FILE...   owns the CLIPBOARD selection with those formats until SIGTERM,
//                                   printing "READY" once it owns it
//   clip_tool dump                 prints "FORMAT SIZE MD5" for every data format of the clipboard now
#include <QClipboard>
#include <QCryptographicHash>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
}
} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("dump")) {
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
        return 0;
    }
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
