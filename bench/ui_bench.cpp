#include "engine/emoji_store.h"
#include "stickers/sticker_catalog.h"
#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view.h"
#include "ui/emoji_browser_view_model.h"
#include "ui/emoji_browser_window_controller.h"
#include "ui/sticker_picker_grid.h"
#include "ui/sticker_picker_view.h"
#include "ui/sticker_picker_window_controller.h"
#include "ui/sticker_preview.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
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

// Scrolls the open browser page by page from the top to the bottom of the catalogue, painting
// each page as a user scrolling through it would see it.
void browseEverything(EmojiBrowserWindowController& controller) {
    EmojiBrowserGrid* grid = controller.panel()->view()->grid();
    QScrollBar* bar = grid->verticalScrollBar();
    for (int y = 0; y < bar->maximum() + bar->pageStep(); y += bar->pageStep()) {
        bar->setValue(y);
        grid->viewport()->repaint();
    }
}

double residentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
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
    double prepareCallMs = 0;     // the call itself, before the idle slices
    int renderedAhead = 0;
    for (auto _ : state) {
        state.PauseTiming();
        EmojiBrowserWindowController controller(noActivation());
        bool prepared = false;
        QObject::connect(&controller, &EmojiBrowserWindowController::prepared, [&] { prepared = true; });
        QElapsedTimer total;
        total.start();
        controller.prepare(catalogue());
        prepareCallMs = std::max(prepareCallMs, double(total.nsecsElapsed()) / 1e6);
        while (!prepared && total.elapsed() < 30000) {
            QElapsedTimer slice;
            slice.start();
            const double cpuBefore = threadCpuMs();
            QCoreApplication::processEvents();
            longestSliceMs = std::max(longestSliceMs, double(slice.nsecsElapsed()) / 1e6);
            longestSliceCpuMs = std::max(longestSliceCpuMs, threadCpuMs() - cpuBefore);
        }
        prepareMs = std::max(prepareMs, double(total.nsecsElapsed()) / 1e6);
        renderedAhead = controller.panel()->view()->grid()->renderedEmojiCount();
        state.ResumeTiming();
        openAndPaint(controller);
        state.PauseTiming();
        controller.cancel();
        state.ResumeTiming();
    }
    state.counters["prepare_ms"] = prepareMs;
    state.counters["longest_slice_ms"] = longestSliceMs;
    state.counters["longest_slice_cpu_ms"] = longestSliceCpuMs;
    state.counters["prepare_call_ms"] = prepareCallMs;
    state.counters["rendered_ahead"] = renderedAhead;
}
BENCHMARK(BM_BrowserFirstOpenPrepared)->Unit(benchmark::kMillisecond);

