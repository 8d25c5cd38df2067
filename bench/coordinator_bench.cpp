// The coordinator runs inside the input hook for every keystroke: ordinary typing must stay
// cheap, and a letter inside a token pays for one search of the shipped catalogue.

#include "engine/autocomplete_coordinator.h"
#include "engine/emoji_store.h"
#include "tests/engine/coordinator_fakes.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

using namespace pimsel;
using namespace pimsel::fakes;

namespace {

// Real settings, catalogue, token buffer and detectors; every platform port faked.
struct Rig {
    QTemporaryDir dir;
    QSettings defaults{dir.filePath(QStringLiteral("bench.ini")), QSettings::IniFormat};
    SettingsStore settings{&defaults};
    EmojiStore store{&defaults};
    TokenBuffer tokenBuffer{[this] { return settings.triggerCharacter(); }};
    Log log;             // what the fakes were asked, never read here
    FakeDesktop desktop; // focus, exclusions and the frontmost application
    FakeSuggestions suggestions;
    FakeBrowser browser;
    FakeOutput output; // insertions and backspaces
    StickerCommandDetector stickerDetector{QStringLiteral("/sticker")};
    StickerCommandDetector giphyDetector{QStringLiteral("/gif")};
    FakeStore stickers;
    FakePicker picker;
    std::unique_ptr<AutocompleteCoordinator> coordinator;

    Rig() {
        for (Recording* r :
             std::initializer_list<Recording*>{&stickers, &desktop, &browser, &picker, &output})
            r->log = &log;
        store.reload({});
        // A typical set of exclusions, so the lookup is not of an empty set.
        desktop.excludedApps = {QStringLiteral("org.keepassxc.KeePassXC"),
                                QStringLiteral("org.gnome.Terminal"), QStringLiteral("org.kde.konsole"),
                                QStringLiteral("com.bitwarden.desktop")};
        coordinator = std::make_unique<AutocompleteCoordinator>(
            settings, store, tokenBuffer, desktop, desktop, suggestions, browser, output, desktop, output,
            stickerDetector, giphyDetector, QSet<QString>{messagingApp},
            StickerServices{&stickers, &picker, &output, [](const QString&, GiphySearchCompletion) {}});
    }
};

void BM_OrdinaryTyping(benchmark::State& state) {
    Rig rig;
    const QString sentence = QStringLiteral("thequickbrownfoxjumpsoverthelazydog");
    QList<InputEvent> keys;
    for (QChar ch : sentence)
        keys << InputEvent::keyDown(KeyAction::text, QString(ch));
    qsizetype next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rig.coordinator->handleEvent(keys[next]));
        next = (next + 1) % keys.size();
    }
    if (rig.tokenBuffer.isTokenOpen() || rig.suggestions.visible)
        state.SkipWithError("typing outside a token opened one");
}
BENCHMARK(BM_OrdinaryTyping);

// One letter extends the open token: search the whole catalogue, show the rows. The backspace
// that restores the token between iterations is not timed.
void BM_LetterInToken(benchmark::State& state, const char* token, const char* letter) {
    Rig rig;
    if (rig.store.entries().isEmpty()) {
        state.SkipWithError("the shipped catalogue is empty");
        return;
    }
    for (QChar ch : QString::fromUtf8(token))
        rig.coordinator->handleEvent(InputEvent::keyDown(KeyAction::text, QString(ch)));
    const InputEvent typed = InputEvent::keyDown(KeyAction::text, QString::fromUtf8(letter));
    const InputEvent backspace = InputEvent::keyDown(KeyAction::backspace);
    for (auto _ : state) {
        benchmark::DoNotOptimize(rig.coordinator->handleEvent(typed));
        // The rows are shown once the event loop has its turn.
        QCoreApplication::sendPostedEvents(rig.coordinator.get(), QEvent::MetaCall);
        state.PauseTiming();
        rig.coordinator->handleEvent(backspace);
        state.ResumeTiming();
    }
    rig.coordinator->handleEvent(typed); // the state each timed event ended in
    if (!rig.coordinator->isPanelActive())
        state.SkipWithError("the token found nothing");
    state.counters["rows"] = static_cast<double>(rig.coordinator->results().size());
}
BENCHMARK_CAPTURE(BM_LetterInToken, short_query, ":", "s");
BENCHMARK_CAPTURE(BM_LetterInToken, smil, ":smi", "l");
BENCHMARK_CAPTURE(BM_LetterInToken, thumbs_u, ":thumbs", "u");

} // namespace
