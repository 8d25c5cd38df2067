// A Qt Widgets window with one focused line edit, used as a target application by the desktop tests.
// Writes the field's text to --out on every change and on exit, prints "READY <xid>" once the window
// is active and the field has the focus, and quits on SIGTERM.
// The clipboard as a Qt application sees it, independently of the code under test:
//   qt_field own FORMAT=FILE...   owns the CLIPBOARD with those formats until SIGTERM, printing "READY"
//   qt_field dump                 prints "FORMAT SIZE MD5" for every data format of the clipboard now
//   qt_field --on-signal MODE...  prints "WAITING" and does MODE on SIGUSR1, for a step that has to
//                                 land inside a window too short for a process start
#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

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
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

void writeText(const QString& path, const QString& text) {
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

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

bool own(const QStringList& specs) {
    auto* mime = new QMimeData;
    for (const QString& spec : specs) {
        const qsizetype eq = spec.indexOf('=');
        QFile file(spec.mid(eq + 1));
        if (eq < 0 || !file.open(QIODevice::ReadOnly))
            return false;
        mime->setData(spec.left(eq), file.readAll());
    }
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
    QTimer::singleShot(0, [] {
        std::printf("READY\n");
        std::fflush(stdout);
    });
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Blocked before Qt starts its threads, or one of them would take the signal and die of it.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    const bool waitsForSignal = argc > 1 && std::strcmp(argv[1], "--on-signal") == 0;
    if (waitsForSignal)
        pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    QApplication app(argc, argv);
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

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    if (args.value(0) == QLatin1String("own"))
        return own(args.mid(1)) ? QApplication::exec() : 2;

    QCommandLineParser parser;
    QCommandLineOption password("password");
    QCommandLineOption out("out", "file to mirror the text into", "FILE");
    QCommandLineOption text("text", "initial text", "INITIAL");
    parser.addOptions({password, out, text});
    parser.process(app);
    const QString outPath = parser.value(out);

    QWidget window;
    window.setWindowTitle(QStringLiteral("qt-field"));
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(parser.value(text));
    if (parser.isSet(password))
        field->setEchoMode(QLineEdit::Password);
    layout->addWidget(field);
    // Somewhere for the focus to go when Tab leaves the field.
    layout->addWidget(new QPushButton("next"));
    window.resize(420, 80);

    QObject::connect(field, &QLineEdit::textChanged, [&](const QString& t) { writeText(outPath, t); });
    writeText(outPath, field->text());

    bool announced = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (announced || !window.isActiveWindow() || !field->hasFocus())
            return;
        announced = true;
        std::printf("READY %llu\n", static_cast<unsigned long long>(window.winId()));
        std::fflush(stdout);
        poll.stop();
    });
    poll.start(50);

    window.show();
    window.activateWindow();
    field->setFocus();
    const int status = QApplication::exec();
    writeText(outPath, field->text());
    return status;
}
