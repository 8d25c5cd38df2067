// A Qt Widgets window with one focused line edit, used as a target application by the desktop tests.
// Writes the field's text to --out on every change and on exit, prints "READY <xid>" once the window
// is active and the field has the focus, and quits on SIGTERM.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <csignal>
#include <cstdio>
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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption password("password");
    QCommandLineOption title("title", "window title", "T", "qt-field");
    QCommandLineOption out("out", "file to mirror the text into", "FILE");
    QCommandLineOption text("text", "initial text", "INITIAL");
    parser.addOptions({password, title, out, text});
    parser.process(app);
    const QString outPath = parser.value(out);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    QWidget window;
    window.setWindowTitle(parser.value(title));
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
