#include "app/appcast.h"

#include "app/version_compare.h"

#include <QXmlStreamReader>

namespace pimsel {

namespace {

AppcastItem readItem(QXmlStreamReader& xml) {
    AppcastItem item;
    QString enclosureVersion;
    QString enclosureShortVersion;
    QUrl enclosureUrl;
    QUrl link;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        const QStringView name = xml.name();
        if (name == QLatin1String("enclosure")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            for (const QXmlStreamAttribute& attribute : attributes) {
                if (attribute.name() == QLatin1String("version"))
                    enclosureVersion = attribute.value().trimmed().toString();
                else if (attribute.name() == QLatin1String("shortVersionString"))
                    enclosureShortVersion = attribute.value().trimmed().toString();
                else if (attribute.name() == QLatin1String("url"))
                    enclosureUrl = QUrl(attribute.value().trimmed().toString());
            }
        } else if (name == QLatin1String("version") && item.version.isEmpty()) {
            item.version = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            --depth;
        } else if (name == QLatin1String("shortVersionString") && item.displayVersion.isEmpty()) {
            item.displayVersion = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            --depth;
        } else if (name == QLatin1String("link") && xml.namespaceUri().isEmpty()) {
            link = QUrl(xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed());
            --depth;
        }
    }
    if (item.version.isEmpty())
        item.version = enclosureVersion;
    if (item.displayVersion.isEmpty())
        item.displayVersion = enclosureShortVersion;
    if (item.version.isEmpty())
        item.version = item.displayVersion;
    if (item.displayVersion.isEmpty())
        item.displayVersion = item.version;
    item.downloadUrl = isWebAddress(link) ? link : isWebAddress(enclosureUrl) ? enclosureUrl : QUrl();
    return item;
}

} // namespace

bool isWebAddress(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

QList<AppcastItem> parseAppcast(const QByteArray& xmlText) {
    QList<AppcastItem> items;
    QXmlStreamReader xml(xmlText);
    bool sawRss = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("rss"))
            sawRss = true;
        else if (sawRss && xml.name() == QLatin1String("item")) {
            AppcastItem item = readItem(xml);
            if (!item.version.isEmpty() && item.downloadUrl.isValid())
                items.append(item);
        }
    }
    return items;
}

std::optional<AppcastItem> newestAppcastItem(const QList<AppcastItem>& items) {
    std::optional<AppcastItem> newest;
    for (const AppcastItem& item : items) {
        if (!newest || compareVersions(item.version, newest->version) > 0)
            newest = item;
    }
    return newest;
}

} // namespace pimsel
