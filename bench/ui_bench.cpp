#include "engine/emoji_store.h"
#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view.h"
#include "ui/emoji_browser_view_model.h"
#include "ui/emoji_browser_window_controller.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <ctime>
#include <memory>

using namespace pimsel;

namespace {

// The shipped catalogue with a sprinkling of use counts, so "Frequently Used" exists.
const QList<EmojiEntry>& catalogue() {
    static const QList<EmojiEntry> entries = [] {
        QFile file(EmojiStore::defaultCatalogPath());
        QList<EmojiEntry> loaded;
        if (file.open(QIODevice::ReadOnly))
            loaded = EmojiStore::decodeCatalog(file.readAll());
        for (qsizetype i = 0; i < loaded.size(); i += 37)
            loaded[i].useCount = static_cast<int>(i % 11) + 1;
        return loaded;
    }();
    return entries;
}

WindowActivation noActivation() {
    return {[] { return quint32(0x4200001); }, [](quint32) {}};
}

// Opening = show, the deferred make-key step, and the first paint of the whole panel.
void openAndPaint(EmojiBrowserWindowController& controller) {
    controller.show(catalogue());
    QCoreApplication::processEvents();
    controller.panel()->repaint();
}

// Lets the idle-time rendering of every emoji finish, as it does while a browser stays open.
void finishWarmUp(EmojiBrowserWindowController& controller) {
    EmojiBrowserGrid* grid = controller.panel()->view()->grid();
    while (grid->isWarmingUp())
        QCoreApplication::processEvents();
}

// Registered first, so it runs in a fresh process: no glyph ever rendered, no window made.
void BM_BrowserFirstOpenCold(benchmark::State& state) {
    for (auto _ : state) {
        EmojiBrowserWindowController controller(noActivation());
        openAndPaint(controller);
        state.PauseTiming();
        controller.cancel();
        state.ResumeTiming();
    }
    state.SetLabel(std::to_string(catalogue().size()) + " entries");
}
BENCHMARK(BM_BrowserFirstOpenCold)->Iterations(1)->Unit(benchmark::kMillisecond);

// A new controller and window each time, with the process's font caches already warm.
void BM_BrowserFirstOpen(benchmark::State& state) {
    for (auto _ : state) {
        EmojiBrowserWindowController controller(noActivation());
        openAndPaint(controller);
        state.PauseTiming();
        controller.cancel();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BrowserFirstOpen)->Unit(benchmark::kMillisecond);

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The first opening after the idle-time preparation the application does shortly after start.
// Run it alone (--benchmark_filter) for a fresh process. Counters: the preparation's wall time
// and its longest single pass of the event loop, the most a key could wait behind it.
void BM_BrowserFirstOpenPrepared(benchmark::State& state) {
    double prepareMs = 0;
    double longestSliceMs = 0;
    double longestSliceCpuMs = 0; // without the time other processes had the core
    for (auto _ : state) {
        state.PauseTiming();
        EmojiBrowserWindowController controller(noActivation());
        bool prepared = false;
        QObject::connect(&controller, &EmojiBrowserWindowController::prepared, [&] { prepared = true; });
        QElapsedTimer total;
        total.start();
        controller.prepare(catalogue());
        while (!prepared && total.elapsed() < 30000) {
            QElapsedTimer slice;
            slice.start();
            const double cpuBefore = threadCpuMs();
            QCoreApplication::processEvents();
            longestSliceMs = std::max(longestSliceMs, double(slice.nsecsElapsed()) / 1e6);
            longestSliceCpuMs = std::max(longestSliceCpuMs, threadCpuMs() - cpuBefore);
        }
        prepareMs = std::max(prepareMs, double(total.nsecsElapsed()) / 1e6);
        state.ResumeTiming();
        openAndPaint(controller);
        state.PauseTiming();
        controller.cancel();
        state.ResumeTiming();
    }
    state.counters["prepare_ms"] = prepareMs;
    state.counters["longest_slice_ms"] = longestSliceMs;
    state.counters["longest_slice_cpu_ms"] = longestSliceCpuMs;
}
BENCHMARK(BM_BrowserFirstOpenPrepared)->Unit(benchmark::kMillisecond);

// Closing and opening the kept window again.
void BM_BrowserLaterOpen(benchmark::State& state) {
    EmojiBrowserWindowController controller(noActivation());
    openAndPaint(controller);
    finishWarmUp(controller);
    controller.cancel();
    for (auto _ : state) {
        openAndPaint(controller);
        state.PauseTiming();
        controller.cancel();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BrowserLaterOpen)->Unit(benchmark::kMillisecond);

// One typed key of the search line: the model searches, the grid relayouts and repaints.
// Cycles through typing "tada", deleting it, then a one-letter query with 400 results.
void BM_BrowserSearchKeystroke(benchmark::State& state) {
    EmojiBrowserWindowController controller(noActivation());
    openAndPaint(controller);
    finishWarmUp(controller);
    EmojiBrowserViewModel& model = controller.viewModel();
    EmojiBrowserGrid* grid = controller.panel()->view()->grid();
    const QStringList keys = {"t", "a", "d", "a", "",  "", "", "", "s", "",
                              "h", "e", "a", "r", "t", "", "", "", "",  ""};
    qsizetype step = 0;
    for (auto _ : state) {
        const QString& key = keys[step++ % keys.size()];
        if (key.isEmpty())
            model.deleteBackward();
        else
            model.appendToQuery(key);
        controller.panel()->view()->searchLine()->repaint();
        grid->viewport()->repaint();
    }
    controller.cancel();
}
BENCHMARK(BM_BrowserSearchKeystroke)->Unit(benchmark::kMicrosecond);

// The worst keystroke: a one-letter query (400 results) right after the first opening, before
// the idle time has rendered the emoji, so every visible cell is rendered into the cache first.
void BM_BrowserSearchKeystrokeColdCells(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto controller = std::make_unique<EmojiBrowserWindowController>(noActivation());
        openAndPaint(*controller);
        EmojiBrowserGrid* grid = controller->panel()->view()->grid();
        state.ResumeTiming();
        controller->viewModel().appendToQuery(QStringLiteral("z"));
        controller->panel()->view()->searchLine()->repaint();
        grid->viewport()->repaint();
        state.PauseTiming();
        controller->cancel();
        controller.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BrowserSearchKeystrokeColdCells)->Unit(benchmark::kMillisecond);

// Scrolling the whole section stack by one page with every cell already cached.
void BM_BrowserScrollPage(benchmark::State& state) {
    EmojiBrowserWindowController controller(noActivation());
    openAndPaint(controller);
    EmojiBrowserGrid* grid = controller.panel()->view()->grid();
    int page = 0;
    for (auto _ : state) {
        for (int i = 0; i < 9; ++i)
            controller.viewModel().moveSelection(page % 2 == 0 ? MoveDirection::down : MoveDirection::up);
        grid->viewport()->repaint();
        ++page;
    }
    controller.cancel();
}
BENCHMARK(BM_BrowserScrollPage)->Unit(benchmark::kMicrosecond);

} // namespace
