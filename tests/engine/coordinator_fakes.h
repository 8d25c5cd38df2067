#pragma once

// Recording fakes of every port the coordinator talks to, and a harness that wires them to a
// real coordinator, token buffer, detectors and settings store. Free of any test framework so
// that the benchmarks can drive the same set-up.

#include "engine/autocomplete_coordinator.h"
#include "engine/command_detector.h"
#include "engine/emoji_search_engine.h"
#include "engine/ports.h"
#include "engine/settings_store.h"
#include "engine/token_buffer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include <ostream>

// Readable failure messages for the many string comparisons.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace pimsel::fakes {

inline EmojiEntry makeEntry(const QString& emoji, const QString& name, const QStringList& aliases,
                            bool supportsSkinTones = false) {
    return EmojiEntry{emoji, name, aliases, QStringLiteral("Test"), supportsSkinTones, 0};
}

// Small enough to reason about the rankings by hand.
inline QList<EmojiEntry> sampleCatalogue() {
    return {
        makeEntry(QStringLiteral("😄"), QStringLiteral("grinning face with smiling eyes"),
                  {QStringLiteral("smile")}),
        makeEntry(QStringLiteral("😃"), QStringLiteral("grinning face with big eyes"),
                  {QStringLiteral("smiley")}),
        makeEntry(QStringLiteral("😺"), QStringLiteral("grinning cat"), {QStringLiteral("smiley_cat")}),
        makeEntry(QStringLiteral("👍"), QStringLiteral("thumbs up"),
                  {QStringLiteral("+1"), QStringLiteral("thumbsup")}, true),
        makeEntry(QStringLiteral("👋"), QStringLiteral("waving hand"), {QStringLiteral("wave")}, true),
        makeEntry(QStringLiteral("🎉"), QStringLiteral("party popper"), {QStringLiteral("tada")}),
        makeEntry(QStringLiteral("❤️"), QStringLiteral("red heart"), {QStringLiteral("heart")}),
        // Claims tones, but a ZWJ sequence cannot take a modifier.
        makeEntry(QStringLiteral("👨‍👩‍👧"), QStringLiteral("family man woman girl"),
                  {QStringLiteral("family_man_woman_girl")}, true),
        makeEntry(QStringLiteral("🤘"), QStringLiteral("sign of the horns"), {QStringLiteral("metal")},
                  true),
        makeEntry(QStringLiteral("☕"), QStringLiteral("hot beverage"), {QStringLiteral("café")}),
    };
}

class FakeEmojiStore : public EmojiProviding {
public:
    explicit FakeEmojiStore(QList<EmojiEntry> entries)
        : m_entries(std::move(entries))
        , m_index(SearchIndex::build(m_entries)) {}

    const QList<EmojiEntry>& entries() const override { return m_entries; }
    const SearchIndex& searchIndex() const override { return m_index; }
    void recordUse(const QString& emoji) override {
        recorded << emoji;
        for (EmojiEntry& entry : m_entries) {
            if (entry.emoji == emoji) {
                ++entry.useCount;
                break;
            }
        }
    }
    void setUseCount(const QString& emoji, int count) {
        for (EmojiEntry& entry : m_entries) {
            if (entry.emoji == emoji)
                entry.useCount = count;
        }
    }
    int useCount(const QString& emoji) const {
        for (const EmojiEntry& entry : m_entries) {
            if (entry.emoji == emoji)
                return entry.useCount;
        }
        return -1;
    }
    const EmojiEntry& entry(const QString& emoji) const {
        for (const EmojiEntry& e : m_entries) {
            if (e.emoji == emoji)
                return e;
        }
        return m_entries.front();
    }

    QStringList recorded;

private:
    QList<EmojiEntry> m_entries;
    SearchIndex m_index;
};

class FakeFocus : public FocusContextProviding {
public:
    bool isSecureFieldFocused() override {
        ++secureQueries;
        return secure;
    }
    std::optional<QRect> caretRect() override {
        ++caretQueries;
        return caret;
    }
    std::optional<QUrl> currentBrowserURL() override {
        ++urlQueries;
        return url;
    }

    bool secure = false;
    std::optional<QRect> caret = QRect(400, 300, 2, 16);
    std::optional<QUrl> url;
    int secureQueries = 0;
    int caretQueries = 0;
    int urlQueries = 0;
};

