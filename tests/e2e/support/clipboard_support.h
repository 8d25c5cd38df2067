#pragma once

// The clipboard as other applications see it, another application that owns it, and the insertion
// path that borrows it, built as the application builds it.

#include "platform/clipboard_manager.h"
#include "platform/event_tap_manager.h"
#include "platform/insertion_controller.h"
#include "platform/keyboard_synthesizer.h"
#include "tests/e2e/support/input_fixture.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace pimsel::e2e {

// The hook, its synthesizer, the clipboard and the inserter on them; the hook started, handing the
// user's keys to `handler`.
struct InsertionPath {
    explicit InsertionPath(InputEventHandler* handler = nullptr) {
        tap.setHandler(handler);
        started = tap.start();
    }
    // Runs one replacement and waits for its completion; true when it completed.
    bool replace(int eraseCount, const QString& text) {
        bool completed = false;
        inserter->replaceToken(eraseCount, text, [&] { completed = true; });
        return pumpUntil([&] { return completed; });
    }

    EventTapManager tap;
    bool started = false;
    KeyboardSynthesizer synthesizer{tap.ownEvents()};
    ClipboardManager clipboard;
    std::unique_ptr<InsertionController> inserter =
        std::make_unique<InsertionController>(synthesizer, clipboard);
};

// The clipboard as another application sees it: format, size and digest of every format.
inline QString dumpClipboard() {
    QProcess dump;
    dump.start(QStringLiteral(PIMSEL_E2E_CLIP_TOOL), {QStringLiteral("dump")});
    // This process may own the selection: keep serving it while the reader asks.
    pumpUntil([&] { return dump.state() == QProcess::NotRunning; }, std::chrono::seconds(10));
    return QString::fromUtf8(dump.readAllStandardOutput());
}

// Another application holding data on the clipboard: a Qt one with rich text and an image, or a
// GTK one with a formatted text buffer copy or a picture.
class ClipboardOwner {
public:
    enum class Kind { qtRichTextAndImage, gtkRichText, gtkImage };

    explicit ClipboardOwner(Kind kind = Kind::qtRichTextAndImage) {
        if (kind != Kind::qtRichTextAndImage) {
            process.start(QStringLiteral("/usr/bin/python3"),
                          {QStringLiteral(PIMSEL_E2E_SOURCE_DIR "/targets/gtk_clip_owner.py"),
                           kind == Kind::gtkImage ? QStringLiteral("image") : QStringLiteral("rich")});
            ready = waitForReady();
            return;
        }
        QImage image(24, 16, QImage::Format_ARGB32);
        image.fill(QColor(204, 247, 67));
        QPainter(&image).fillRect(4, 4, 8, 8, QColor(11, 11, 11, 128));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        write("html", QByteArray("<meta charset=\"utf-8\"><b>bold</b> and <i>ünïcode</i>"));
        write("plain", QByteArray("bold and ünïcode"));
        write("png", png);
        process.start(QStringLiteral(PIMSEL_E2E_CLIP_TOOL),
                      {QStringLiteral("own"), "text/html=" + dir.filePath("html"),
                       "text/plain=" + dir.filePath("plain"), "image/png=" + dir.filePath("png")});
        ready = pumpUntil(
            [&] { return process.canReadLine() || (process.waitForReadyRead(5) && process.canReadLine()); });
    }
    ~ClipboardOwner() {
        resume();
        process.terminate();
        process.waitForFinished(3000);
    }
    bool ready = false;

    // SIGSTOP: the owner keeps the selection and answers nothing, as a hung application does.
    void stop() { ::kill(pid_t(process.processId()), SIGSTOP); }
    void resume() { ::kill(pid_t(process.processId()), SIGCONT); }

    static const char* kindName(Kind kind) {
        switch (kind) {
        case Kind::qtRichTextAndImage:
            return "qtRichTextAndImage";
        case Kind::gtkRichText:
            return "gtkRichText";
        case Kind::gtkImage:
            return "gtkImage";
        }
        return "";
    }

private:
    bool waitForReady() {
        return pumpUntil(
            [&] { return process.canReadLine() || (process.waitForReadyRead(5) && process.canReadLine()); },
            std::chrono::seconds(10));
    }
    void write(const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
    QTemporaryDir dir;
    QProcess process;
};

// clip_tool started ahead and told to act with SIGUSR1, for a step that has to land inside a window
// shorter than a process takes to start.
class ClipToolOnSignal {
public:
    explicit ClipToolOnSignal(const QStringList& arguments) {
        process_.start(QStringLiteral(PIMSEL_E2E_CLIP_TOOL),
                       QStringList{QStringLiteral("--on-signal")} + arguments);
        ready = waitForOutput(QStringLiteral("WAITING"));
    }
    ~ClipToolOnSignal() {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }
    void fire() { ::kill(pid_t(process_.processId()), SIGUSR1); }
    bool waitForOutput(const QString& fragment) {
        pumpUntil([&] {
            output_ += QString::fromUtf8(process_.readAllStandardOutput());
            return output_.contains(fragment) || process_.state() == QProcess::NotRunning;
        });
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        return output_.contains(fragment);
    }
    bool waitForExit() {
        // This process may own the selection: keep serving it while the reader asks.
        pumpUntil([&] { return process_.state() == QProcess::NotRunning; });
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        return process_.state() == QProcess::NotRunning;
    }
    QString output() const { return output_; }
    bool ready = false;

private:
    QProcess process_;
    QString output_;
};

} // namespace pimsel::e2e
