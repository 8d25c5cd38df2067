#include "app/version_compare.h"

#include <QList>

#include <algorithm>

namespace pimsel {

namespace {

struct ParsedVersion {
    QList<QStringView> release;    // dot-separated numeric components
    QList<QStringView> preRelease; // identifiers; empty for a final release
};

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool isAllDigits(QStringView text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit);
}

// Splits "beta2" into "beta", "2" so that glued numbers still compare numerically.
void appendIdentifiers(QStringView part, QList<QStringView>& out) {
    qsizetype start = 0;
    for (qsizetype i = 1; i <= part.size(); ++i) {
        if (i == part.size() || isDigit(part[i]) != isDigit(part[i - 1])) {
            out.append(part.sliced(start, i - start));
            start = i;
        }
    }
}

ParsedVersion parse(QStringView text) {
    text = text.trimmed();
    if (!text.isEmpty() && (text.front() == u'v' || text.front() == u'V'))
        text = text.sliced(1);
    if (const qsizetype plus = text.indexOf(u'+'); plus >= 0)
        text = text.first(plus);

    // The release part ends at the first character that is neither a digit nor a dot.
    qsizetype end = 0;
    while (end < text.size() && (isDigit(text[end]) || text[end] == u'.'))
        ++end;
    QStringView release = text.first(end);
    QStringView rest = text.sliced(end);
    while (release.endsWith(u'.'))
        release.chop(1);
    while (!rest.isEmpty() && (rest.front() == u'-' || rest.front() == u'.' || rest.front() == u'_'))
        rest = rest.sliced(1);

    ParsedVersion parsed;
    for (QStringView component : release.tokenize(u'.'))
        parsed.release.append(component);
    for (QStringView part : rest.tokenize(u'.', Qt::SkipEmptyParts)) {
        for (QStringView piece : part.tokenize(u'-', Qt::SkipEmptyParts))
            appendIdentifiers(piece, parsed.preRelease);
    }
    return parsed;
}

// Compares digit strings of any length without overflow: leading zeros dropped, then by length,
// then lexically.
int compareNumbers(QStringView a, QStringView b) {
    while (a.size() > 1 && a.front() == u'0')
        a = a.sliced(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.sliced(1);
    if (a.isEmpty())
        a = u"0";
    if (b.isEmpty())
        b = u"0";
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

int compareIdentifiers(QStringView a, QStringView b) {
    const bool aNumeric = isAllDigits(a);
    const bool bNumeric = isAllDigits(b);
    if (aNumeric && bNumeric)
        return compareNumbers(a, b);
    // A bare number ranks below a word: "1.0-1" < "1.0-alpha".
    if (aNumeric != bNumeric)
        return aNumeric ? -1 : 1;
    return sign(a.compare(b, Qt::CaseInsensitive));
}

} // namespace

int compareVersions(QStringView a, QStringView b) {
    const ParsedVersion left = parse(a);
    const ParsedVersion right = parse(b);

    const qsizetype releaseLength = std::max(left.release.size(), right.release.size());
    for (qsizetype i = 0; i < releaseLength; ++i) {
        const QStringView l = i < left.release.size() ? left.release[i] : QStringView(u"0");
        const QStringView r = i < right.release.size() ? right.release[i] : QStringView(u"0");
        if (const int order = sign(compareNumbers(l, r)))
            return order;
    }

    // A final release is newer than any of its pre-releases.
    if (left.preRelease.isEmpty() || right.preRelease.isEmpty())
        return left.preRelease.isEmpty() - right.preRelease.isEmpty();
    const qsizetype common = std::min(left.preRelease.size(), right.preRelease.size());
    for (qsizetype i = 0; i < common; ++i) {
        if (const int order = compareIdentifiers(left.preRelease[i], right.preRelease[i]))
            return order;
    }
    return sign(int(left.preRelease.size() - right.preRelease.size()));
}

} // namespace pimsel