class FakeExclusions : public AppExclusionChecking {
public:
    bool isAppExcluded(const std::optional<QString>& appId) const override {
        return appId && excludedApps.contains(*appId);
    }
    bool shouldCheckSite(const std::optional<QString>& appId) const override {
        return appId && browsers.contains(*appId);
    }
    bool isSiteDisabled(const std::optional<QString>& host) const override {
        hostsAsked << host.value_or(QStringLiteral("<none>"));
        return host && disabledHosts.contains(*host);
    }

    QSet<QString> excludedApps;
    QSet<QString> browsers;
    QSet<QString> disabledHosts;
    mutable QStringList hostsAsked;
};

class FakeFrontmost : public FrontmostApplicationProviding {
public:
    std::optional<QString> frontmostApplicationId() const override { return appId; }
    std::optional<QString> appId = QStringLiteral("org.example.Editor");
};

inline QString joined(const QList<EmojiEntry>& entries) {
    QStringList emoji;
    for (const EmojiEntry& entry : entries)
        emoji << entry.emoji;
    return emoji.join(QLatin1Char(' '));
}

class FakeSuggestions : public SuggestionPresenting {
public:
    void show(const QList<EmojiEntry>& results, int selectedIndex, const std::optional<QRect>& anchor,
              const QString& triggerText) override {
        log << QStringLiteral("show %1 @%2").arg(joined(results)).arg(selectedIndex);
        shown = results;
        anchorShown = anchor;
        triggerShown = triggerText;
        visible = true;
    }
    void hide() override {
        log << QStringLiteral("hide");
        visible = false;
    }
    void updateSelection(int row) override { log << QStringLiteral("select %1").arg(row); }
    void showToneVariants(const QStringList& variants, int highlightedIndex) override {
        log << QStringLiteral("tones %1").arg(highlightedIndex);
        toneVariants = variants;
        toneHighlight = highlightedIndex;
    }
    void hideToneVariants() override {
        log << QStringLiteral("no tones");
        toneVariants.clear();
        toneHighlight = -1;
    }
    // Like a real window, it answers by its geometry whether or not it is on screen.
    bool containsGlobalPoint(const QPoint& point) const override { return geometry.contains(point); }
    void setCallbacks(SuggestionCallbacks c) override { callbacks = std::move(c); }

    QStringList log;
    QList<EmojiEntry> shown;
    std::optional<QRect> anchorShown;
    QString triggerShown;
    bool visible = false;
    QStringList toneVariants;
    int toneHighlight = -1;
    QRect geometry{400, 320, 240, 180};
    SuggestionCallbacks callbacks;
};

class FakeBrowserModel : public EmojiBrowserModelDriving {
public:
    void appendToQuery(const QString& text) override { log << QStringLiteral("append '%1'").arg(text); }
    void deleteBackward() override { log << QStringLiteral("deleteBackward"); }
    void moveSelection(MoveDirection direction) override {
        log << QStringLiteral("move %1").arg(static_cast<int>(direction));
    }
    std::optional<EmojiEntry> selectedEntry() const override { return selected; }
    void refresh() override { log << QStringLiteral("refresh"); }
    QString query() const override { return currentQuery; }
    void setQuery(const QString& query) override {
        log << QStringLiteral("query '%1'").arg(query);
        currentQuery = query;
    }
    void pick(const EmojiEntry& entry) override { log << QStringLiteral("pick %1").arg(entry.emoji); }
    void close() override {
        log << QStringLiteral("close");
        if (onClose)
            onClose();
    }

    QStringList log;
    QString currentQuery;
    std::optional<EmojiEntry> selected;
    std::function<void()> onClose;
};

class FakeBrowser : public EmojiBrowserPresenting {
public:
    FakeBrowser() {
        // The window controller reports a close as a dismissal at once.
        browserModel.onClose = [this] {
            if (callbacks.onDismiss)
                callbacks.onDismiss();
        };
    }
    void show(const QList<EmojiEntry>& entries) override {
        ++showCount;
        shownEntries = entries;
    }
    EmojiBrowserModelDriving& model() override { return browserModel; }
    void setCallbacks(EmojiBrowserCallbacks c) override { callbacks = std::move(c); }

    FakeBrowserModel browserModel;
    int showCount = 0;
    QList<EmojiEntry> shownEntries;
    EmojiBrowserCallbacks callbacks;
};

class FakeInserter : public TokenReplacing {
public:
    struct Call {
        int eraseCount;
        QString text;
        bool operator==(const Call&) const = default;
    };
    void replaceToken(int eraseCount, const QString& text, std::function<void()> completion) override {
        calls << Call{eraseCount, text};
        pending = std::move(completion);
    }
    void complete() {
        auto completion = std::exchange(pending, nullptr);
        if (completion)
            completion();
    }

    QList<Call> calls;
    std::function<void()> pending;
};

