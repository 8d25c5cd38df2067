#include "stickers/sticker_catalog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace pimsel::sticker_catalog {

namespace {

const QLatin1String idKey("id");
const QLatin1String fileNameKey("fileName");
const QLatin1String keywordsKey("keywords");
const QLatin1String nameKey("name");
const QLatin1String animatedKey("isAnimated");
const QLatin1String bundledKey("isBundled");

std::optional<StickerEntry> decodeElement(const QJsonValue& element) {
    if (!element.isObject())
        return std::nullopt;
    const QJsonObject object = element.toObject();
    const QJsonValue id = object.value(idKey);
    const QJsonValue fileName = object.value(fileNameKey);
    const QJsonValue keywords = object.value(keywordsKey);
    const QJsonValue name = object.value(nameKey);
    const QJsonValue animated = object.value(animatedKey);
    const QJsonValue bundled = object.value(bundledKey);
    if (!id.isString() || !fileName.isString() || !keywords.isArray() || !name.isString() ||
        !animated.isBool() || !bundled.isBool() || !isPlainFileName(fileName.toString()))
        return std::nullopt;
    StickerEntry entry;
    entry.id = id.toString();
    entry.fileName = fileName.toString();
    entry.name = name.toString();
    entry.isAnimated = animated.toBool();
    entry.isBundled = bundled.toBool();
    const QJsonArray words = keywords.toArray();
    for (const QJsonValue& word : words) {
        if (!word.isString())
            return std::nullopt;
        entry.keywords.append(word.toString());
    }
    return entry;
}

} // namespace

QList<StickerEntry> decode(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return {};
    const QJsonArray array = document.array();
    QList<StickerEntry> entries;
    entries.reserve(array.size());
    QSet<QString> ids;
    for (const QJsonValue& element : array) {
        std::optional<StickerEntry> entry = decodeElement(element);
        if (!entry || ids.contains(entry->id))
            return {};
        ids.insert(entry->id);
        entries.append(std::move(*entry));
    }
    return entries;
}

StickerEntry makeGifEntry(const QString& gifId, const QString& name, const QStringList& keywords,
                          const QUrl& file, const QUrl& thumbnail) {
    const QString id = QStringLiteral("giphy-") + gifId;
    return StickerEntry{id, id + QStringLiteral(".gif"), keywords, name, true, false, 0, file, thumbnail};
}

std::optional<QUrl> remoteURL(const StickerEntry& entry, const std::optional<QUrl>& cdnBase) {
    if (entry.remoteURLOverride)
        return entry.remoteURLOverride;
    if (!cdnBase)
        return std::nullopt;
    const QUrl url(cdnBase->toString() + entry.id + QStringLiteral("/512.gif"), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QUrl> thumbnailURL(const StickerEntry& entry, const std::optional<QUrl>& cdnBase) {
    if (entry.thumbnailURLOverride)
        return entry.thumbnailURLOverride;
    return remoteURL(entry, cdnBase);
}

bool isPlainFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QChar(u'\0'));
}

QString emojiOf(const StickerEntry& entry) {
    const QStringList parts = entry.id.split(QLatin1Char('_'));
    QString emoji;
    for (const QString& part : parts) {
        bool ok = false;
        const uint scalar = part.toUInt(&ok, 16);
        // A surrogate or an out-of-range value would make a malformed string, not an emoji.
        if (!ok || part.size() > 6 || scalar == 0 || scalar > 0x10FFFF || QChar::isSurrogate(scalar))
            return {};
        const char32_t codePoint = scalar;
        emoji += QString::fromUcs4(&codePoint, 1);
    }
    return emoji;
}

bool looksLikeImage(const QByteArray& head) {
    return head.startsWith("GIF87a") || head.startsWith("GIF89a") || head.startsWith("\x89PNG\r\n\x1a\n") ||
           head.startsWith("\xff\xd8\xff") || (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP");
}

bool isImageFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && looksLikeImage(file.read(12));
}

} // namespace pimsel::sticker_catalog
