#include "engine/text.h"

#include <QChar>
#include <QStringView>
#include <QTextBoundaryFinder>

namespace pimsel::text {

namespace {

// No cluster rule joins two code units that both lie below U+0300, except CR LF: the
// extenders, spacing marks, prepends, Hangul jamo and regional indicators all lie above.
constexpr char16_t firstJoiningUnit = 0x300;

bool isPlainPair(QChar a, QChar b) {
    return a.unicode() < firstJoiningUnit && b.unicode() < firstJoiningUnit &&
           !(a == QLatin1Char('\r') && b == QLatin1Char('\n'));
}

bool isAllBelowJoining(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() >= firstJoiningUnit || c == QLatin1Char('\r'))
            return false;
    }
    return true;
}

template <typename Predicate> bool everyScalar(const QString& text, Predicate predicate) {
    if (text.isEmpty())
        return false;
    for (char32_t scalar : QStringView(text).toUcs4()) {
        if (!predicate(scalar))
            return false;
    }
    return true;
}

} // namespace

QStringList graphemeClusters(const QString& text) {
    QStringList clusters;
    if (text.isEmpty())
        return clusters;
    if (isAllBelowJoining(text)) {
        clusters.reserve(text.size());
        for (QChar c : text)
            clusters.append(QString(c));
        return clusters;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        clusters.append(text.mid(start, end - start));
        start = end;
    }
    return clusters;
}

int graphemeCount(const QString& text) {
    if (isAllBelowJoining(text))
        return static_cast<int>(text.size());
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

qsizetype firstGraphemeLength(const QString& text) {
    if (text.size() <= 1)
        return text.size();
    if (isPlainPair(text.at(0), text.at(1)))
        return 1;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    const qsizetype end = finder.toNextBoundary();
    return end == -1 ? text.size() : end;
}

qsizetype lastGraphemeStart(const QString& text) {
    const qsizetype n = text.size();
    if (n <= 1)
        return 0;
    if (isPlainPair(text.at(n - 2), text.at(n - 1)))
        return n - 1;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    const qsizetype start = finder.toPreviousBoundary();
    return start == -1 ? 0 : start;
}

QString firstGrapheme(const QString& text) {
    return text.left(firstGraphemeLength(text));
}

QString nfc(const QString& text) {
    if (isAllBelowJoining(text))
        return text;
    return text.normalized(QString::NormalizationForm_C);
}

QString lowercase(const QString& text) {
    return text.toLower();
}

int compareCodePoints(const QString& a, const QString& b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x == y)
            continue;
        // Surrogates (D800–DFFF) encode scalars above every BMP unit, so they must sort after E000–FFFF.
        auto rank = [](char16_t u) -> int {
            if (u >= 0xE000)
                return u - 0x800;
            if (u >= 0xD800)
                return u + 0x2000;
            return u;
        };
        return rank(x) < rank(y) ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool isWhitespaceScalar(char32_t scalar) {
    return QChar::isSpace(scalar);
}

bool isControlScalar(char32_t scalar) {
    const auto category = QChar::category(scalar);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

bool isWhitespace(const QString& character) {
    return everyScalar(character, isWhitespaceScalar);
}

bool isControl(const QString& character) {
    return everyScalar(character, isControlScalar);
}

QString withoutControls(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (char32_t scalar : QStringView(text).toUcs4()) {
        if (!isControlScalar(scalar))
            result.append(QString::fromUcs4(&scalar, 1));
    }
    return result;
}

} // namespace pimsel::text
