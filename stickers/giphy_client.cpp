#include "stickers/giphy_client.h"

#include "stickers/sticker_catalog.h"
#include "stickers/sticker_config.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

namespace pimsel {

namespace {

// One GIF of the answer as far as we use it. A member of the wrong type, or a rendition without
// its address, makes the whole answer undecodable, as a missing required member does.
struct Gif {
    QString id;
    std::optional<QString> title;
    std::optional<QString> slug;
    std::optional<QString> fixedWidthSmall, fixedWidth, downsized, original;
};

// Absent and null are both "not there"; any other type is a decoding failure.
bool optionalString(const QJsonObject& object, const char* key, std::optional<QString>& out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

bool rendition(const QJsonObject& images, const char* key, std::optional<QString>& url) {
    const QJsonValue value = images.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isObject())
        return false;
    const QJsonValue address = value.toObject().value(QLatin1String("url"));
    if (!address.isString())
        return false;
    url = address.toString();
    return true;
}

std::optional<Gif> decodeGif(const QJsonValue& element) {
    if (!element.isObject())
        return std::nullopt;
    const QJsonObject object = element.toObject();
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue images = object.value(QLatin1String("images"));
    Gif gif;
    if (!id.isString() || !images.isObject() || !optionalString(object, "title", gif.title) ||
        !optionalString(object, "slug", gif.slug))
        return std::nullopt;
    gif.id = id.toString();
    const QJsonObject renditions = images.toObject();
    if (!rendition(renditions, "fixed_width_small", gif.fixedWidthSmall) ||
        !rendition(renditions, "fixed_width", gif.fixedWidth) ||
        !rendition(renditions, "downsized", gif.downsized) ||
        !rendition(renditions, "original", gif.original))
        return std::nullopt;
    return gif;
}

// Only web addresses: a file: URL in an answer must not turn a download into a local copy.
std::optional<QUrl> webAddress(const std::optional<QString>& first, const std::optional<QString>& second,
                               const std::optional<QString>& third,
                               const std::optional<QString>& fourth = {}) {
    const std::optional<QString>& chosen = first ? first : second ? second : third ? third : fourth;
    if (!chosen)
        return std::nullopt;
    const QUrl url(*chosen, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        return std::nullopt;
    return url;
}

std::optional<StickerEntry> makeEntry(const Gif& gif) {
    const std::optional<QUrl> preview =
        webAddress(gif.fixedWidthSmall, gif.fixedWidth, gif.downsized, gif.original);
    const std::optional<QUrl> file = webAddress(gif.downsized, gif.original, gif.fixedWidth);
    // The id names the cached files: one that could leave the cache directory is refused.
    if (!preview || !file || gif.id.isEmpty() ||
        !sticker_catalog::isPlainFileName(QStringLiteral("giphy-") + gif.id))
        return std::nullopt;
    const QString name = gif.title && !gif.title->isEmpty() ? *gif.title
                         : gif.slug                         ? *gif.slug
                                                            : QStringLiteral("GIF");
    static const QRegularExpression separators(QStringLiteral("[ -]"));
    QStringList keywords = name.split(separators, Qt::SkipEmptyParts);
    if (keywords.isEmpty())
        keywords = {QStringLiteral("gif")};
    return sticker_catalog::makeGifEntry(gif.id, name, keywords, *file, *preview);
}

} // namespace

std::unique_ptr<GiphyClient> GiphyClient::fromConfig(const StickerServiceConfig& config, QObject* parent) {
    const QString key = config.giphyApiKey.trimmed();
    if (key.isEmpty() || !config.giphyApi)
        return nullptr;
    return std::make_unique<GiphyClient>(key, *config.giphyApi, parent);
}

GiphyClient::GiphyClient(QString apiKey, QUrl apiOrigin, QObject* parent)
    : QObject(parent)
    , m_apiKey(std::move(apiKey))
    , m_apiOrigin(std::move(apiOrigin)) {}

std::optional<QUrl> GiphyClient::makeURL(const QString& trimmedQuery) const {
    QUrl url = m_apiOrigin;
    url.setPath(trimmedQuery.isEmpty() ? QStringLiteral("/v1/gifs/trending")
                                       : QStringLiteral("/v1/gifs/search"));
    // Every value is encoded in full: a "+" left bare would reach the service as a space.
    QList<std::pair<QString, QString>> items = {
        {QStringLiteral("api_key"), m_apiKey},
        {QStringLiteral("limit"), QString::number(limit)},
        {QStringLiteral("rating"), QStringLiteral("pg-13")},
        {QStringLiteral("bundle"), QStringLiteral("messaging_non_clips")}};
    if (!trimmedQuery.isEmpty())
        items.append({QStringLiteral("q"), trimmedQuery});
    QByteArray query;
    for (const auto& [name, value] : items) {
        if (!query.isEmpty())
            query += '&';
        query += name.toUtf8() + '=' + QUrl::toPercentEncoding(value);
    }
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QList<StickerEntry> GiphyClient::parseResponse(const TransferResult& answer) {
    if (!answer.isComplete || answer.httpStatus != 200)
        return {};
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(answer.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonValue data = document.object().value(QLatin1String("data"));
    if (!data.isArray())
        return {};
    QList<Gif> gifs;
    const QJsonArray elements = data.toArray();
    for (const QJsonValue& element : elements) {
        std::optional<Gif> gif = decodeGif(element);
        if (!gif)
            return {};
        gifs.append(std::move(*gif));
    }
    QList<StickerEntry> entries;
    QSet<QString> ids; // the picker keys its cells by id: a repeated GIF is shown once
    for (const Gif& gif : gifs) {
        std::optional<StickerEntry> entry = makeEntry(gif);
        if (entry && !ids.contains(entry->id)) {
            ids.insert(entry->id);
            entries.append(std::move(*entry));
        }
    }
    return entries;
}

void GiphyClient::search(const QString& query, GiphySearchCompletion completion) {
    const std::optional<QUrl> url = makeURL(query.trimmed());
    if (!url) {
        QTimer::singleShot(0, this, [completion = std::move(completion)] { completion({}); });
        return;
    }
    boundedGet(m_network, *url, m_limits, nullptr, this,
               [completion = std::move(completion)](const TransferResult& answer) {
                   completion(parseResponse(answer));
               });
}

} // namespace pimsel
