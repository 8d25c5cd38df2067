#pragma once

// The clipboard as other applications see it, and other applications that own it.

#include "tests/e2e/support/desktop.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <memory>
#include <utility>

namespace pimsel::e2e {

// The clipboard as another application sees it: format, size and digest of every format.
inline QString dumpClipboard() {
    QProcess dump;
    dump.start(QStringLiteral(PIMSEL_E2E_CLIP_TOOL), {QStringLiteral("dump")});
    // This process may own the selection: keep serving it while the reader asks.
    pumpUntil([&] { return dump.state() == QProcess::NotRunning; }, std::chrono::seconds(10));
    return QString::fromUtf8(dump.readAllStandardOutput());
}

// A helper process that is ready once it printed `fragment`; SIGSTOP makes it a hung application.
class Helper {
public:
    Helper(const QString& program, const QStringList& arguments, const QString& fragment) {
        process_.start(program, arguments);
        ready = waitForOutput(fragment);
    }
    ~Helper() {
        resume();
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }
    void stop() { ::kill(pid_t(process_.processId()), SIGSTOP); }
    void resume() { ::kill(pid_t(process_.processId()), SIGCONT); }
    void signal() { ::kill(pid_t(process_.processId()), SIGUSR1); }
    bool waitForOutput(const QString& fragment) {
        pumpUntil([&] {
            output_ += QString::fromUtf8(process_.readAllStandardOutput());
            return output_.contains(fragment) || process_.state() == QProcess::NotRunning;
        });
        return output_.contains(fragment);
    }
    bool waitForExit() {
        // This process may own the selection: keep serving it while the helper asks.
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

// clip_tool started ahead and told to act with SIGUSR1, for a step that has to land inside a window
// shorter than a process takes to start.
inline std::unique_ptr<Helper> clipToolOnSignal(const QStringList& arguments) {
    return std::make_unique<Helper>(QStringLiteral(PIMSEL_E2E_CLIP_TOOL),
                                    QStringList{QStringLiteral("--on-signal")} + arguments,
                                    QStringLiteral("WAITING"));
}

// The stand-in for the session's clipboard manager.
inline std::unique_ptr<Helper> clipboardManager() {
    return std::make_unique<Helper>(QStringLiteral(PIMSEL_E2E_CLIP_MANAGER), QStringList{},
                                    QStringLiteral("READY"));
}

// Another application holding data on the clipboard: a Qt one with rich text and an image, or a
// GTK one with a formatted text buffer copy or a picture.
enum class OwnerKind { qtRichTextAndImage, gtkRichText, gtkImage };

inline std::unique_ptr<Helper> clipboardOwner(OwnerKind kind = OwnerKind::qtRichTextAndImage) {
    if (kind != OwnerKind::qtRichTextAndImage)
        return std::make_unique<Helper>(
            QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral(PIMSEL_E2E_SOURCE_DIR "/targets/gtk_clip_owner.py"),
                        kind == OwnerKind::gtkImage ? QStringLiteral("image") : QStringLiteral("rich")},
            QStringLiteral("READY"));
    QImage image(24, 16, QImage::Format_ARGB32);
    image.fill(QColor(204, 247, 67));
    QPainter(&image).fillRect(4, 4, 8, 8, QColor(11, 11, 11, 128));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    // clip_tool has read its files once it says it owns the clipboard.
    QTemporaryDir dir;
    QStringList arguments{QStringLiteral("own")};
    for (const auto& [format, bytes] :
         {std::pair{"text/html", QByteArray("<meta charset=\"utf-8\"><b>bold</b> and "
                                            "<i>ünïcode</i>")},
          std::pair{"text/plain", QByteArray("bold and ünïcode")}, std::pair{"image/png", png}}) {
        QFile file(dir.filePath(QString::number(arguments.size())));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        arguments << QLatin1String(format) + QLatin1Char('=') + file.fileName();
    }
    return std::make_unique<Helper>(QStringLiteral(PIMSEL_E2E_CLIP_TOOL), arguments, QStringLiteral("READY"));
}

} // namespace pimsel::e2e
