#include "platform/sticker_insertion_controller.h"

#include "platform/clipboard_manager.h"
#include "platform/keyboard_synthesizer.h"
#include "platform/paste_on_loan.h"

#include <QFile>
#include <QMimeData>
#include <QTimer>

namespace pimsel {

namespace {

std::optional<QString> readablePath(const QUrl& url) {
    if (url.isLocalFile())
        return url.toLocalFile();
    if (url.scheme() == QLatin1String("qrc"))
        return QStringLiteral(":") + url.path();
    return std::nullopt;
}

} // namespace

StickerInsertionController::StickerInsertionController(KeyboardSynthesizer& synthesizer,
                                                       ClipboardManager& clipboard, Staging stage,
                                                       QObject* parent)
    : QObject(parent)
    , m_synthesizer(synthesizer)
    , m_clipboard(clipboard)
    , m_stage(std::move(stage)) {}

std::unique_ptr<QMimeData> StickerInsertionController::offerFor(const QUrl& file, bool isAnimated) {
    auto data = std::make_unique<QMimeData>();
    if (isAnimated) {
        const QByteArray uri = file.toEncoded();
        data->setData(QStringLiteral("text/uri-list"), uri + "\r\n");
        data->setData(QStringLiteral("x-special/gnome-copied-files"), "copy\n" + uri);
        return data;
    }
    const std::optional<QString> path = readablePath(file);
    if (!path)
        return nullptr;
    QFile source(*path);
    if (!source.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError || bytes.isEmpty())
        return nullptr;
    data->setData(QStringLiteral("image/png"), bytes);
    return data;
}

void StickerInsertionController::insert(const QUrl& file, bool isAnimated, int eraseCount,
                                        std::function<void()> completion) {
    // Another application reads an animated file by its path, so it gets a copy it can reach.
    const QUrl offered = isAnimated && m_stage ? m_stage(file) : file;
    std::shared_ptr<QMimeData> offer = offerFor(offered, isAnimated);
    if (!offer) {
        // Nothing to paste: the command stays typed, as when the file could not be fetched, and
        // the user's clipboard is never touched; the insertion still ends.
        QTimer::singleShot(0, this, [completion = std::move(completion)] {
            if (completion)
                completion();
        });
        return;
    }
    m_synthesizer.pressBackspace(eraseCount);
    ClipboardManager& clipboard = m_clipboard;
    pasteOnLoan(
        this, m_clipboard, m_synthesizer,
        [&clipboard, offer] {
            auto data = std::make_unique<QMimeData>();
            for (const QString& format : offer->formats())
                data->setData(format, offer->data(format));
            clipboard.lend(std::move(data));
        },
        pasteDelay, clipboardRestoreDelay, std::move(completion));
}

} // namespace pimsel
