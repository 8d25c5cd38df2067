#pragma once

#include <QString>
#include <QStringList>

namespace pimsel::text {

// Every length and comparison of typed text works on user-perceived characters (extended
// grapheme clusters), on the canonical composition (NFC), lower-cased without a locale.

QStringList graphemeClusters(const QString& text);
int graphemeCount(const QString& text);
// UTF-16 length of the first / offset of the last cluster (0 for an empty string).
qsizetype firstGraphemeLength(const QString& text);
qsizetype lastGraphemeStart(const QString& text);
QString firstGrapheme(const QString& text);

QString nfc(const QString& text);
// Unicode lower-case mapping; identical in every locale.
QString lowercase(const QString& text);

// Code-point order (UTF-16 order differs above U+FFFF). Negative, zero or positive.
int compareCodePoints(const QString& a, const QString& b);

bool isWhitespaceScalar(char32_t scalar);
bool isControlScalar(char32_t scalar); // general category Cc or Cf
// True when `character` is non-empty and every scalar in it is whitespace / a control.
bool isWhitespace(const QString& character);
bool isControl(const QString& character);
// `text` without its Cc/Cf scalars.
QString withoutControls(const QString& text);

// Calls `visit` with each user-perceived character of `text`, in order.
template <typename Visit> void forEachCharacter(const QString& text, Visit&& visit) {
    if (text.size() == 1 && !text[0].isSurrogate()) {
        visit(text); // a plain keystroke: one BMP scalar is one character
        return;
    }
    const QStringList characters = text::graphemeClusters(text);
    for (const QString& character : characters)
        visit(character);
}

} // namespace pimsel::text
