#include "engine/emoji_search_engine.h"

#include "engine/text.h"

#include <QHash>

#include <algorithm>
#include <numeric>
#include <vector>

namespace pimsel {

struct SearchIndex::Data {
    // A cluster of one UTF-16 unit is its own id; longer clusters are numbered from here on.
    static constexpr quint32 firstInternedId = 0x10000;
    static constexpr quint32 unknownId = 0xFFFFFFFF;

    struct Span {
        quint32 begin;
        quint32 length; // in clusters
        quint64 mask;   // bits of its clusters
    };
    struct Entry {
        quint32 firstSpan; // aliases first, then the name
        quint32 aliasCount;
        quint32 keyRank; // position of (key length, key) among all keys; equal keys share it
        quint64 mask;    // bits of every cluster in the item: a cheap "cannot match" test
    };

    QHash<QString, quint32> interned;
    std::vector<quint32> ids;
    std::vector<Span> spans;
    std::vector<Entry> entries;

    static quint64 bit(quint32 id) { return quint64(1) << (id & 63u); }

    quint32 intern(const QString& cluster) {
        if (cluster.size() == 1)
            return cluster.at(0).unicode();
        auto it = interned.constFind(cluster);
        if (it != interned.constEnd())
            return it.value();
        const auto id = firstInternedId + static_cast<quint32>(interned.size());
        interned.insert(cluster, id);
        return id;
    }

    quint32 lookup(const QString& cluster) const {
        if (cluster.size() == 1)
            return cluster.at(0).unicode();
        return interned.value(cluster, unknownId);
    }
};

namespace {

using Data = SearchIndex::Data;
using Engine = EmojiSearchEngine;

const QStringList& aliasesOf(const EmojiEntry& item) {
    return item.aliases;
}
const QStringList& aliasesOf(const StickerEntry& item) {
    return item.keywords;
}

// The tie-break key: the first alias as stored, else the name.
template <typename Item> const QString& keyOf(const Item& item) {
    const QStringList& aliases = aliasesOf(item);
    return aliases.isEmpty() ? item.name : aliases.first();
}

// Counts below zero (only from a tampered store) earn nothing rather than a penalty.
int useCountBonus(int useCount) {
    const int cappedUses = Engine::useCountBonusCap / Engine::useCountStep;
    return std::clamp(useCount, 0, cappedUses) * Engine::useCountStep;
}

int finalScore(int best, int useCount) {
    return best < 1 ? 0 : best + useCountBonus(useCount);
}

// Items with a use count above 0, most used first, catalogue order among equals.
template <typename Item> QList<Item> mostUsed(const QList<Item>& items, int limit) {
    std::vector<qsizetype> used;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].useCount > 0)
            used.push_back(i);
    }
    const auto take = std::min<std::size_t>(static_cast<std::size_t>(limit), used.size());
    std::partial_sort(used.begin(), used.begin() + static_cast<std::ptrdiff_t>(take), used.end(),
                      [&items](qsizetype a, qsizetype b) {
                          if (items[a].useCount != items[b].useCount)
                              return items[a].useCount > items[b].useCount;
                          return a < b;
                      });
    QList<Item> result;
    result.reserve(static_cast<qsizetype>(take));
    for (std::size_t i = 0; i < take; ++i)
        result.append(items[used[i]]);
    return result;
}

// ---- reference form: everything normalised on the spot ----

QStringList normalisedClusters(const QString& text) {
    return text::graphemeClusters(Engine::normalise(text));
}

bool beginsWith(const QStringList& text, const QStringList& prefix) {
    return prefix.size() <= text.size() && std::equal(prefix.begin(), prefix.end(), text.begin());
}

bool isSubsequence(const QStringList& needle, const QStringList& haystack) {
    qsizetype found = 0;
    for (qsizetype i = 0; i < haystack.size() && found < needle.size(); ++i) {
        if (haystack[i] == needle[found])
            ++found;
    }
    return found == needle.size();
}

