#pragma once

// Fakes of the coordinator's ports, noting what each was asked in one shared log, in order.

#include "engine/autocomplete_coordinator.h"
#include "engine/command_detector.h"
#include "engine/emoji_search_engine.h"
#include "engine/ports.h"
#include "engine/settings_store.h"
#include "engine/token_buffer.h"

#include "tests/support/files.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <utility>

namespace pimsel::fakes {

inline const QString messagingApp = "org.signal.Signal";

// What the fakes were asked, in order, and what went wrong on the way.
struct Log {
    QStringList effects, violations;
    bool keyClaimed = false; // the hook holds a key the coordinator claimed
};

struct Recording {
    Log* log = nullptr;
    void note(const QString& what) const { log->effects << what; }
    // Slow work while a claimed key is held makes the keyboard wait.
    void slow(const QString& what) const {
        if (log->keyClaimed)
            log->violations << what + " while a claimed key was held";
    }
};

// The emoji and the sticker catalogue, whose uses it notes alike.
class FakeStore : public EmojiProviding, public StickerProviding, public Recording {
public:
    // Small enough to reason about the rankings by hand; the family claims tones it cannot take.
    FakeStore() {
        for (const char* spec : {"😄 smile", "😃 smiley", "😺 smiley_cat", "👍 +1 tones", "👋 wave tones",
                                 "🎉 tada", "👨‍👩‍👧 family tones", "☕ café", "✌️ v tones"}) {
            const QStringList word = QString::fromUtf8(spec).split(' ');
            m_entries << EmojiEntry{word[0], word[1], {word[1]}, "Test", word.size() > 2, 0};
        }
        m_index = SearchIndex::build(m_entries);
        for (const char* id : {"parrot", "wave"})
            catalogue << StickerEntry{id, {}, {}, {}, catalogue.isEmpty(), false, 0, {}, {}};
    }
    const QList<EmojiEntry>& entries() const override { return m_entries; }
    const SearchIndex& searchIndex() const override { return m_index; }
    QList<StickerEntry> stickers() const override { return catalogue; }
    void recordUse(const QString& emojiOrSticker) override {
        slow("use count written");
        note("record " + emojiOrSticker);
    }
    void fetchFile(const StickerEntry& entry, std::function<void(std::optional<QUrl>)> completion) override {
        note("fetch " + entry.id);
        pending = std::move(completion);
    }
    void setUseCount(const char* emoji, int count) {
        for (EmojiEntry& entry : m_entries) {
            if (entry.emoji == QString::fromUtf8(emoji))
                entry.useCount = count;
        }
    }

    QList<StickerEntry> catalogue; // the parrot is animated
    std::function<void(std::optional<QUrl>)> pending;

private:
    QList<EmojiEntry> m_entries;
    SearchIndex m_index;
};

class FakeDesktop : public FocusContextProviding,
                    public AppExclusionChecking,
                    public FrontmostApplicationProviding,
                    public Recording {
public:
    bool isSecureFieldFocused() override { return ++secureQueries, secure; }
    bool isSecureFieldFocusedRemembered() override {
        return remembered ? ++secureQueries, *remembered : isSecureFieldFocused();
    }
    void setFieldTurnedSecureHandler(std::function<void()> handler) override {
        turnedSecure = std::move(handler);
    }
    std::optional<QRect> caretRect() override {
        slow("caret query");
        return ++caretQueries, caret;
    }
    std::optional<QUrl> currentBrowserURL() override { return ++urlQueries, url; }
    std::optional<QString> textBeforeCaret(int count) override {
        ++beforeQueries;
        return before ? std::optional(before->right(count)) : std::nullopt;
    }
    void setFocusMovedHandler(std::function<void()> handler) override { focusMoved = std::move(handler); }
    std::optional<QString> frontmostApplicationId() const override { return appId; }
    std::optional<quint64> frontmostWindow() const override { return window; }
    bool isAppExcluded(const std::optional<QString>& app) const override {
        return app && excludedApps.contains(*app);
    }
    bool shouldCheckSite(const std::optional<QString>& app) const override {
        return app && browsers.contains(*app);
    }
    bool isSiteDisabled(const std::optional<QString>& host) const override {
        return host && disabledHosts.contains(*host);
    }

    bool secure = false;
    std::optional<QRect> caret = QRect(400, 300, 2, 16);
    std::optional<QUrl> url;
    std::optional<QString> before; // the field's text before the caret
    std::function<void()> focusMoved, turnedSecure;
    std::optional<bool> remembered; // an earlier answer about the field, where the desktop keeps one
    std::optional<QString> appId = "org.example.Editor";
    std::optional<quint64> window = 1;
    QSet<QString> excludedApps, browsers, disabledHosts;
    int secureQueries = 0, caretQueries = 0, urlQueries = 0, beforeQueries = 0;
};

// Like a real window it answers hit tests by its geometry, shown or not.
class FakeSuggestions : public SuggestionPresenting {
public:
    void show(const QList<EmojiEntry>& results, int selectedIndex, const std::optional<QRect>& anchorRect,
              const QString& triggerText) override {
        shown = results;
        selected = selectedIndex;
        anchor = anchorRect;
        trigger = triggerText;
        visible = true;
    }
    void hide() override { visible = false; }
    void updateSelection(int row) override { selected = row; }
    void showToneVariants(const QStringList& variants, int highlighted) override {
        toneCount = static_cast<int>(variants.size());
        toneHighlight = highlighted;
    }
    void hideToneVariants() override { toneCount = 0, toneHighlight = -1; }
    bool containsGlobalPoint(const QPoint& point) const override { return geometry.contains(point); }
    void setCallbacks(SuggestionCallbacks c) override { callbacks = std::move(c); }

