#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"
#include "fuzz_check.h"

#include <QHash>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using namespace pimsel;

namespace {

// The shipped catalogue with a few use counts, so the ranking's use bonus is in play.
const EmojiStore& catalogue() {
    static EmojiStore* store = [] {
        auto* s = new EmojiStore(nullptr);
        s->reload({});
        for (qsizetype i = 0; i < s->entries().size(); i += 97) {
            for (qsizetype uses = 0; uses <= i % 30; ++uses)
                s->recordUse(s->entries().at(i).emoji);
        }
        return s;
    }();
    return *store;
}

// A few dozen entries: small enough for the reference form to answer on every input.
constexpr qsizetype sliceSize = 40;

} // namespace

// First byte: result limit; second: which slice of the catalogue is compared; the rest: the query.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int limit = static_cast<int>(data[0] % 16) - 1;
    const QString query =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
    const EmojiSearchEngine engine;
    const QList<EmojiEntry>& entries = catalogue().entries();
    FUZZ_CHECK(entries.size() > sliceSize);

    const QList<EmojiEntry> results = engine.search(query, entries, catalogue().searchIndex(), limit);
    FUZZ_CHECK(results.size() <= std::max(limit, 0));
    const QString normalised = EmojiSearchEngine::normalise(query);
    for (qsizetype i = 0; i < results.size(); ++i) {
        FUZZ_CHECK(entries.contains(results[i]));
        FUZZ_CHECK(results.indexOf(results[i]) == i);
        if (!normalised.isEmpty())
            FUZZ_CHECK(engine.score(results[i], normalised) > 0);
        if (i > 0 && !normalised.isEmpty())
            FUZZ_CHECK(engine.score(results[i - 1], normalised) >= engine.score(results[i], normalised));
    }
    if (const auto exact = engine.exactMatch(query, entries, catalogue().searchIndex()))
        FUZZ_CHECK(entries.contains(*exact) && engine.score(*exact, normalised) > 0);

    // The fast form promises the reference form's answer exactly.
    const qsizetype first = data[1] * (entries.size() - sliceSize) / 255;
    const QList<EmojiEntry> slice = entries.mid(first, sliceSize);
    const SearchIndex index = SearchIndex::build(slice);
    FUZZ_CHECK(engine.search(query, slice, index, limit) == engine.search(query, slice, limit));
    FUZZ_CHECK(engine.exactMatch(query, slice, index) == engine.exactMatch(query, slice));
    return 0;
}
