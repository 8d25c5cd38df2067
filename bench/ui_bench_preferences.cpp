// The preferences window: its first opening (window and all five panes made), a later opening
// of the kept window, and a switch between panes, each up to the first paint.
#include "app/preferences_window_controller.h"
#include "engine/emoji_store.h"
#include "engine/settings_store.h"
#include "platform/permissions_controller.h"
#include "ui/preferences_view.h"

#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

using namespace pimsel;

namespace {

struct Services {
    QTemporaryDir dir;
    QSettings ini{dir.filePath(QStringLiteral("pimsel.ini")), QSettings::IniFormat};
    SettingsStore settings{&ini};
    PermissionsController permissions{{[] { return true; }, [] { return true; }, {}, {}, {}, {}}};
    EmojiStore emoji{&ini};
};

void openAndPaint(PreferencesWindowController& controller) {
    controller.show();
    QCoreApplication::processEvents();
    controller.window()->repaint();
}

void close(PreferencesWindowController& controller) {
    controller.window()->close();
    QCoreApplication::processEvents();
}

// Counter: the very first opening in this process, before any font or style was loaded.
void BM_PreferencesFirstOpen(benchmark::State& state) {
    Services services;
    double coldMs = -1;
    for (auto _ : state) {
        PreferencesWindowController controller(services.settings, services.permissions, services.emoji,
                                               nullptr);
        QElapsedTimer clock;
        clock.start();
        openAndPaint(controller);
        if (coldMs < 0)
            coldMs = double(clock.nsecsElapsed()) / 1e6;
        state.PauseTiming();
        close(controller);
        state.ResumeTiming();
    }
    state.counters["first_in_process_ms"] = coldMs;
}
BENCHMARK(BM_PreferencesFirstOpen)->Unit(benchmark::kMillisecond);

void BM_PreferencesLaterOpen(benchmark::State& state) {
    Services services;
    PreferencesWindowController controller(services.settings, services.permissions, services.emoji, nullptr);
    openAndPaint(controller);
    close(controller);
    for (auto _ : state) {
        openAndPaint(controller);
        state.PauseTiming();
        close(controller);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PreferencesLaterOpen)->Unit(benchmark::kMillisecond);

// One click in the sidebar, cycling through the five panes, up to the painted window.
void BM_PreferencesPaneSwitch(benchmark::State& state) {
    Services services;
    PreferencesWindowController controller(services.settings, services.permissions, services.emoji, nullptr);
    openAndPaint(controller);
    int next = 1;
    for (auto _ : state) {
        controller.view()->sidebarButton(static_cast<PreferencesView::Section>(next % 5))->click();
        controller.window()->repaint();
        ++next;
    }
    close(controller);
}
BENCHMARK(BM_PreferencesPaneSwitch)->Unit(benchmark::kMillisecond);

} // namespace
