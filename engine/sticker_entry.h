#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace pimsel {

// One catalogue sticker or one GIF search result. The sticker services fill it in;
// the engine only passes it between its ports and ranks it by keywords.
struct StickerEntry {
    QString id;
    QString fileName;
    QStringList keywords;
    QString name;
    bool isAnimated = false;
    bool isBundled = false;
    int useCount = 0;
    std::optional<QUrl> remoteURLOverride;
    std::optional<QUrl> thumbnailURLOverride;

    bool operator==(const StickerEntry&) const = default;
};

} // namespace pimsel
