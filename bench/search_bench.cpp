#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"
#include "engine/token_buffer.h"

#include <benchmark/benchmark.h>

#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <array>
#include <memory>

using namespace pimsel;

namespace {

// The shipped catalogue with a sprinkling of use counts, loaded once for every benchmark.
struct Catalogue {
    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<EmojiStore> store;
    QList<EmojiEntry> entries;
    SearchIndex index;

    Catalogue() {
        settings =
            std::make_unique<QSettings>(dir.filePath(QStringLiteral("bench.ini")), QSettings::IniFormat);
        store = std::make_unique<EmojiStore>(settings.get());
        store->reload({});
        entries = store->entries();
        for (qsizetype i = 0; i < entries.size(); i += 5)
            entries[i].useCount = static_cast<int>(i % 23);
        index = SearchIndex::build(entries);
    }
};

const Catalogue& catalogue() {
    static const Catalogue instance;
    return instance;
}

const std::array<QStringList, 4> queriesByLength{
    QStringList{},
    QStringList{"s", "a", "f", "h", "c", "m", "t", "b"},
    QStringList{"sm", "ca", "fa", "he", "bo", "mo", "th", "gr"},
    QStringList{"smi", "cat", "fac", "hea", "boo", "moo", "thu", "gri"},
};

template <bool fast> void searchBench(benchmark::State& state) {
    const Catalogue& c = catalogue();
    if (c.entries.isEmpty()) {
        state.SkipWithError("the shipped catalogue is empty");
        return;
    }
    const QStringList& queries = queriesByLength[static_cast<std::size_t>(state.range(0))];
    const EmojiSearchEngine engine;
    qsizetype next = 0;
    for (auto _ : state) {
        const QString& query = queries[next];
        next = (next + 1) % queries.size();
        if constexpr (fast)
            benchmark::DoNotOptimize(engine.search(query, c.entries, c.index, 6));
        else
            benchmark::DoNotOptimize(engine.search(query, c.entries, 6));
    }
    state.counters["entries"] = static_cast<double>(c.entries.size());
}

void BM_FastSearch(benchmark::State& state) {
    searchBench<true>(state);
}
void BM_ReferenceSearch(benchmark::State& state) {
    searchBench<false>(state);
}

void BM_FastExactMatch(benchmark::State& state) {
    const Catalogue& c = catalogue();
    const EmojiSearchEngine engine;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.exactMatch(QStringLiteral("smile"), c.entries, c.index));
}

void BM_Reload(benchmark::State& state) {
    const Catalogue& c = catalogue();
    for (auto _ : state) {
        c.store->reload({});
        benchmark::DoNotOptimize(c.store->entries().size());
    }
}

// One character per iteration from a stream that opens, grows and ends tokens.
void BM_TokenBufferFeed(benchmark::State& state) {
    TokenBuffer buffer([] { return QStringLiteral(":"); });
    QStringList stream;
    for (QChar c : QStringLiteral("see :smile and :thumbs_up now "))
        stream.append(QString(c));
    qsizetype next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buffer.feed(stream[next]));
        next = (next + 1) % stream.size();
    }
}

} // namespace

BENCHMARK(BM_FastSearch)->DenseRange(1, 3)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_ReferenceSearch)->DenseRange(1, 3)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_FastExactMatch)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_Reload)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_TokenBufferFeed)->Unit(benchmark::kNanosecond)->Repetitions(5);
