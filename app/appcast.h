#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace pimsel {

// One release offered by the update feed.
struct AppcastItem {
    QString version;        // machine version, compared with ours
    QString displayVersion; // what the user is shown; the machine version when the feed gives none
    QUrl downloadUrl;       // the page (or file) the user is sent to
    bool operator==(const AppcastItem&) const = default;
};

// Every item of an RSS 2.0 appcast that names a version and an http(s) download address. Versions
// come from `version` / `shortVersionString` attributes of <enclosure> or from elements of those
// names in the item, whatever their namespace prefix; the address from <link>, else the enclosure's
// url. Undecodable input gives what was read before the fault (possibly nothing).
QList<AppcastItem> parseAppcast(const QByteArray& xml);
// The item with the highest version, if any.
std::optional<AppcastItem> newestAppcastItem(const QList<AppcastItem>& items);
// An http(s) address with a host: the only kind the user is ever sent to.
bool isWebAddress(const QUrl& url);

} // namespace pimsel