    bool visible = false;
    int selected = -1, toneCount = 0, toneHighlight = -1;
    QList<EmojiEntry> shown;
    std::optional<QRect> anchor;
    QString trigger;
    QRect geometry{400, 320, 240, 180};
    SuggestionCallbacks callbacks;
};

// The browser and the picker: each is its own model, keeps the query, notes the rest and reports a
// close as a dismissal at once, as the windows do.
template <typename Presenting, typename Model, typename Callbacks, typename Entry, QString Entry::*name>
class FakePanel : public Presenting, public Model, public Recording {
public:
    explicit FakePanel(QString prefix)
        : m_prefix(std::move(prefix)) {}
    Model& model() override { return *this; }
    void setCallbacks(Callbacks c) override { callbacks = std::move(c); }
    void appendToQuery(const QString& text) override { currentQuery += text; }
    void deleteBackward() override { currentQuery.chop(1); }
    void moveSelection(MoveDirection direction) override {
        note(m_prefix + "move " + QLatin1Char("lrud"[static_cast<int>(direction)]));
    }
    std::optional<Entry> selectedEntry() const override { return selected; }
    void refresh() override { note(m_prefix + "refresh"); }
    QString query() const override { return currentQuery; }
    void setQuery(const QString& query) override { currentQuery = query; }
    void pick(const Entry& entry) override { note(m_prefix + "pick " + entry.*name); }
    void close() override { note(m_prefix + "close"), callbacks.onDismiss(); }

