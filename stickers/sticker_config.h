#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace pimsel {

// Where the sticker and GIF services go: compiled in at build time, each value replaceable by an
// environment variable of the same name (PIMSEL_GIPHY_API_KEY, PIMSEL_GIPHY_API_BASE,
// PIMSEL_STICKER_CDN_BASE), so a test or a packager can point them elsewhere without a rebuild.
struct StickerServiceConfig {
    QString giphyApiKey;          // trimmed; empty: no GIF client
    std::optional<QUrl> giphyApi; // origin of the GIF API; none when the configured text is unusable
    std::optional<QUrl> cdnBase;  // ends in "/s/e/notoemoji/latest/"; none when unusable

    static StickerServiceConfig fromBuildAndEnvironment();

    // An http or https origin (a path, query or fragment is refused) with the sticker CDN's fixed
    // path appended. Anything else gives none: a file: or relative address must never become a
    // download source.
    static std::optional<QUrl> cdnBaseFromOrigin(const QString& origin);
    // The same check for the API origin, which keeps no path.
    static std::optional<QUrl> apiOrigin(const QString& origin);
};

} // namespace pimsel
