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

#include <memory>
#include <utility>

namespace pimsel::e2e {

// The clipboard as another application sees it: format, size and digest of every format.
inline QString dumpClipboard() {
    QProcess dump;
    dump.start(QStringLiteral(PIMSEL_E2E_QT_FIELD), {QStringLiteral("dump")});
    // This process may own the selection: keep serving it while the reader asks.
    pumpUntil([&] { return dump.state() == QProcess::NotRunning; }, std::chrono::seconds(10));
    return QString::fromUtf8(dump.readAllStandardOutput());
}

// qt_field started ahead and told to act with SIGUSR1, for a step that has to land inside a window
// shorter than a process takes to start.
inline std::unique_ptr<Process> clipToolOnSignal(const QStringList& arguments) {
    return std::make_unique<Process>(QStringLiteral(PIMSEL_E2E_QT_FIELD),
                                     QStringList{QStringLiteral("--on-signal")} + arguments,
                                     QStringLiteral("WAITING"));
}

// The stand-in for the session's clipboard manager.
inline std::unique_ptr<Process> clipboardManager() {
    return std::make_unique<Process>(QStringLiteral(PIMSEL_E2E_CLIP_MANAGER), QStringList{},
                                     QStringLiteral("READY"));
}

// Another application holding data on the clipboard: a Qt one with rich text and an image, or a
// GTK one with a formatted text buffer copy or a picture.
enum class OwnerKind { qtRichTextAndImage, gtkRichText, gtkImage };

inline std::unique_ptr<Process> clipboardOwner(OwnerKind kind = OwnerKind::qtRichTextAndImage) {
    if (kind != OwnerKind::qtRichTextAndImage)
        return std::make_unique<Process>(
            QStringLiteral("/usr/bin/python3"),
            QStringList{TargetApp::gtkScript(), QStringLiteral("--own-clipboard"),
                        kind == OwnerKind::gtkImage ? QStringLiteral("image") : QStringLiteral("rich")},
            QStringLiteral("READY"));
    QImage image(24, 16, QImage::Format_ARGB32);
    image.fill(QColor(204, 247, 67));
    QPainter(&image).fillRect(4, 4, 8, 8, QColor(11, 11, 11, 128));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    // qt_field has read its files once it says it owns the clipboard.
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
    return std::make_unique<Process>(QStringLiteral(PIMSEL_E2E_QT_FIELD), arguments, QStringLiteral("READY"));
}

} // namespace pimsel::e2e
