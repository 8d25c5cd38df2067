// Input hook latency on a live X display (run it inside tests/e2e/desktop-session.sh):
//   raw key -> handler on the main thread, and grabbed key -> decision -> replay into a window.
// Each benchmark reports the p50 and p95 of its iterations as counters (milliseconds).
// Without a display it reports that and runs nothing.
#include "platform/event_tap_manager.h"
#include "tests/e2e/support/typist.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A window that notes when a key reaches it, as any application would see it.
class Sink : public QWidget {
public:
    QEventLoop* loop = nullptr;
    int waitingFor = 0;
    Clock::time_point arrived;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == waitingFor) {
            arrived = Clock::now();
            if (loop)
                loop->quit();
        }
    }
};

class TimingHandler : public pimsel::InputEventHandler {
public:
    pimsel::SwallowableKeys keys;
    QEventLoop* loop = nullptr;
    pimsel::KeyAction waitingFor = pimsel::KeyAction::text;
    Clock::time_point handled;

    bool handleEvent(const pimsel::InputEvent& event) override {
        if (event.type == pimsel::InputEvent::Type::keyDown && event.action == waitingFor) {
            handled = Clock::now();
            if (loop)
                loop->quit();
        }
        return false;
    }
    pimsel::SwallowableKeys swallowableKeys() const override { return keys; }
};

struct Rig {
    Rig() {
        sink.resize(200, 100);
        sink.show();
        QApplication::processEvents();
        sink.activateWindow();
        tap.setHandler(&handler);
        ok = typist.isReady() && tap.start();
        for (int i = 0; i < 50 && !sink.isActiveWindow(); ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(10);
        }
        ok = ok && typist.focus(static_cast<xcb_window_t>(sink.winId()));
    }
    pimsel::e2e::Typist typist;
    TimingHandler handler;
    pimsel::EventTapManager tap;
    Sink sink;
    bool ok = false;
};

// Built on first use, torn down in main() while the application object still exists.
std::unique_ptr<Rig> theRig;
Rig& rig() {
    if (!theRig)
        theRig = std::make_unique<Rig>();
    return *theRig;
}

void reportPercentiles(benchmark::State& state, std::vector<double>& samples) {
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[std::min(samples.size() - 1, std::size_t(q * samples.size()))];
    };
    state.counters["p50_ms"] = at(0.50) * 1e3;
    state.counters["p95_ms"] = at(0.95) * 1e3;
    state.counters["max_ms"] = samples.back() * 1e3;
}

// Runs `loop` until it is quit or 1 s passed; false on time-out.
bool waitIn(QEventLoop& loop) {
    bool timedOut = false;
    QTimer::singleShot(1000, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    loop.exec();
    return !timedOut;
}

void BM_RawKeyToHandler(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ok) {
        state.SkipWithError("no X display with XInput 2.2 and XTEST");
        return;
    }
    r.handler.keys = {};
    r.tap.refreshGrabs();
    r.handler.waitingFor = pimsel::KeyAction::text;
    std::vector<double> samples;
    for (auto _ : state) {
        QEventLoop loop;
        r.handler.loop = &loop;
        const auto sent = Clock::now();
        r.typist.sendKey("a", true);
        if (!waitIn(loop)) {
            state.SkipWithError("key never reached the handler");
            break;
        }
        const double seconds = std::chrono::duration<double>(r.handler.handled - sent).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds);
        r.typist.sendKey("a", false);
        r.typist.sync();
    }
    r.handler.loop = nullptr;
    reportPercentiles(state, samples);
}
BENCHMARK(BM_RawKeyToHandler)->UseManualTime()->Iterations(400)->Unit(benchmark::kMicrosecond);

// Key press sent -> grab -> handler passes -> replayed -> the window has it.
void BM_GrabbedKeyReplayedToWindow(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ok) {
        state.SkipWithError("no X display with XInput 2.2 and XTEST");
        return;
    }
    r.handler.keys = {};
    r.handler.keys.insert(pimsel::KeyAction::escape);
    r.tap.refreshGrabs();
    if (r.tap.heldGrabCount() == 0) {
        state.SkipWithError("Escape is not grabbed");
        return;
    }
    r.handler.loop = nullptr;
    r.sink.waitingFor = Qt::Key_Escape;
    std::vector<double> samples;
    for (auto _ : state) {
        QEventLoop loop;
        r.sink.loop = &loop;
        const auto sent = Clock::now();
        r.typist.sendKey("Escape", true);
        if (!waitIn(loop)) {
            state.SkipWithError("the replayed key never reached the window");
            break;
        }
        const double seconds = std::chrono::duration<double>(r.sink.arrived - sent).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds);
        r.typist.sendKey("Escape", false);
        r.typist.sync();
    }
    r.sink.loop = nullptr;
    reportPercentiles(state, samples);
}
BENCHMARK(BM_GrabbedKeyReplayedToWindow)->UseManualTime()->Iterations(400)->Unit(benchmark::kMicrosecond);

// The same key with no grab held: what the window sees without the hook in the way.
void BM_UngrabbedKeyToWindow(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ok) {
        state.SkipWithError("no X display with XInput 2.2 and XTEST");
        return;
    }
    r.handler.keys = {};
    r.tap.refreshGrabs();
    r.sink.waitingFor = Qt::Key_Escape;
    std::vector<double> samples;
    for (auto _ : state) {
        QEventLoop loop;
        r.sink.loop = &loop;
        const auto sent = Clock::now();
        r.typist.sendKey("Escape", true);
        if (!waitIn(loop)) {
            state.SkipWithError("the key never reached the window");
            break;
        }
        const double seconds = std::chrono::duration<double>(r.sink.arrived - sent).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds);
        r.typist.sendKey("Escape", false);
        r.typist.sync();
    }
    r.sink.loop = nullptr;
    reportPercentiles(state, samples);
}
BENCHMARK(BM_UngrabbedKeyToWindow)->UseManualTime()->Iterations(400)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("input benchmarks need an X display; run them inside tests/e2e/desktop-session.sh\n");
        return 0;
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theRig.reset();
    return 0;
}