    QString currentQuery;
    std::optional<Entry> selected;
    Callbacks callbacks;

private:
    QString m_prefix;
};

class FakeBrowser : public FakePanel<EmojiBrowserPresenting, EmojiBrowserModelDriving, EmojiBrowserCallbacks,
                                     EmojiEntry, &EmojiEntry::emoji> {
public:
    FakeBrowser()
        : FakePanel("browser ") {}
    void show(const QList<EmojiEntry>& entries) override {
        slow("browser opened");
        note(QString("browser show %1").arg(entries.size()));
    }
};

class FakePicker : public FakePanel<StickerPickerPresenting, StickerPickerModelDriving,
                                    StickerPickerCallbacks, StickerEntry, &StickerEntry::id> {
public:
    FakePicker()
        : FakePanel("picker ") {}
    void loadStickers(const QList<StickerEntry>& stickers) override {
        note(QString("picker stickers %1").arg(stickers.size()));
    }
    // Searches at once, so the log shows which search function the picker was handed.
    void loadRemote(const QString& commandText, GiphySearch search) override {
        note("picker remote " + commandText), search(commandText, {});
    }
    void show() override {
        slow("picker opened");
        note("picker show");
    }
    void orderOut() override {
        note("picker orderOut");
        if (dismissOnOrderOut)
            callbacks.onDismiss(); // a window that reports every close as a dismissal
    }
    bool dismissOnOrderOut = false;
};

// What reaches the application; each insertion completes on request (<done>).
class FakeOutput : public TokenReplacing, public StickerInserting, public BackspacePosting, public Recording {
public:
    void replaceToken(int eraseCount, const QString& text, std::function<void()> completion) override {
        note(QString("insert %1 %2").arg(eraseCount).arg(text));
        pending = std::move(completion);
    }
    void insert(const QUrl& file, bool isAnimated, int eraseCount,
                std::function<void()> completion) override {
        note(QString("sticker %1 %2 %3")
                 .arg(file.fileName(), isAnimated ? "animated" : "still")
                 .arg(eraseCount));
        pending = std::move(completion);
    }
    void pressBackspace(int count) override { note(QString("backspace %1").arg(count)); }
    std::function<void()> pending = [] {};
};

// A coordinator over fakes, driven by a script. Violations: a key swallowed outside the grab set,
// ungrabbed (<ungrabbed>) or already passed on (<late>); slow work while a claimed key is held; an
// unannounced grab set; a popover that disagrees with the coordinator once the loop had a turn.
class Harness : public Log {
public:
    explicit Harness(bool gifClient = true)
        : defaults(dir.filePath("settings.ini"), QSettings::IniFormat)
        , settings(&defaults)
        , tokenBuffer([this] { return settings.triggerCharacter(); }) {
        for (Recording* r : std::initializer_list<Recording*>{&store, &desktop, &browser, &picker, &output})
            r->log = this;
        GiphySearch search;
        if (gifClient)
            search = [this](const QString& query, GiphySearchCompletion) {
                effects << "gif search " + query;
            };
        coordinator = std::make_unique<AutocompleteCoordinator>(
            settings, store, tokenBuffer, desktop, desktop, suggestions, browser, output, desktop, output,
            stickerDetector, giphyDetector, QSet<QString>{messagingApp},
            StickerServices{&store, &picker, &output, search});
        announced = coordinator->swallowableKeys();
        coordinator->setCatchUp([this] {
            // The hook hands over what it has read; the event loop has no turn in between.
            const bool wasBusy = std::exchange(busy, true);
            for (const QString& key : std::exchange(unread, {}))
                send(key == " " ? InputEvent::keyDown(KeyAction::space)
                                : InputEvent::keyDown(KeyAction::text, key));
            busy = wasBusy;
        });
        QObject::connect(coordinator.get(), &AutocompleteCoordinator::swallowableKeysChanged,
                         coordinator.get(), [this] { announced = coordinator->swallowableKeys(); });
        QObject::connect(&settings, &SettingsStore::skinToneChanged, &settings, [this] {
            const Recording written{this};
            written.slow("default tone written");
            written.note(QString("default tone %1").arg(position(settings.skinTone())));
        });
    }

    // Plain characters are one text key each (' ' is the Space key); {text} is one text key;
    // <name>, <name:arg> and <name*count> are keys, clicks, callbacks and changes of the
    // surroundings (see once()). Returns one mark per event: 'S' swallowed, '.' passed.
    QString run(const QString& script) {
        QString marks;
        for (qsizetype i = 0; i < script.size(); ++i) {
            const QChar ch = script[i];
            const qsizetype end = ch == '{' ? script.indexOf('}', i) : ch == '<' ? script.indexOf('>', i) : i;
            const QString inner = script.mid(i + 1, end - i - 1);
            if (ch == '<') {
                const QString name = inner.section(':', 0, 0).section('*', 0, 0);
                for (int n = std::max(1, inner.section(':', 0, 0).section('*', 1).toInt()); n > 0; --n)
                    marks += once(name, inner.section(':', 1));
            } else {
                marks += mark(send(ch == ' ' ? InputEvent::keyDown(KeyAction::space)
                                             : InputEvent::keyDown(KeyAction::text, ch == '{' ? inner : ch)));
            }
            i = end;
        }
        return marks;
    }

