#include "ui/sticker_preview.h"

#include "ui/sticker_picker_grid.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QMetaObject>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

namespace pimsel {

namespace {

// Decoding a 512-pixel animation takes tens of milliseconds: never on the GUI thread. The answer
// goes through the application object, which outlives every pool task.
template <typename Then> void decodeElsewhere(const QString& path, int maxSide, Then then) {
    QThreadPool::globalInstance()->start([then = std::move(then), path, maxSide]() mutable {
        StickerPreview preview = StickerPreview::decode(path, maxSide);
        preview.path = path;
        preview.maxSide = maxSide;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [then = std::move(then), preview = std::move(preview)]() mutable { then(std::move(preview)); },
            Qt::QueuedConnection);
    });
}

} // namespace

const QImage& StickerPreview::frameAt(qint64 elapsedMs) const {
    if (!isAnimated())
        return frames.first();
    qint64 t = elapsedMs % durationMs;
    qsizetype index = 0;
    while (index < delaysMs.size() - 1 && t >= delaysMs[index])
        t -= delaysMs[index++];
    if (pool) {
        const QImage* pooled = pool->frame(*this, index);
        return pooled ? *pooled : frames.first();
    }
    return index < frames.size() ? frames[index] : frames.first();
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

PreviewFramePool::PreviewFramePool(qint64 budgetBytes) {
    frames_.setMaxCost(budgetBytes);
}

QString PreviewFramePool::keyOf(const StickerPreview& preview) {
    return QString::number(preview.maxSide) + QLatin1Char(' ') + preview.path;
}

void PreviewFramePool::adopt(StickerPreview& preview) {
    if (!preview.isAnimated() || preview.path.isEmpty())
        return;
    qint64 bytes = 0;
    for (const QImage& frame : std::as_const(preview.frames))
        bytes += frame.sizeInBytes();
    const QString key = keyOf(preview);
    decoding_.remove(key);
    frames_.insert(key, new QList<QImage>(preview.frames), bytes);
    preview.frames.resize(1);
    preview.pool = shared_from_this();
}

const QImage* PreviewFramePool::frame(const StickerPreview& preview, qsizetype index) {
    const QString key = keyOf(preview);
    if (const QList<QImage>* frames = frames_.object(key))
        return index < frames->size() ? &frames->at(index) : nullptr;
    if (decoding_.contains(key))
        return nullptr;
    decoding_.insert(key);
    decodeElsewhere(preview.path, preview.maxSide, [self = weak_from_this()](StickerPreview decoded) {
        if (const std::shared_ptr<PreviewFramePool> pool = self.lock())
            pool->adopt(decoded);
    });
    return nullptr;
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
    const qreal area = std::max(1.0, dpr * dpr);
    return {int(std::ceil(StickerGridLayout::stickerPreviewSide * dpr)), int(std::ceil(128 * dpr)),
            qint64((qint64(40) << 20) * area)};
}

StickerPickerViewModel::ImageLoader makeStickerImageLoader(PreviewFileFetch fetch, PreviewSizes sizes) {
    auto pool = std::make_shared<PreviewFramePool>(sizes.animationBudgetBytes);
    return [fetch = std::move(fetch), sizes, pool](const StickerEntry& entry,
                                                   StickerPickerViewModel::ImageCompletion done) {
        const bool isGifResult = entry.remoteURLOverride.has_value();
        const int maxSide = isGifResult ? sizes.gif : sizes.sticker;
        fetch(entry, [done = std::move(done), maxSide, pool](std::optional<QUrl> file) mutable {
            if (!done)
                return; // answered before
            const std::optional<QString> path = file ? localPathOf(*file) : std::nullopt;
            if (!path) {
                done(QVariant());
                return;
            }
            // `done` is moved, never copied: it holds the model's guard, which only the GUI thread
            // may touch while the model could be going away.
            decodeElsewhere(*path, maxSide, [done = std::move(done), pool](StickerPreview preview) mutable {
                pool->adopt(preview);
                done(preview.isNull() ? QVariant() : QVariant::fromValue(preview));
            });
        });
    };
}

} // namespace pimsel
