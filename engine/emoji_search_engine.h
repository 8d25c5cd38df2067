#pragma once

#include "engine/emoji_entry.h"
#include "engine/sticker_entry.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace pimsel {

// Normalised (lower-cased, colon-trimmed, spaces→"_", NFC, grapheme-split) keys of a list
// of items, built once when the list is loaded so that a keystroke never re-normalises.
// Each grapheme cluster is interned to a 32-bit id, so equality, prefix and subsequence
// tests are comparisons of integer arrays. Copies share the same immutable data.
class SearchIndex {
public:
    SearchIndex() = default;
    static SearchIndex build(const QList<EmojiEntry>& items);
    static SearchIndex build(const QList<StickerEntry>& items);
    int size() const;

    struct Data; // defined with the search code
    const Data* data() const { return m_data.get(); }

private:
    std::shared_ptr<const Data> m_data;
};

// One ranking for emoji (aliases, name, use count) and stickers (keywords, name, use count).
// Stateless; copies are free.
class EmojiSearchEngine {
public:
    // Reference form: normalises every alias and name on each call.
    QList<EmojiEntry> search(const QString& query, const QList<EmojiEntry>& items, int limit) const;
    QList<StickerEntry> search(const QString& query, const QList<StickerEntry>& items, int limit) const;

    // Fast form: identical results, using keys prepared by SearchIndex::build(items). The
    // index must describe the same aliases and names in the same order; use counts are read
    // from `items`, so counting a use needs no rebuild. An index of another size is ignored
    // and the reference form answers instead.
    QList<EmojiEntry> search(const QString& query, const QList<EmojiEntry>& items, const SearchIndex& index,
                             int limit) const;
    QList<StickerEntry> search(const QString& query, const QList<StickerEntry>& items,
                               const SearchIndex& index, int limit) const;

    // 0 = no match; also 0 for an empty query.
    int score(const EmojiEntry& item, const QString& normalisedQuery) const;
    int score(const StickerEntry& item, const QString& normalisedQuery) const;

    std::optional<EmojiEntry> exactMatch(const QString& query, const QList<EmojiEntry>& entries) const;
    std::optional<EmojiEntry> exactMatch(const QString& query, const QList<EmojiEntry>& entries,
                                         const SearchIndex& index) const;

    // Lower-case, trim ":" from both ends, " " → "_", then NFC.
    static QString normalise(const QString& text);

    static constexpr int exactAliasScore = 1000;
    static constexpr int aliasPrefixBase = 700;
    static constexpr int aliasSubsequenceBase = 300;
    static constexpr int namePrefixBase = 500;
    static constexpr int nameSubsequenceBase = 200;
    static constexpr int useCountStep = 5;
    static constexpr int useCountBonusCap = 100;
};

} // namespace pimsel