template <typename Item> int referenceScore(const Item& item, const QStringList& query) {
    if (query.isEmpty())
        return 0;
    int best = 0;
    for (const QString& alias : aliasesOf(item)) {
        const QStringList a = normalisedClusters(alias);
        const int length = static_cast<int>(a.size());
        if (a == query)
            best = std::max(best, Engine::exactAliasScore);
        else if (beginsWith(a, query))
            best = std::max(best, Engine::aliasPrefixBase - length);
        else if (isSubsequence(query, a))
            best = std::max(best, Engine::aliasSubsequenceBase - length);
    }
    const QStringList n = normalisedClusters(item.name);
    const int length = static_cast<int>(n.size());
    if (beginsWith(n, query))
        best = std::max(best, Engine::namePrefixBase - length);
    else if (isSubsequence(query, n))
        best = std::max(best, Engine::nameSubsequenceBase - length);
    return finalScore(best, item.useCount);
}

template <typename Item>
QList<Item> referenceSearch(const QString& query, const QList<Item>& items, int limit) {
    if (limit <= 0)
        return {};
    const QString q = Engine::normalise(query);
    if (q.isEmpty())
        return mostUsed(items, limit);
    const QStringList clusters = text::graphemeClusters(q);

    struct Match {
        qsizetype index;
        int score;
        int keyLength;
        QString key;
    };
    std::vector<Match> matches;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const int score = referenceScore(items[i], clusters);
        if (score > 0) {
            const QString key = text::nfc(keyOf(items[i]));
            matches.push_back({i, score, text::graphemeCount(key), key});
        }
    }
    std::stable_sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
        if (a.score != b.score)
            return a.score > b.score;
        if (a.keyLength != b.keyLength)
            return a.keyLength < b.keyLength;
        return text::compareCodePoints(a.key, b.key) < 0;
    });
    QList<Item> result;
    const auto take = std::min<std::size_t>(static_cast<std::size_t>(limit), matches.size());
    result.reserve(static_cast<qsizetype>(take));
    for (std::size_t i = 0; i < take; ++i)
        result.append(items[matches[i].index]);
    return result;
}

// ---- fast form: integer arrays prepared by SearchIndex ----

template <typename Item> SearchIndex::Data buildData(const QList<Item>& items) {
    Data data;
    data.entries.reserve(static_cast<std::size_t>(items.size()));
    std::vector<QString> keys;
    std::vector<int> keyLengths;
    keys.reserve(static_cast<std::size_t>(items.size()));
    keyLengths.reserve(static_cast<std::size_t>(items.size()));

    auto addSpan = [&data](const QString& raw, quint64& entryMask) {
        const auto begin = static_cast<quint32>(data.ids.size());
        quint64 mask = 0;
        for (const QString& cluster : normalisedClusters(raw)) {
            const quint32 id = data.intern(cluster);
            data.ids.push_back(id);
            mask |= Data::bit(id);
        }
        data.spans.push_back({begin, static_cast<quint32>(data.ids.size()) - begin, mask});
        entryMask |= mask;
    };

    for (const Item& item : items) {
        Data::Entry entry{static_cast<quint32>(data.spans.size()),
                          static_cast<quint32>(aliasesOf(item).size()), 0, 0};
        for (const QString& alias : aliasesOf(item))
            addSpan(alias, entry.mask);
        addSpan(item.name, entry.mask);
        data.entries.push_back(entry);
        keys.push_back(text::nfc(keyOf(item)));
        keyLengths.push_back(text::graphemeCount(keys.back()));
    }

    // Rank the keys once so that the per-query sort compares integers only.
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    auto keyCompare = [&](std::size_t a, std::size_t b) {
        if (keyLengths[a] != keyLengths[b])
            return keyLengths[a] < keyLengths[b] ? -1 : 1;
        return text::compareCodePoints(keys[a], keys[b]);
    };
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keyCompare(a, b) < 0; });
    quint32 rank = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k > 0 && keyCompare(order[k - 1], order[k]) != 0)
            ++rank;
        data.entries[order[k]].keyRank = rank;
    }
    return data;
}

struct Query {
    std::vector<quint32> ids;
    quint64 mask = 0;
    bool hasUnknown = false;
};

Query prepareQuery(const QString& normalised, const Data& data) {
    Query query;
    for (const QString& cluster : text::graphemeClusters(normalised)) {
        const quint32 id = data.lookup(cluster);
        if (id == Data::unknownId)
            query.hasUnknown = true;
        query.ids.push_back(id);
        query.mask |= Data::bit(id);
    }
    return query;
}

