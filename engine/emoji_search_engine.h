#pragma once

// PUBLIC API SKETCH — the implementer of the search engine owns this file and may change
// internals, but must keep these call forms (the coordinator, the CLI and the browser use them).

#include "engine/emoji_entry.h"
#include "engine/sticker_entry.h"

#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace pimsel {

// Normalised (lower-cased, colon-trimmed, spaces→"_", NFC, grapheme-split) keys of a list
// of items, built once when the list is loaded so that a keystroke never re-normalises.
class SearchIndex {
public:
    SearchIndex() = default;
    static SearchIndex build(const QList<EmojiEntry>& items);
    static SearchIndex build(const QList<StickerEntry>& items);
    int size() const;
    // (implementation-defined members)
};

class EmojiSearchEngine {
public:
    // Reference form: normalises every alias and name on each call.
    QList<EmojiEntry> search(const QString& query, const QList<EmojiEntry>& items, int limit) const;
    QList<StickerEntry> search(const QString& query, const QList<StickerEntry>& items, int limit) const;

    // Fast form: identical results, using keys prepared by SearchIndex::build(items).
    QList<EmojiEntry> search(const QString& query, const QList<EmojiEntry>& items, const SearchIndex& index,
                             int limit) const;
    QList<StickerEntry> search(const QString& query, const QList<StickerEntry>& items, const SearchIndex& index,
                               int limit) const;

    int score(const EmojiEntry& item, const QString& normalisedQuery) const;
    int score(const StickerEntry& item, const QString& normalisedQuery) const;

    std::optional<EmojiEntry> exactMatch(const QString& query, const QList<EmojiEntry>& entries) const;
    std::optional<EmojiEntry> exactMatch(const QString& query, const QList<EmojiEntry>& entries,
                                         const SearchIndex& index) const;

    static QString normalise(const QString& text);
};

} // namespace pimsel
