#pragma once

#include <QHash>
#include <QString>
#include <QVariant>

namespace pimsel {

// How often the user picked each item (an emoji, a sticker), keyed by its text or identifier.
using UseCounts = QHash<QString, int>;

// The stored form is a map from key to a whole number. Entries that are not a positive whole
// number under a non-empty key are skipped one by one: a stray entry must not cost the user the
// rest of their ranking. A value that is no map at all gives no counts.
UseCounts decodeUseCounts(const QVariant& stored);
QVariant encodeUseCounts(const UseCounts& counts);

} // namespace pimsel
