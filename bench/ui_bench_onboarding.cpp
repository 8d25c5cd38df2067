// The onboarding window's openings: the first, which builds the window, and a later one, which
// shows the kept window again. Each is timed to the end of its first full paint.
#include "app/onboarding_window_controller.h"
#include "platform/permissions_controller.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QWidget>

#include <optional>

using namespace pimsel;

namespace {

// Both permissions missing: every row shows its buttons and its note, the most there is to lay out.
PermissionsController::Probes nothingGranted() {
    return {[] { return false; }, [] { return false; }, {}, {}, {}, {}};
}

void openAndPaint(OnboardingWindowController& controller) {
    controller.show();
    QCoreApplication::processEvents();
    controller.window()->repaint();
}

void BM_OnboardingFirstOpen(benchmark::State& state) {
    PermissionsController permissions(nothingGranted());
    std::optional<OnboardingWindowController> controller;
    for (auto _ : state) {
        state.PauseTiming();
        controller.reset();
        state.ResumeTiming();
        controller.emplace(permissions, nullptr);
        openAndPaint(*controller);
    }
}
// Its single-iteration form, run alone (--benchmark_filter=BM_OnboardingFirstOpen/iterations:1),
// is the very first opening in a process: no window made and no font loaded yet.
BENCHMARK(BM_OnboardingFirstOpen)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnboardingFirstOpen)->Unit(benchmark::kMillisecond);

void BM_OnboardingLaterOpen(benchmark::State& state) {
    PermissionsController permissions(nothingGranted());
    OnboardingWindowController controller(permissions, nullptr);
    openAndPaint(controller);
    for (auto _ : state) {
        state.PauseTiming();
        controller.window()->hide();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        openAndPaint(controller);
    }
}
BENCHMARK(BM_OnboardingLaterOpen)->Unit(benchmark::kMillisecond);

} // namespace
