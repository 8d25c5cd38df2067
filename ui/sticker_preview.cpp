#include "ui/sticker_preview.h"

#include "ui/sticker_picker_grid.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QMetaObject>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

namespace pimsel {

const QImage& StickerPreview::frameAt(qint64 elapsedMs) const {
    if (!isAnimated())
        return frames.first();
    qint64 t = elapsedMs % durationMs;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        if (t < delaysMs[i])
            return frames[i];
        t -= delaysMs[i];
    }
    return frames.last();
}

StickerPreview StickerPreview::decode(const QString& path, int maxSide, int maxFrames) {
    StickerPreview preview;
    QImageReader reader(path);
    if (!reader.canRead() || maxSide < 1 || maxFrames < 1)
        return preview;
    const int count = reader.imageCount();
    const int stride = count > maxFrames ? (count + maxFrames - 1) / maxFrames : 1;
    int index = 0;
    QImage frame;
    while (reader.read(&frame)) {
        const int delay = std::max(reader.nextImageDelay(), minimumDelayMs);
        if (index % stride == 0) {
            if (frame.width() > maxSide || frame.height() > maxSide)
                frame = frame.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            preview.frames.append(frame.convertToFormat(QImage::Format_ARGB32_Premultiplied));
            preview.delaysMs.append(delay);
        } else {
            preview.delaysMs.last() += delay;
        }
        preview.durationMs += delay;
        // A file that claims fewer frames than it holds must not grow without bound.
        if (preview.frames.size() >= maxFrames && index % stride == stride - 1)
            break;
        ++index;
        if (!reader.canRead())
            break;
    }
    if (preview.frames.size() < 2)
        preview.durationMs = 0;
    return preview;
}

std::optional<QString> localPathOf(const QUrl& url) {
    if (url.isLocalFile())
        return url.toLocalFile();
    if (url.scheme() == QLatin1String("qrc"))
        return QStringLiteral(":") + url.path();
    return std::nullopt;
}

PreviewSizes PreviewSizes::forDevicePixelRatio(qreal dpr) {
    // A GIF cell is about 128 wide in a 420-wide picker; its preview fills the cell.
    return {int(std::ceil(StickerGridLayout::stickerPreviewSide * dpr)), int(std::ceil(128 * dpr))};
}

StickerPickerViewModel::ImageLoader makeStickerImageLoader(PreviewFileFetch fetch, PreviewSizes sizes) {
    return [fetch = std::move(fetch), sizes](const StickerEntry& entry,
                                             StickerPickerViewModel::ImageCompletion done) {
        const bool isGifResult = entry.remoteURLOverride.has_value();
        const int maxSide = isGifResult ? sizes.gif : sizes.sticker;
        fetch(entry, [done = std::move(done), maxSide](std::optional<QUrl> file) mutable {
            if (!done)
                return; // answered before
            const std::optional<QString> path = file ? localPathOf(*file) : std::nullopt;
            if (!path) {
                done(QVariant());
                return;
            }
            // Decoding a 512-pixel animation takes tens of milliseconds: never on the GUI thread.
            // The answer goes through the application object, which outlives every pool task; the
            // model's own completion drops it if the model is gone by then.
            QThreadPool::globalInstance()->start([done = std::move(done), maxSide, path = *path]() mutable {
                StickerPreview preview = StickerPreview::decode(path, maxSide);
                // `done` is moved, never copied, here: it holds the model's guard, which only the GUI
                // thread may touch while the model could be going away.
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [done = std::move(done), preview = std::move(preview)] {
                        done(preview.isNull() ? QVariant() : QVariant::fromValue(preview));
                    },
                    Qt::QueuedConnection);
            });
        });
    };
}

} // namespace pimsel