    // What the user would see and what is in progress.
    QString state() const {
        QStringList parts;
        const AutocompleteCoordinator& c = *coordinator;
        if (c.isInserting())
            parts << "inserting";
        if (c.isBrowserActive())
            parts << QString("browser '%1'").arg(browser.currentQuery);
        if (c.isStickerSearchActive())
            parts << QString("%1 %2 '%3'")
                         .arg(c.isGiphyActive() ? "gifs" : "stickers")
                         .arg(c.pendingCommandLength())
                         .arg(picker.currentQuery);
        if (suggestions.visible)
            parts << QString("panel %1 @%2")
                             .arg(pimsel::testing::collect(suggestions.shown, &EmojiEntry::emoji).join(' '))
                             .arg(suggestions.selected) +
                         (suggestions.toneCount ? QString(" tone %1").arg(suggestions.toneHighlight)
                                                : QString());
        if (const std::optional<ColonToken> token = tokenBuffer.currentToken())
            parts << "token " + token->raw;
        return parts.isEmpty() ? "idle" : parts.join(", ");
    }

    QString grabs() const {
        const SwallowableKeys keys = coordinator->swallowableKeys();
        QStringList parts;
        for (int action = 0; action < keyNames.size(); ++action) {
            if (action == 0 ? keys.anyText : keys.contains(static_cast<KeyAction>(action)))
                parts << keyNames[action];
        }
        return (parts << keys.triggerText).join(' ').trimmed();
    }

    void check(const QString& where) {
        if (!(coordinator->swallowableKeys() == announced))
            violations << "grab set changed without an announcement: " + where;
        const AutocompleteCoordinator& c = *coordinator;
        if (busy)
            return; // the popover is drawn when the event loop gets a turn
        if (c.isPanelActive() != suggestions.visible ||
            (c.isPanelActive() &&
             (c.results() != suggestions.shown || c.selectedIndex() != suggestions.selected)))
            violations << "the popover shows something else than the coordinator holds: " + where;
    }

    bool send(InputEvent event) {
        check("before an event");
        bool passedOnMeanwhile = false;
        if (event.type == InputEvent::Type::keyDown) {
            event.canSwallow = !std::exchange(nextUngrabbed, false);
            if (std::exchange(nextLate, false))
                event.hold = [&passedOnMeanwhile] { return !(passedOnMeanwhile = true); };
            else if (event.canSwallow)
                event.hold = [this] { return keyClaimed = true; };
        }
        const SwallowableKeys before = coordinator->swallowableKeys();
        const bool swallowed = coordinator->handleEvent(event);
        keyClaimed = false; // the hook has the answer
        const QString key = keyNames[int(event.action)] + event.text;
        if (swallowed && passedOnMeanwhile)
            violations << "swallowed a key the hook had passed on: " + key;
        if (swallowed && !before.mayContain(event))
            violations << "swallowed outside the grab set: " + key;
        if (swallowed && !event.canSwallow)
            violations << "swallowed a key no grab held: " + key;
        settle();
        check("after an event");
        return swallowed;
    }

    // The event loop's turn between two events.
    void settle() {
        if (!busy)
            QCoreApplication::sendPostedEvents(coordinator.get(), QEvent::MetaCall);
    }

    QTemporaryDir dir;
    QSettings defaults;
    SettingsStore settings;
    FakeStore store;
    TokenBuffer tokenBuffer;
    FakeDesktop desktop;
    FakeSuggestions suggestions;
    FakeBrowser browser;
    FakeOutput output;
    StickerCommandDetector stickerDetector{"/sticker"};
    StickerCommandDetector giphyDetector{"/gif"};
    FakePicker picker;
    std::unique_ptr<AutocompleteCoordinator> coordinator;

    SwallowableKeys announced;
    bool nextUngrabbed = false;
    // Keys the hook has read but not handed over (<unread:keys>): they come on the next catch-up.
    QStringList unread;
    bool nextLate = false;
    // <busy>…<idle>: keys that arrive while the main thread is busy, handled one after another with
    // no turn of the event loop in between.
    bool busy = false;

    static inline const QStringList keyNames{"text",  "bs", "wbs",  "tab",  "ret",   "esc",
                                             "space", "up", "down", "left", "right", "mod"};

private:
    static QString mark(bool swallowed) { return swallowed ? "S" : "."; }

