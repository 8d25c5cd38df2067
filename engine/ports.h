#pragma once

// The narrow interfaces through which the coordinator reaches the rest of the system.
// Each has exactly one implementation in the application and a recording fake in the tests.

#include "engine/emoji_entry.h"
#include "engine/sticker_entry.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace pimsel {

class SearchIndex;

class EmojiProviding {
public:
    virtual ~EmojiProviding() = default;
    virtual const QList<EmojiEntry>& entries() const = 0;
    // Normalised keys of entries(), prepared when the catalogue was loaded (same order).
    virtual const SearchIndex& searchIndex() const = 0;
    virtual void recordUse(const QString& emoji) = 0;
};

class FocusContextProviding {
public:
    virtual ~FocusContextProviding() = default;
    virtual bool isSecureFieldFocused() = 0;
    // The same question answered from what was learned about the same element before, where the
    // platform remembers it, and asked again behind the key: should the field turn out to be a
    // password field after all, the handler below runs. Never for a key that inserts.
    virtual bool isSecureFieldFocusedRemembered() { return isSecureFieldFocused(); }
    virtual void setFieldTurnedSecureHandler(std::function<void()> handler) { Q_UNUSED(handler); }
    // Global coordinates, origin top-left of the virtual desktop.
    virtual std::optional<QRect> caretRect() = 0;
    // The same answer without waiting for the application where the platform can: `done` comes
    // later on this thread (or at once), never after the provider is gone.
    virtual void requestCaretRect(std::function<void(const std::optional<QRect>&)> done) {
        done(caretRect());
    }
    virtual std::optional<QUrl> currentBrowserURL() = 0;
    // Up to `count` characters of the focused field just before the caret: empty at the start of
    // the text, none when the field does not say.
    virtual std::optional<QString> textBeforeCaret(int count) {
        Q_UNUSED(count);
        return std::nullopt;
    }
    // `handler` runs whenever the application with the keyboard announces that another of its
    // elements has the focus, where the platform can tell.
    virtual void setFocusMovedHandler(std::function<void()> handler) { Q_UNUSED(handler); }
};

class AppExclusionChecking {
public:
    virtual ~AppExclusionChecking() = default;
    virtual bool isAppExcluded(const std::optional<QString>& appId) const = 0;
    virtual bool shouldCheckSite(const std::optional<QString>& appId) const = 0;
    virtual bool isSiteDisabled(const std::optional<QString>& host) const = 0;
};

// The identifier of the application that has the keyboard now (may be none).
class FrontmostApplicationProviding {
public:
    virtual ~FrontmostApplicationProviding() = default;
    virtual std::optional<QString> frontmostApplicationId() const = 0;
    // The window that has the keyboard now, where the platform can tell.
    virtual std::optional<quint64> frontmostWindow() const { return std::nullopt; }
};

struct SuggestionCallbacks {
    std::function<void(int row)> onPick;
    std::function<void(int row)> onHover;
    std::function<void(int variant)> onPickTone;
};

class SuggestionPresenting {
public:
    virtual ~SuggestionPresenting() = default;
    virtual void show(const QList<EmojiEntry>& results, int selectedIndex, const std::optional<QRect>& anchor,
                      const QString& triggerText) = 0;
    virtual void hide() = 0;
    virtual void updateSelection(int row) = 0;
    virtual void showToneVariants(const QStringList& variants, int highlightedIndex) = 0;
    virtual void hideToneVariants() = 0;
    // A mouse-down here is a click on the popover itself, not a click elsewhere.
    virtual bool containsGlobalPoint(const QPoint& point) const = 0;
    virtual void setCallbacks(SuggestionCallbacks callbacks) = 0;
    // Runs `then` once a popover that show() brought up is on screen, at once when it was up
    // already; dropped when it is hidden before. Work the user does not wait for waits for it.
    virtual void whenDrawn(std::function<void()> then) { then(); }
};

enum class MoveDirection { left, right, up, down };

// The browser's model operations the coordinator drives while the browser has the keys.
class EmojiBrowserModelDriving {
public:
    virtual ~EmojiBrowserModelDriving() = default;
    virtual void appendToQuery(const QString& text) = 0;
    virtual void deleteBackward() = 0;
    virtual void moveSelection(MoveDirection direction) = 0;
    virtual std::optional<EmojiEntry> selectedEntry() const = 0;
    virtual void refresh() = 0;
    virtual QString query() const = 0;
    virtual void setQuery(const QString& query) = 0;
    virtual void pick(const EmojiEntry& entry) = 0; // the model's onPick handler
    virtual void close() = 0;                       // the model's onClose handler
};

struct EmojiBrowserCallbacks {
    std::function<void(const EmojiEntry&)> onPick;
    std::function<void()> onDismiss;
};

class EmojiBrowserPresenting {
public:
    virtual ~EmojiBrowserPresenting() = default;
    virtual void show(const QList<EmojiEntry>& entries) = 0;
    virtual EmojiBrowserModelDriving& model() = 0;
    virtual void setCallbacks(EmojiBrowserCallbacks callbacks) = 0;
};

class TokenReplacing {
public:
    virtual ~TokenReplacing() = default;
    // Erases `eraseCount` characters before the caret and inserts `text`; `completion` comes
    // later on the main thread (or never, if the inserter is gone).
    virtual void replaceToken(int eraseCount, const QString& text, std::function<void()> completion) = 0;
};

// Posts n Backspace presses marked as the application's own (the erase after a picker dismissal).
class BackspacePosting {
public:
    virtual ~BackspacePosting() = default;
    virtual void pressBackspace(int count) = 0;
};

class StickerProviding {
public:
    virtual ~StickerProviding() = default;
    virtual QList<StickerEntry> stickers() const = 0;
    virtual void recordUse(const QString& stickerId) = 0;
    virtual void fetchFile(const StickerEntry& entry,
                           std::function<void(std::optional<QUrl>)> completion) = 0;
};

using GiphySearchCompletion = std::function<void(const QList<StickerEntry>&)>;
using GiphySearch = std::function<void(const QString& query, GiphySearchCompletion completion)>;

class StickerPickerModelDriving {
public:
    virtual ~StickerPickerModelDriving() = default;
    virtual void loadStickers(const QList<StickerEntry>& stickers) = 0;
    virtual void loadRemote(const QString& commandText, GiphySearch search) = 0;
    virtual void appendToQuery(const QString& text) = 0;
    virtual void deleteBackward() = 0;
    virtual void moveSelection(MoveDirection direction) = 0;
    virtual std::optional<StickerEntry> selectedEntry() const = 0;
    virtual void refresh() = 0;
    virtual QString query() const = 0;
    virtual void setQuery(const QString& query) = 0;
    virtual void pick(const StickerEntry& entry) = 0; // the model's onPick handler
    virtual void close() = 0;                         // the model's onClose handler
};

struct StickerPickerCallbacks {
    std::function<void(const StickerEntry&)> onPick;
    std::function<void()> onDismiss;
};

class StickerPickerPresenting {
public:
    virtual ~StickerPickerPresenting() = default;
    virtual StickerPickerModelDriving& model() = 0;
    virtual void show() = 0;
    virtual void orderOut() = 0;
    virtual void setCallbacks(StickerPickerCallbacks callbacks) = 0;
};

class StickerInserting {
public:
    virtual ~StickerInserting() = default;
    virtual void insert(const QUrl& file, bool isAnimated, int eraseCount,
                        std::function<void()> completion) = 0;
};

} // namespace pimsel
