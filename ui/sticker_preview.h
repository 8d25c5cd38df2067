#pragma once

#include "engine/sticker_entry.h"
#include "stickers/sticker_picker_view_model.h"

#include <QCache>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace pimsel {

class PreviewFramePool;

// A sticker's preview as the picker grid paints it: every frame already scaled to the cell, so
// that painting an animation step costs one image blit and no decoding on the GUI thread.
struct StickerPreview {
    QList<QImage> frames; // only the first while `pool` holds the animation
    QList<int> delaysMs;  // one per frame
    int durationMs = 0;
    // Where the frames after the first are kept, and what decodes them again once dropped.
    std::shared_ptr<PreviewFramePool> pool;
    QString path;
    int maxSide = 0;

    bool isNull() const { return frames.isEmpty(); }
    bool isAnimated() const { return delaysMs.size() > 1 && durationMs > 0; }
    // The frame on screen `elapsedMs` after the animation began; it loops.
    const QImage& frameAt(qint64 elapsedMs) const;

    // Decodes an image file (a path QFile opens, resources included) to frames no larger than
    // `maxSide` pixels. Long animations keep every n-th frame, with the delays of the frames left
    // out added to it, so that `maxFrames` bounds the memory a preview holds while it still lasts
    // as long as the original. Null for anything that is not a readable image.
    static StickerPreview decode(const QString& path, int maxSide, int maxFrames = defaultMaxFrames);

    static constexpr int defaultMaxFrames = 48;
    // Browsers show delays below this as this.
    static constexpr int minimumDelayMs = 20;
};

// Every decoded animation of the picker's previews, the least recently painted dropped first
// once together they pass the budget. The session keeps each preview it loaded, so a user who
// scrolls the whole catalogue would otherwise hold hundreds of megabytes of frames. A dropped
// animation shows its first frame and is decoded again from its file when it is next painted.
// GUI thread only.
class PreviewFramePool : public std::enable_shared_from_this<PreviewFramePool> {
public:
    explicit PreviewFramePool(qint64 budgetBytes);

    // Keeps the frames of `preview` and leaves it holding its first frame only.
    void adopt(StickerPreview& preview);
    // The frame, or null when the animation was dropped (it is being decoded again).
    const QImage* frame(const StickerPreview& preview, qsizetype index);
    qint64 heldBytes() const { return frames_.totalCost(); }

private:
    static QString keyOf(const StickerPreview& preview);

    QCache<QString, QList<QImage>> frames_; // cost in bytes
    QSet<QString> decoding_;
};

// The path QFile opens for a file: URL or a resource (qrc:) URL; none for anything else.
std::optional<QString> localPathOf(const QUrl& url);

using PreviewFileFetch =
    std::function<void(const StickerEntry& entry, std::function<void(std::optional<QUrl>)> done)>;

// The largest side, in pixels, a decoded preview keeps: a catalogue sticker's cell is far smaller
// than a GIF result's, and a whole catalogue of previews may be held at once.
struct PreviewSizes {
    int sticker = 60;
    int gif = 128;
    // The animations of a full picker of either kind, and some to scroll back to.
    qint64 animationBudgetBytes = qint64(40) << 20;
    static PreviewSizes forDevicePixelRatio(qreal dpr);
};

// The picker model's image loader: asks `fetch` for the entry's preview file, decodes it on the
// global thread pool and hands a StickerPreview (or nothing) back on the GUI thread.
StickerPickerViewModel::ImageLoader makeStickerImageLoader(PreviewFileFetch fetch, PreviewSizes sizes);

} // namespace pimsel

Q_DECLARE_METATYPE(pimsel::StickerPreview)