    QString once(const QString& name, const QString& arg) {
        const int n = arg.toInt();
        const auto waitForTimers = [] { // the dismissal erase waits 0.12 s
            QEventLoop loop;
            QTimer::singleShot(400, &loop, &QEventLoop::quit);
            loop.exec();
        };
        const QHash<QString, std::function<void()>> steps{
            {"pick", [&] { suggestions.callbacks.onPick(n); }},
            {"hover", [&] { suggestions.callbacks.onHover(n); }},
            {"tone", [&] { suggestions.callbacks.onPickTone(n); }},
            {"bpick", [&] { browser.callbacks.onPick(store.entries()[n]); }},
            {"spick", [&] { picker.callbacks.onPick(store.catalogue[n]); }},
            {"select", [&] { browser.selected = store.entries()[n], picker.selected = store.catalogue[n]; }},
            {"fetched", [&] { store.pending(QUrl::fromLocalFile("/s/f.webp")); }},
            {"nofile", [&] { store.pending(std::nullopt); }},
            {"done", [&] { std::exchange(output.pending, [] {})(); }},
            {"cancel", [&] { coordinator->cancel(); }},
            {"window", [&] { desktop.window = n ? std::optional<quint64>(n) : std::nullopt; }}, // 0: none
            {"field", [&] { desktop.before = arg; }},
            {"ungrabbed", [&] { nextUngrabbed = true; }},
            {"late", [&] { nextLate = true; }},
            {"busy", [&] { busy = true; }},
            {"idle", [&] { busy = false; }},
            {"unread", [&] { unread += arg.split(QString(), Qt::SkipEmptyParts); }},
            {"off", [&] { settings.setEnabled(false); }},
            {"secure", [&] { desktop.secure = true; }},
            // The focus moved on to an ordinary field holding `arg` before its caret, and the
            // application says so (moved) or never does (unannounced).
            {"moved", [&] { run("<unannounced:" + arg + "><announce>"); }},
            {"unannounced", [&] { desktop.secure = false, desktop.before = arg; }},
            // The field turns into a password field without telling: the earlier answer stays
            // until the check behind the keys finds out, at "found".
            {"turns", [&] { desktop.secure = true, desktop.remembered = false; }},
            {"found", [&] { desktop.turnedSecure(); }},
            {"announce", [&] { (desktop.focusMoved ? desktop.focusMoved : [] {})(); }},
            {"exclude", [&] { desktop.excludedApps << *desktop.appId; }},
            {"app", [&] { desktop.appId = arg == "signal" ? messagingApp : arg; }},
            {"wait", waitForTimers},
        };
        if (const qsizetype key = keyNames.indexOf(name); key > 0)
            return mark(send(InputEvent::keyDown(static_cast<KeyAction>(key))));
        if (name == "click" || name == "clickpop")
            return mark(
                send(InputEvent::mouseDown(name == "click" ? QPoint(5, 5) : suggestions.geometry.center())));
        steps.value(name, [this] { violations << "unknown step"; })();
        settle();
        check(name);
        return {};
    }
};

// One scripted run and what it should end in.
struct Script {
    const char* name;
    const char* script;
    const char* swallowed;       // Harness::run's marks; "" when it took no key at all
    const char* effects = "";    // the shared log, joined by " | "
    const char* state = nullptr; // Harness::state() at the end, unless null
    const char* grabs = nullptr; // Harness::grabs() at the end, unless null
    std::function<void(Harness&)> setup = {};
    bool gifClient = true;
};

inline void PrintTo(const Script& s, std::ostream* os) {
    *os << s.script;
}

// Every way the run differed from the script's expectations, and every violation on the way.
inline QStringList differences(const Script& s) {
    Harness h(s.gifClient);
    if (s.setup)
        s.setup(h);
    h.effects.clear();
    QStringList found;
    const auto compare = [&found](const char* what, const QString& actual, const char* expected) {
        if (expected && actual != QString::fromUtf8(expected))
            found << QStringLiteral("%1: expected \"%2\", got \"%3\"")
                         .arg(QLatin1String(what), QString::fromUtf8(expected), actual);
    };
    const QString marks = h.run(QString::fromUtf8(s.script));
    compare("swallowed", marks.contains('S') ? marks : QString(), s.swallowed);
    compare("effects", h.effects.join(" | "), s.effects);
    compare("state", h.state(), s.state);
    compare("grabs", h.grabs(), s.grabs);
    return found + h.violations;
}

} // namespace pimsel::fakes
