#include "platform/normalized_domain.h"

namespace pimsel {

std::optional<QString> normalizedDomain(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    QString domain = text->trimmed().toLower();
    if (domain.isEmpty())
        return std::nullopt;

    const qsizetype schemeEnd = domain.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0)
        domain = domain.mid(schemeEnd + 3);

    for (qsizetype i = 0; i < domain.size(); ++i) {
        const QChar c = domain.at(i);
        if (c == u'/' || c == u'?' || c == u'#') {
            domain.truncate(i);
            break;
        }
    }

    const qsizetype at = domain.lastIndexOf(u'@');
    if (at >= 0)
        domain = domain.mid(at + 1);

    const qsizetype colon = domain.indexOf(u':');
    if (colon >= 0)
        domain.truncate(colon);

    while (domain.startsWith(QLatin1String("www.")))
        domain.remove(0, 4);

    qsizetype begin = 0;
    qsizetype end = domain.size();
    while (begin < end && domain.at(begin) == u'.')
        ++begin;
    while (end > begin && domain.at(end - 1) == u'.')
        --end;
    domain = domain.mid(begin, end - begin);

    if (domain.isEmpty())
        return std::nullopt;
    return domain;
}

} // namespace pimsel
