#pragma once

// A generated update feed, the feed server and the status monitor's stand-ins.

#include "platform/status_monitor.h"

#include "../support/http_server.h"
#include "../support/status_fakes.h"

#include <QUrl>

namespace pimsel::testing {

// A feed with one item per (version, display version); an empty display version is left out.
inline QByteArray appcast(const QList<std::pair<QByteArray, QByteArray>>& releases) {
    QByteArray xml =
        R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel>)";
    for (const auto& [version, display] : releases) {
        xml += "<item><link>https://example.org/pimsel/releases/" + version + "</link><enclosure url=\"" +
               "https://example.org/pimsel-" + version + ".tar.gz\" sparkle:version=\"" + version + "\"" +
               (display.isEmpty() ? "" : " sparkle:shortVersionString=\"" + display + "\"") + "/></item>\n";
    }
    return xml + "</channel></rss>\n";
}

} // namespace pimsel::testing
