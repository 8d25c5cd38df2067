#pragma once

#include "engine/sticker_entry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace pimsel::sticker_catalog {

// The catalogue file: a JSON array of objects with the six keys id, fileName, keywords, name,
// isAnimated and isBundled. One malformed element empties the whole catalogue, so a broken
// build shows the picker's empty state rather than a half list. So does an element whose file
// name could leave the cache directory, or a repeated id (lists key their rows by it).
QList<StickerEntry> decode(const QByteArray& json);

// A GIF search result: id and file name "giphy-" + the service's id, animated, not bundled.
StickerEntry makeGifEntry(const QString& gifId, const QString& name, const QStringList& keywords,
                          const QUrl& file, const QUrl& thumbnail);

// The download address: the override, else `cdnBase` + id + "/512.gif". None when that is no
// valid URL (or there is no CDN).
std::optional<QUrl> remoteURL(const StickerEntry& entry, const std::optional<QUrl>& cdnBase);
// The preview address: the thumbnail override, else the remote override, else the CDN address.
std::optional<QUrl> thumbnailURL(const StickerEntry& entry, const std::optional<QUrl>& cdnBase);

// The emoji a catalogue sticker animates: its id is the emoji's code points in hexadecimal joined
// by "_" ("1f636_200d_1f32b_fe0f"). Empty for any other id, a GIF result's among them.
QString emojiOf(const StickerEntry& entry);

// A single path component usable as a file name in the cache: no separators, not "." or "..".
bool isPlainFileName(const QString& name);

// True when `head` (the first bytes of a file) starts like a GIF, PNG, JPEG or WebP image. A
// captive portal's HTML page or an empty file is not a sticker.
bool looksLikeImage(const QByteArray& head);
// The same test on a file on disk.
bool isImageFile(const QString& path);

} // namespace pimsel::sticker_catalog
