#pragma once

#include "engine/sticker_entry.h"
#include "stickers/sticker_picker_view_model.h"

#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace pimsel {

// A sticker's preview as the picker grid paints it: every frame already scaled to the cell, so
// that painting an animation step costs one image blit and no decoding on the GUI thread.
struct StickerPreview {
    QList<QImage> frames;
    QList<int> delaysMs; // one per frame
    int durationMs = 0;

    bool isNull() const { return frames.isEmpty(); }
    bool isAnimated() const { return frames.size() > 1 && durationMs > 0; }
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

// The path QFile opens for a file: URL or a resource (qrc:) URL; none for anything else.
std::optional<QString> localPathOf(const QUrl& url);

using PreviewFileFetch =
    std::function<void(const StickerEntry& entry, std::function<void(std::optional<QUrl>)> done)>;

// The largest side, in pixels, a decoded preview keeps: a catalogue sticker's cell is far smaller
// than a GIF result's, and a whole catalogue of previews may be held at once.
struct PreviewSizes {
    int sticker = 60;
    int gif = 128;
    static PreviewSizes forDevicePixelRatio(qreal dpr);
};

// The picker model's image loader: asks `fetch` for the entry's preview file, decodes it on the
// global thread pool and hands a StickerPreview (or nothing) back on the GUI thread.
StickerPickerViewModel::ImageLoader makeStickerImageLoader(PreviewFileFetch fetch, PreviewSizes sizes);

} // namespace pimsel

Q_DECLARE_METATYPE(pimsel::StickerPreview)