class FakeBackspaces : public BackspacePosting {
public:
    void pressBackspace(int count) override { presses << count; }
    QList<int> presses;
};

inline StickerEntry makeSticker(const QString& id, bool animated = true) {
    StickerEntry entry;
    entry.id = id;
    entry.fileName = id + QStringLiteral(".webp");
    entry.keywords = {id};
    entry.name = id;
    entry.isAnimated = animated;
    return entry;
}

class FakeStickerStore : public StickerProviding {
public:
    QList<StickerEntry> stickers() const override { return catalogue; }
    void recordUse(const QString& stickerId) override { used << stickerId; }
    void fetchFile(const StickerEntry& entry, std::function<void(std::optional<QUrl>)> completion) override {
        fetched << entry.id;
        pending = std::move(completion);
    }
    void completeFetch(std::optional<QUrl> file) {
        auto completion = std::exchange(pending, nullptr);
        if (completion)
            completion(std::move(file));
    }

    QList<StickerEntry> catalogue{makeSticker(QStringLiteral("party-parrot")),
                                  makeSticker(QStringLiteral("wave"))};
    QStringList used;
    QStringList fetched;
    std::function<void(std::optional<QUrl>)> pending;
};

class FakePickerModel : public StickerPickerModelDriving {
public:
    void loadStickers(const QList<StickerEntry>& stickers) override {
        log << QStringLiteral("loadStickers %1").arg(stickers.size());
    }
    void loadRemote(const QString& commandText, GiphySearch search) override {
        log << QStringLiteral("loadRemote %1").arg(commandText);
        remoteSearch = std::move(search);
    }
    void appendToQuery(const QString& text) override { log << QStringLiteral("append '%1'").arg(text); }
    void deleteBackward() override { log << QStringLiteral("deleteBackward"); }
    void moveSelection(MoveDirection direction) override {
        log << QStringLiteral("move %1").arg(static_cast<int>(direction));
    }
    std::optional<StickerEntry> selectedEntry() const override { return selected; }
    void refresh() override { log << QStringLiteral("refresh"); }
    QString query() const override { return currentQuery; }
    void setQuery(const QString& query) override {
        log << QStringLiteral("query '%1'").arg(query);
        currentQuery = query;
    }
    void pick(const StickerEntry& entry) override { log << QStringLiteral("pick %1").arg(entry.id); }
    void close() override {
        log << QStringLiteral("close");
        if (onClose)
            onClose();
    }

    QStringList log;
    QString currentQuery;
    std::optional<StickerEntry> selected;
    GiphySearch remoteSearch;
    std::function<void()> onClose;
};

class FakePicker : public StickerPickerPresenting {
public:
    FakePicker() {
        pickerModel.onClose = [this] { dismiss(); };
    }
    StickerPickerModelDriving& model() override { return pickerModel; }
    void show() override {
        log << QStringLiteral("show");
        visible = true;
    }
    void orderOut() override {
        log << QStringLiteral("orderOut");
        visible = false;
        // A window that reports every close, however it came about, as a dismissal.
        if (dismissOnOrderOut)
            dismiss();
    }
    void setCallbacks(StickerPickerCallbacks c) override { callbacks = std::move(c); }
    void dismiss() {
        visible = false;
        if (callbacks.onDismiss)
            callbacks.onDismiss();
    }

    FakePickerModel pickerModel;
    QStringList log;
    bool visible = false;
    bool dismissOnOrderOut = false;
    StickerPickerCallbacks callbacks;
};

class FakeStickerInserter : public StickerInserting {
public:
    struct Call {
        QUrl file;
        bool isAnimated;
        int eraseCount;
        bool operator==(const Call&) const = default;
    };
    void insert(const QUrl& file, bool isAnimated, int eraseCount,
                std::function<void()> completion) override {
        calls << Call{file, isAnimated, eraseCount};
        pending = std::move(completion);
    }
    void complete() {
        auto completion = std::exchange(pending, nullptr);
        if (completion)
            completion();
    }

    QList<Call> calls;
    std::function<void()> pending;
};

inline QString describe(const InputEvent& event) {
    static const char* const names[] = {"text",  "backspace", "wordBackspace", "tab",  "return", "escape",
                                        "space", "up",        "down",          "left", "right",  "modified"};
    switch (event.type) {
    case InputEvent::Type::mouseDown:
        return QStringLiteral("mouse-down at %1,%2")
            .arg(event.globalPosition.x())
            .arg(event.globalPosition.y());
    case InputEvent::Type::other:
        return QStringLiteral("other event");
    case InputEvent::Type::keyDown:
        break;
    }
    const QString name = QString::fromLatin1(names[static_cast<int>(event.action)]);
    return event.action == KeyAction::text ? QStringLiteral("text '%1'").arg(event.text) : name;
}

