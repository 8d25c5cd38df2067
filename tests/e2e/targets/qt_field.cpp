// A Qt Widgets window with one focused line edit, used as a target application by the desktop tests.
// Writes the field's text to --out on every change and on exit, prints "READY <xid>" once the window
// is active and the field has the focus, and quits on SIGTERM. With --slow-caret MS the field takes
// that long to say where a character is, as a busy application answers the accessibility bus.
// The clipboard as a Qt application sees it, independently of the code under test:
//   qt_field own FORMAT=FILE...   owns the CLIPBOARD with those formats until SIGTERM, printing "READY"
//   qt_field dump                 prints "FORMAT SIZE MD5" for every data format of the clipboard now
//   qt_field --on-signal MODE...  prints "WAITING" and does MODE on SIGUSR1, for a step that has to
//                                 land inside a window too short for a process start
#include <QAccessible>
#include <QAccessibleInterface>
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
#include <QThread>
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

// Qt's own interface of the field, with every question passed through and the character boxes
// answered late.
class SlowCaretField : public QAccessibleInterface, public QAccessibleTextInterface {
public:
    SlowCaretField(QAccessibleInterface* inner, int delayMs)
        : inner_(inner)
        , text_(inner->textInterface())
        , delayMs_(delayMs) {}

    bool isValid() const override { return inner_->isValid(); }
    QObject* object() const override { return inner_->object(); }
    QWindow* window() const override { return inner_->window(); }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override {
        return inner_->relations(match);
    }
    QAccessibleInterface* focusChild() const override { return inner_->focusChild(); }
    QAccessibleInterface* childAt(int x, int y) const override { return inner_->childAt(x, y); }
    QAccessibleInterface* parent() const override { return inner_->parent(); }
    QAccessibleInterface* child(int index) const override { return inner_->child(index); }
    int childCount() const override { return inner_->childCount(); }
    int indexOfChild(const QAccessibleInterface* child) const override { return inner_->indexOfChild(child); }
    QString text(QAccessible::Text t) const override { return inner_->text(t); }
    void setText(QAccessible::Text t, const QString& text) override { inner_->setText(t, text); }
    QRect rect() const override { return inner_->rect(); }
    QAccessible::Role role() const override { return inner_->role(); }
    QAccessible::State state() const override { return inner_->state(); }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return inner_->interface_cast(type);
    }

    void selection(int index, int* start, int* end) const override { text_->selection(index, start, end); }
    int selectionCount() const override { return text_->selectionCount(); }
    void addSelection(int start, int end) override { text_->addSelection(start, end); }
    void removeSelection(int index) override { text_->removeSelection(index); }
    void setSelection(int index, int start, int end) override { text_->setSelection(index, start, end); }
    int cursorPosition() const override { return text_->cursorPosition(); }
    void setCursorPosition(int position) override { text_->setCursorPosition(position); }
    QString text(int start, int end) const override { return text_->text(start, end); }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                             int* end) const override {
        return text_->textBeforeOffset(offset, type, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                            int* end) const override {
        return text_->textAfterOffset(offset, type, start, end);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                         int* end) const override {
        return text_->textAtOffset(offset, type, start, end);
    }
    int characterCount() const override { return text_->characterCount(); }
    // Only a real box comes late: past the end of the text the asker tries the character before, and
    // the two answers together should still come within its patience.
    QRect characterRect(int offset) const override {
        const QRect box = text_->characterRect(offset);
        if (!box.isEmpty())
            QThread::msleep(static_cast<unsigned long>(delayMs_));
        return box;
    }
    int offsetAtPoint(const QPoint& point) const override { return text_->offsetAtPoint(point); }
    void scrollToSubstring(int start, int end) override { text_->scrollToSubstring(start, end); }
    QString attributes(int offset, int* start, int* end) const override {
        return text_->attributes(offset, start, end);
    }

private:
    QAccessibleInterface* inner_;
    QAccessibleTextInterface* text_;
    int delayMs_;
};

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
    QCommandLineOption slowCaret("slow-caret", "delay of each character box asked over the bus", "MS");
    parser.addOptions({password, out, text, slowCaret});
    parser.process(app);
    const QString outPath = parser.value(out);

    QWidget window;
    window.setWindowTitle(QStringLiteral("qt-field"));
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(parser.value(text));
    if (parser.isSet(password))
        field->setEchoMode(QLineEdit::Password);
    layout->addWidget(field);
    if (parser.isSet(slowCaret)) {
        // Registered before the window is shown, the wrapper is the field's interface on the bus
        // from the start; Qt's own stays alive behind it.
        QAccessibleInterface* inner = QAccessible::queryAccessibleInterface(field);
        if (inner == nullptr || inner->textInterface() == nullptr)
            return 1;
        QAccessible::registerAccessibleInterface(new SlowCaretField(inner, parser.value(slowCaret).toInt()));
    }
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
