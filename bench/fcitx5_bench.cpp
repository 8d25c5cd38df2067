// Key handling inside fcitx5 with the module loaded: from the frontend handing a key-down to fcitx5
// to the module's answer (preedit, candidates, or the key passed on). Each benchmark reports the p50
// and p95 of its keys as counters (milliseconds). No display needed.

#include "support/fcitx5_session.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

pimsel::testing::Fcitx5Session& session() {
    static QTemporaryDir config;
    static pimsel::testing::Fcitx5Session instance(config.path().toStdString());
    return instance;
}

void reportPercentiles(benchmark::State& state, std::vector<double>& seconds) {
    std::sort(seconds.begin(), seconds.end());
    const auto at = [&](double q) {
        return seconds[std::min(seconds.size() - 1, std::size_t(q * seconds.size()))];
    };
    state.counters["p50_ms"] = at(0.50) * 1e3;
    state.counters["p95_ms"] = at(0.95) * 1e3;
}

// Keys typed one after another into `ic`, each one timed; `keys` cycles.
void timeKeys(benchmark::State& state, fcitx::InputContext& ic, const std::vector<fcitx::Key>& keys) {
    std::vector<double> seconds;
    std::size_t next = 0;
    for (auto _ : state) {
        const fcitx::Key& key = keys[next++ % keys.size()];
        const Clock::time_point start = Clock::now();
        session().keyDown(ic, key);
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        session().keyUp(ic, key);
    }
    reportPercentiles(state, seconds);
}

// A letter that changes an open shortcode, and the Backspace that takes it back: a search each.
void BM_ShortcodeKey(benchmark::State& state) {
    fcitx::InputContext& ic = session().open("gedit");
    session().type(ic, " :sm");
    timeKeys(state, ic, {fcitx::Key("i"), fcitx::Key("BackSpace")});
}
BENCHMARK(BM_ShortcodeKey);

// Ordinary typing with no shortcode open: what every other key costs. The Backspace keeps the field
// short, as the test field hands all of its text back on every change.
void BM_PlainKey(benchmark::State& state) {
    fcitx::InputContext& ic = session().open("gedit");
    timeKeys(state, ic, {fcitx::Key("a"), fcitx::Key("BackSpace")});
}
BENCHMARK(BM_PlainKey);

} // namespace

BENCHMARK_MAIN();