inline const QString messagingApp = QStringLiteral("org.signal.Signal");

// One coordinator with every collaborator faked except the engine pieces it is built around.
// Every event goes through send(), which records a violation whenever
//  - an event is swallowed that the grab set, as asked just before it, did not contain, or
//  - the grab set differs from what swallowableKeysChanged last announced (the hook would be
//    grabbing stale keys).
struct HarnessOptions {
    bool stickerServices = true;
    bool giphySearch = true;
};

class Harness {
public:
    explicit Harness(HarnessOptions options = {}, QList<EmojiEntry> catalogue = sampleCatalogue())
        : defaults(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat)
        , settings(&defaults)
        , store(std::move(catalogue))
        , tokenBuffer([this] { return settings.triggerCharacter(); }) {
        std::optional<StickerServices> services;
        if (options.stickerServices) {
            GiphySearch search;
            if (options.giphySearch)
                search = [this](const QString& query, GiphySearchCompletion) { giphyQueries << query; };
            services = StickerServices{&stickers, &picker, &stickerInserter, search};
        }
        coordinator = std::make_unique<AutocompleteCoordinator>(
            settings, store, tokenBuffer, focus, exclusions, suggestions, browser, inserter, frontmost,
            backspaces, stickerDetector, giphyDetector,
            QSet<QString>{messagingApp, QStringLiteral("org.telegram.desktop")}, services);
        announced = coordinator->swallowableKeys();
        QObject::connect(coordinator.get(), &AutocompleteCoordinator::swallowableKeysChanged,
                         coordinator.get(), [this] {
                             announced = coordinator->swallowableKeys();
                             ++announcements;
                         });
    }

    AutocompleteCoordinator& c() { return *coordinator; }

    void checkAnnounced(const QString& where) {
        if (coordinator && !(coordinator->swallowableKeys() == announced))
            violations << QStringLiteral("grab set changed without an announcement (%1)").arg(where);
    }

    bool send(const InputEvent& event) {
        checkAnnounced(QStringLiteral("before ") + describe(event));
        const SwallowableKeys before = coordinator->swallowableKeys();
        const bool swallowed = coordinator->handleEvent(event);
        if (swallowed && !before.mayContain(event))
            violations << QStringLiteral("swallowed %1 outside the grab set").arg(describe(event));
        checkAnnounced(QStringLiteral("after ") + describe(event));
        return swallowed;
    }
    bool press(KeyAction action) { return send(InputEvent::keyDown(action)); }
    bool key(const QString& text) { return send(InputEvent::keyDown(KeyAction::text, text)); }
    // One key per UTF-16 unit (ASCII only; ' ' is the Space key); returns which of them were
    // swallowed, in order.
    QList<bool> type(const QString& text) {
        QList<bool> swallowed;
        for (QChar ch : text)
            swallowed << (ch == QLatin1Char(' ') ? press(KeyAction::space) : key(QString(ch)));
        return swallowed;
    }
    bool click(QPoint point) { return send(InputEvent::mouseDown(point)); }

    // Runs something that reaches the coordinator from outside a key event (a click callback,
    // a completion, a settings change) and checks that the grab set was announced.
    void from(const QString& where, const std::function<void()>& action) {
        action();
        checkAnnounced(where);
    }

    bool isTokenOpen() const { return tokenBuffer.isTokenOpen(); }

    QTemporaryDir dir;
    QSettings defaults;
    SettingsStore settings;
    FakeEmojiStore store;
    TokenBuffer tokenBuffer;
    FakeFocus focus;
    FakeExclusions exclusions;
    FakeSuggestions suggestions;
    FakeBrowser browser;
    FakeInserter inserter;
    FakeFrontmost frontmost;
    FakeBackspaces backspaces;
    StickerCommandDetector stickerDetector{QStringLiteral("/sticker")};
    StickerCommandDetector giphyDetector{QStringLiteral("/gif")};
    FakeStickerStore stickers;
    FakePicker picker;
    FakeStickerInserter stickerInserter;
    QStringList giphyQueries;
    std::unique_ptr<AutocompleteCoordinator> coordinator;

    SwallowableKeys announced;
    int announcements = 0;
    QStringList violations;
};

// Spins the event loop until `done` holds or `timeoutMs` passes; returns `done()`.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return done();
}

inline void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

} // namespace pimsel::fakes