// Closing and opening the kept window again.
void BM_BrowserLaterOpen(benchmark::State& state) {
    EmojiBrowserWindowController controller(noActivation());
    openAndPaint(controller);
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

// The worst later opening: the last session scrolled through the whole catalogue, so the first
// screen was dropped from the cache and is rendered again.
void BM_BrowserLaterOpenAfterBrowsingAll(benchmark::State& state) {
    EmojiBrowserWindowController controller(noActivation());
    for (auto _ : state) {
        state.PauseTiming();
        openAndPaint(controller);
        browseEverything(controller);
        controller.cancel();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        openAndPaint(controller);
        state.PauseTiming();
        controller.cancel();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BrowserLaterOpenAfterBrowsingAll)->Unit(benchmark::kMillisecond);

// One typed key of the search line: the model searches, the grid relayouts and repaints.
// Cycles through typing "tada", deleting it, then a one-letter query with 400 results.
void BM_BrowserSearchKeystroke(benchmark::State& state) {
    EmojiBrowserWindowController controller(noActivation());
    openAndPaint(controller);
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

// The worst keystroke: a one-letter query (400 results) right after the first opening, so every
// visible cell is rendered into the cache first.
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

// Scrolling the whole section stack by one page and back, every cell already cached.
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

// Scrolling down by one page into cells never painted before, each rendered as it comes into
// view: one iteration is one page, so its time is that of a frame while browsing. Counters: the
// emoji kept once the whole catalogue has been seen, and the process's resident memory then.
void BM_BrowserScrollPageUncached(benchmark::State& state) {
    EmojiBrowserWindowController controller(noActivation());
    openAndPaint(controller);
    state.counters["rss_mb_opened"] = residentMb();
    EmojiBrowserGrid* grid = controller.panel()->view()->grid();
    QScrollBar* bar = grid->verticalScrollBar();
    for (auto _ : state) {
        if (bar->value() >= bar->maximum()) {
            state.PauseTiming();
            controller.cancel();
            openAndPaint(controller); // back at the top, long dropped from the cache
            state.ResumeTiming();
        }
        bar->setValue(bar->value() + bar->pageStep());
        grid->viewport()->repaint();
    }
    state.counters["cached_emoji"] = grid->cachedEmojiCount();
    browseEverything(controller);
    state.counters["rss_mb_after_all"] = residentMb();
    controller.cancel();
}
BENCHMARK(BM_BrowserScrollPageUncached)->Unit(benchmark::kMillisecond);

// ---- Sticker picker ----------------------------------------------------------------------------

// The shipped sticker catalogue. Previews are never loaded here (no loader): every cell paints its
// emoji, which is what the user sees before the first animations arrive.
const QList<StickerEntry>& stickerCatalogue() {
    static const QList<StickerEntry> entries = [] {
        QFile file(QStringLiteral(":/pimsel/stickers.json"));
        return file.open(QIODevice::ReadOnly) ? sticker_catalog::decode(file.readAll())
                                              : QList<StickerEntry>();
    }();
    return entries;
}

void openPicker(StickerPickerWindowController& controller) {
    controller.model().loadStickers(stickerCatalogue());
    controller.show();
    QCoreApplication::processEvents();
    controller.panel()->repaint();
}

// A new controller each time: the window is made, laid out and painted for the first time.
void BM_PickerFirstOpen(benchmark::State& state) {
    for (auto _ : state) {
        StickerPickerWindowController controller({}, noActivation());
        openPicker(controller);
        state.PauseTiming();
        controller.finish(std::nullopt);
        state.ResumeTiming();
    }
    state.SetLabel(std::to_string(stickerCatalogue().size()) + " stickers");
}
BENCHMARK(BM_PickerFirstOpen)->Unit(benchmark::kMillisecond);

// "/sticker" again: the model reloaded and the kept window shown and painted.
void BM_PickerLaterOpen(benchmark::State& state) {
    StickerPickerWindowController controller({}, noActivation());
    openPicker(controller);
    controller.finish(std::nullopt);
    for (auto _ : state) {
        openPicker(controller);
        state.PauseTiming();
        controller.finish(std::nullopt);
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PickerLaterOpen)->Unit(benchmark::kMillisecond);

// One typed key of the picker's query: the model re-ranks the catalogue, the search row and the
// grid repaint. Cycles through typing "party", deleting it, and a one-letter query.
void BM_PickerSearchKeystroke(benchmark::State& state) {
    StickerPickerWindowController controller({}, noActivation());
    openPicker(controller);
    StickerPickerModelDriving& model = controller.model();
    StickerPickerView* view = controller.panel()->view();
    const QStringList keys = {"p", "a", "r", "t", "y", "", "", "", "", "", "f", ""};
    qsizetype step = 0;
    for (auto _ : state) {
        const QString& key = keys[step++ % keys.size()];
        if (key.isEmpty())
            model.deleteBackward();
        else
            model.appendToQuery(key);
        view->repaint();
    }
    controller.finish(std::nullopt);
}
BENCHMARK(BM_PickerSearchKeystroke)->Unit(benchmark::kMicrosecond);

// A user who scrolls through the whole catalogue: every sticker's preview loaded, each a full
// 48-frame animation at the cell's size. The pool keeps what was painted last within its budget.
void BM_PickerWholeCataloguePreviews(benchmark::State& state) {
    const double before = residentMb();
    for (auto _ : state) {
        const auto pool = std::make_shared<PreviewFramePool>(PreviewSizes{}.animationBudgetBytes);
        QList<StickerPreview> previews;
        for (const StickerEntry& entry : stickerCatalogue()) {
            StickerPreview preview;
            QImage frame(60, 60, QImage::Format_ARGB32_Premultiplied);
            frame.fill(Qt::transparent);
            for (int i = 0; i < StickerPreview::defaultMaxFrames; ++i) {
                preview.frames.append(frame.copy());
                preview.delaysMs.append(40);
            }
            preview.durationMs = 40 * StickerPreview::defaultMaxFrames;
            preview.path = entry.fileName;
            preview.maxSide = 60;
            pool->adopt(preview);
            previews.append(preview);
        }
        state.counters["held_mb"] = pool->heldBytes() / 1048576.0;
        state.counters["rss_mb_growth"] = residentMb() - before;
    }
}
BENCHMARK(BM_PickerWholeCataloguePreviews)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