// The span's mask holds every cluster of the query or the span cannot contain it.
bool isSubsequence(const Query& query, const Data& data, const Data::Span& span) {
    if ((span.mask & query.mask) != query.mask)
        return false;
    const quint32* haystack = data.ids.data() + span.begin;
    std::size_t found = 0;
    for (quint32 i = 0; i < span.length && found < query.ids.size(); ++i) {
        if (haystack[i] == query.ids[found])
            ++found;
    }
    return found == query.ids.size();
}

// A plain loop: most keys differ at the first cluster, and a library memcmp call costs more.
bool beginsWith(const quint32* text, quint32 textLength, const std::vector<quint32>& prefix) {
    if (prefix.size() > textLength)
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] != prefix[i])
            return false;
    }
    return true;
}

int bestTier(const Data& data, const Data::Entry& entry, const Query& query) {
    const auto queryLength = static_cast<quint32>(query.ids.size());
    int best = 0;
    const Data::Span* span = data.spans.data() + entry.firstSpan;
    for (quint32 k = 0; k < entry.aliasCount; ++k, ++span) {
        const int length = static_cast<int>(span->length);
        if (beginsWith(data.ids.data() + span->begin, span->length, query.ids)) {
            if (span->length == queryLength)
                return Engine::exactAliasScore; // no other tier reaches it
            best = std::max(best, Engine::aliasPrefixBase - length);
        } else if (Engine::aliasSubsequenceBase - length > best && isSubsequence(query, data, *span)) {
            best = Engine::aliasSubsequenceBase - length;
        }
    }
    const int length = static_cast<int>(span->length);
    if (beginsWith(data.ids.data() + span->begin, span->length, query.ids))
        best = std::max(best, Engine::namePrefixBase - length);
    else if (Engine::nameSubsequenceBase - length > best && isSubsequence(query, data, *span))
        best = Engine::nameSubsequenceBase - length;
    return best;
}

bool isUsable(const SearchIndex& index, qsizetype itemCount) {
    return index.data() != nullptr && index.data()->entries.size() == static_cast<std::size_t>(itemCount);
}

template <typename Item>
QList<Item> fastSearch(const QString& query, const QList<Item>& items, const SearchIndex& index, int limit) {
    if (limit <= 0)
        return {};
    if (!isUsable(index, items.size()))
        return referenceSearch(query, items, limit);
    const QString q = Engine::normalise(query);
    if (q.isEmpty())
        return mostUsed(items, limit);
    const Data& data = *index.data();
    const Query prepared = prepareQuery(q, data);
    if (prepared.hasUnknown)
        return {}; // a cluster that occurs in no key matches nothing

    struct Match {
        int score;
        quint32 keyRank;
        quint32 index;
    };
    std::vector<Match> matches;
    matches.reserve(data.entries.size());
    for (std::size_t i = 0; i < data.entries.size(); ++i) {
        const Data::Entry& entry = data.entries[i];
        if ((entry.mask & prepared.mask) != prepared.mask)
            continue;
        const int score =
            finalScore(bestTier(data, entry, prepared), items[static_cast<qsizetype>(i)].useCount);
        if (score > 0)
            matches.push_back({score, entry.keyRank, static_cast<quint32>(i)});
    }
    // A strict total order (the index breaks every tie), so a partial sort gives the same
    // prefix as a stable sort of all matches.
    const auto take = std::min<std::size_t>(static_cast<std::size_t>(limit), matches.size());
    std::partial_sort(matches.begin(), matches.begin() + static_cast<std::ptrdiff_t>(take), matches.end(),
                      [](const Match& a, const Match& b) {
                          if (a.score != b.score)
                              return a.score > b.score;
                          if (a.keyRank != b.keyRank)
                              return a.keyRank < b.keyRank;
                          return a.index < b.index;
                      });
    QList<Item> result;
    result.reserve(static_cast<qsizetype>(take));
    for (std::size_t i = 0; i < take; ++i)
        result.append(items[static_cast<qsizetype>(matches[i].index)]);
    return result;
}

