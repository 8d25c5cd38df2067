#include "platform/clipboard_manager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace pimsel {

ClipboardManager::ClipboardManager(QObject* parent)
    : QObject(parent) {}

ClipboardManager::~ClipboardManager() = default;

bool ClipboardManager::isBookkeepingFormat(const QString& format) {
    // "application/x-qt-image" is Qt's own alias for whichever image/* target the owner offers; kept,
    // it would make the restored clipboard offer every image format Qt can write, most of them empty.
    return format == QLatin1String("TARGETS") || format == QLatin1String("TIMESTAMP") ||
           format == QLatin1String("MULTIPLE") || format == QLatin1String("SAVE_TARGETS") ||
           format == QLatin1String("application/x-qt-image");
}

void ClipboardManager::save() {
    m_saved.reset();
    const QMimeData* current = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!current)
        return;
    auto copy = std::make_unique<QMimeData>();
    const QStringList formats = current->formats();
    for (const QString& format : formats) {
        if (isBookkeepingFormat(format))
            continue;
        const QByteArray bytes = current->data(format);
        if (bytes.isEmpty())
            continue;
        copy->setData(format, bytes);
    }
    if (!copy->formats().isEmpty())
        m_saved = std::move(copy);
}

void ClipboardManager::restore() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (m_saved)
        clipboard->setMimeData(m_saved.release(), QClipboard::Clipboard);
    else
        clipboard->clear(QClipboard::Clipboard);
}

} // namespace pimsel
