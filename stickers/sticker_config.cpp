#include "stickers/sticker_config.h"

#ifndef PIMSEL_GIPHY_API_KEY
#define PIMSEL_GIPHY_API_KEY ""
#endif
#ifndef PIMSEL_GIPHY_API_BASE
#define PIMSEL_GIPHY_API_BASE ""
#endif
#ifndef PIMSEL_STICKER_CDN_BASE
#define PIMSEL_STICKER_CDN_BASE ""
#endif

namespace pimsel {

namespace {

QString configured(const char* variable, const char* builtIn) {
    if (qEnvironmentVariableIsSet(variable))
        return qEnvironmentVariable(variable);
    return QString::fromUtf8(builtIn);
}

} // namespace

std::optional<QUrl> StickerServiceConfig::apiOrigin(const QString& origin) {
    QString text = origin.trimmed();
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")) ||
        url.host().isEmpty() || !url.path().isEmpty() || url.hasQuery() || url.hasFragment() ||
        !url.userInfo().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QUrl> StickerServiceConfig::cdnBaseFromOrigin(const QString& origin) {
    std::optional<QUrl> url = apiOrigin(origin);
    if (url)
        url->setPath(QStringLiteral("/s/e/notoemoji/latest/"));
    return url;
}

StickerServiceConfig StickerServiceConfig::fromBuildAndEnvironment() {
    StickerServiceConfig config;
    config.giphyApiKey = configured("PIMSEL_GIPHY_API_KEY", PIMSEL_GIPHY_API_KEY).trimmed();
    config.giphyApi = apiOrigin(configured("PIMSEL_GIPHY_API_BASE", PIMSEL_GIPHY_API_BASE));
    config.cdnBase = cdnBaseFromOrigin(configured("PIMSEL_STICKER_CDN_BASE", PIMSEL_STICKER_CDN_BASE));
    return config;
}

} // namespace pimsel