// Highest use count wins; on equal counts the earlier entry stays.
template <typename Matches>
std::optional<EmojiEntry> bestExact(const QList<EmojiEntry>& entries, Matches matches) {
    qsizetype best = -1;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if ((best < 0 || entries[i].useCount > entries[best].useCount) && matches(i))
            best = i;
    }
    if (best < 0)
        return std::nullopt;
    return entries[best];
}

} // namespace

int SearchIndex::size() const {
    return m_data ? static_cast<int>(m_data->entries.size()) : 0;
}

SearchIndex SearchIndex::build(const QList<EmojiEntry>& items) {
    SearchIndex index;
    index.m_data = std::make_shared<const Data>(buildData(items));
    return index;
}

SearchIndex SearchIndex::build(const QList<StickerEntry>& items) {
    SearchIndex index;
    index.m_data = std::make_shared<const Data>(buildData(items));
    return index;
}

QString EmojiSearchEngine::normalise(const QString& text) {
    QString result = text::lowercase(text);
    qsizetype begin = 0;
    qsizetype end = result.size();
    while (begin < end && result.at(begin) == QLatin1Char(':'))
        ++begin;
    while (end > begin && result.at(end - 1) == QLatin1Char(':'))
        --end;
    result = result.mid(begin, end - begin);
    result.replace(QLatin1Char(' '), QLatin1Char('_'));
    return text::nfc(result);
}

QList<EmojiEntry> EmojiSearchEngine::search(const QString& query, const QList<EmojiEntry>& items,
                                            int limit) const {
    return referenceSearch(query, items, limit);
}

QList<StickerEntry> EmojiSearchEngine::search(const QString& query, const QList<StickerEntry>& items,
                                              int limit) const {
    return referenceSearch(query, items, limit);
}

QList<EmojiEntry> EmojiSearchEngine::search(const QString& query, const QList<EmojiEntry>& items,
                                            const SearchIndex& index, int limit) const {
    return fastSearch(query, items, index, limit);
}

QList<StickerEntry> EmojiSearchEngine::search(const QString& query, const QList<StickerEntry>& items,
                                              const SearchIndex& index, int limit) const {
    return fastSearch(query, items, index, limit);
}

int EmojiSearchEngine::score(const EmojiEntry& item, const QString& normalisedQuery) const {
    return referenceScore(item, text::graphemeClusters(normalisedQuery));
}

int EmojiSearchEngine::score(const StickerEntry& item, const QString& normalisedQuery) const {
    return referenceScore(item, text::graphemeClusters(normalisedQuery));
}

std::optional<EmojiEntry> EmojiSearchEngine::exactMatch(const QString& query,
                                                        const QList<EmojiEntry>& entries) const {
    const QString q = normalise(query);
    if (q.isEmpty())
        return std::nullopt;
    return bestExact(entries, [&](qsizetype i) {
        const EmojiEntry& entry = entries[i];
        return normalise(entry.name) == q ||
               std::any_of(entry.aliases.begin(), entry.aliases.end(),
                           [&q](const QString& alias) { return normalise(alias) == q; });
    });
}

std::optional<EmojiEntry> EmojiSearchEngine::exactMatch(const QString& query,
                                                        const QList<EmojiEntry>& entries,
                                                        const SearchIndex& index) const {
    if (!isUsable(index, entries.size()))
        return exactMatch(query, entries);
    const QString q = normalise(query);
    if (q.isEmpty())
        return std::nullopt;
    const Data& data = *index.data();
    const Query prepared = prepareQuery(q, data);
    if (prepared.hasUnknown)
        return std::nullopt;
    return bestExact(entries, [&](qsizetype i) {
        const Data::Entry& entry = data.entries[static_cast<std::size_t>(i)];
        if ((entry.mask & prepared.mask) != prepared.mask)
            return false;
        const Data::Span* span = data.spans.data() + entry.firstSpan;
        for (quint32 k = 0; k <= entry.aliasCount; ++k, ++span) { // the aliases, then the name
            if (span->length == prepared.ids.size() &&
                beginsWith(data.ids.data() + span->begin, span->length, prepared.ids))
                return true;
        }
        return false;
    });
}

} // namespace pimsel
