#pragma once

#include "engine/activation_policy.h"
#include "engine/command_detector.h"
#include "engine/emoji_entry.h"
#include "engine/emoji_search_engine.h"
#include "engine/input_event.h"
#include "engine/ports.h"
#include "engine/presentation_queue.h"
#include "engine/settings_store.h"
#include "engine/suggestion_session.h"
#include "engine/token_buffer.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace pimsel {

// The sticker and GIF collaborators. Until they exist the coordinator is built without them,
// and then neither slash command is usable.
struct StickerServices {
    StickerProviding* store = nullptr;
    StickerPickerPresenting* picker = nullptr;
    StickerInserting* inserter = nullptr;
    GiphySearch giphySearch; // empty: no GIF client
};

// Turns the keystroke stream into suggestions, browser and picker input, slash commands and
// insertions. Lives on the GUI thread; every entry point runs there.
class AutocompleteCoordinator : public QObject, public InputEventHandler {
    Q_OBJECT
    Q_PROPERTY(bool isPanelActive READ isPanelActive NOTIFY stateChanged)
    Q_PROPERTY(bool isBrowserActive READ isBrowserActive NOTIFY stateChanged)
    Q_PROPERTY(bool isStickerSearchActive READ isStickerSearchActive NOTIFY stateChanged)
    Q_PROPERTY(bool isInserting READ isInserting NOTIFY stateChanged)
    Q_PROPERTY(std::optional<pimsel::ColonToken> currentToken READ currentToken NOTIFY stateChanged)
    Q_PROPERTY(QList<pimsel::EmojiEntry> results READ results NOTIFY stateChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex NOTIFY stateChanged)
    Q_PROPERTY(std::optional<int> focusedToneIndex READ focusedToneIndex NOTIFY stateChanged)
    Q_PROPERTY(int pendingCommandLength READ pendingCommandLength NOTIFY stateChanged)
    Q_PROPERTY(bool isGiphyActive READ isGiphyActive NOTIFY stateChanged)

public:
    static constexpr int resultLimit = SuggestionSession::resultLimit;
    static constexpr int dismissalEraseDelayMs = 120;

    AutocompleteCoordinator(SettingsStore& settings, EmojiProviding& store, TokenBuffer& tokenBuffer,
                            FocusContextProviding& focus, AppExclusionChecking& exclusions,
                            SuggestionPresenting& suggestions, EmojiBrowserPresenting& browser,
                            TokenReplacing& inserter, FrontmostApplicationProviding& frontmost,
                            BackspacePosting& backspaces, StickerCommandDetector& stickerDetector,
                            StickerCommandDetector& giphyDetector, QSet<QString> messagingAppIds,
                            std::optional<StickerServices> stickerServices = std::nullopt,
                            QObject* parent = nullptr);
    ~AutocompleteCoordinator() override;

    bool handleEvent(const InputEvent& event) override;
    SwallowableKeys swallowableKeys() const override;
    void setCatchUp(std::function<void()> catchUp) override { m_catchUp = std::move(catchUp); }

    // Ends the token, the popover and an open picker (not the browser). Also called when
    // another application becomes active.
    void cancel();

    bool isPanelActive() const { return m_session.isShowing(); }
    bool isBrowserActive() const { return m_isBrowserActive; }
    bool isStickerSearchActive() const { return m_isStickerSearchActive; }
    bool isInserting() const { return m_isInserting; }
    std::optional<ColonToken> currentToken() const { return m_session.token(); }
    QList<EmojiEntry> results() const { return m_session.results(); }
    int selectedIndex() const { return m_session.selectedIndex(); }
    std::optional<int> focusedToneIndex() const { return m_session.focusedToneIndex(); }
    int pendingCommandLength() const { return m_pendingCommandLength; }
    bool isGiphyActive() const { return m_isGiphyActive; }

Q_SIGNALS:
    // Any of the properties above changed.
    void stateChanged();
    // swallowableKeys() now answers differently; the input hook should grab again.
    void swallowableKeysChanged();

private:
    class Transaction;
    friend class Transaction;

    bool handleKey(const InputEvent& event);
    bool routeToBrowser(KeyAction action, const QString& text);
    bool routeToPicker(KeyAction action, const QString& text);
    bool passesContextCheck(const std::optional<QString>& appId, bool mayRemember = false);
    void focusMoved();
    // A shortcode silenced by a password check, taken up when the field now is an ordinary one that
    // shows it; with retryLater, a field that does not show it yet is read again shortly.
    bool takeUpSilencedToken(const std::optional<QString>& appId, bool retryLater);
    // nullopt: the key continues to the token logic; otherwise the swallow answer.
    std::optional<bool> handleCommandKey(KeyAction action, const QString& text,
                                         const std::optional<QString>& appId);
    // The typing rules: the session answers, the coordinator carries the answer out.
    bool handleTokenKey(KeyAction action, const QString& text, bool canSwallow);

    void update(const std::optional<ColonToken>& token);
    void refreshToneStrip();
    void accept();
    void performInsertion(const SuggestionSession::Commit& commit);
    void hide();
    void openBrowser();

    // The popover (coordinator_popover.cpp), drawn from the session on the queue's turn of the
    // event loop.
    void settle();
    void showPanel();
    // The caret is asked without waiting; the popover is shown where it was last learned in this
    // token and moves when the answer comes.
    void askCaret();
    void caretAnswered(quint64 serial, const std::optional<QRect>& caret);
    void forgetCaret();
    // Whether the popover on screen shows the state: presenter calls can then update it in place.
    bool isPresenterCurrent() const;

    // The slash commands and their picker (coordinator_commands.cpp).
    bool hasStickerServices() const;
    bool isStickerCommandUsable() const;
    bool isGiphyCommandUsable() const;
    bool isMessagingApp(const std::optional<QString>& appId) const;
    void resetDetectors();
    void beginCommand(int length, bool isGiphy);
    void startStickerMode();
    void startGiphyMode();

    // Callbacks from the presenters and completions of asynchronous work.
    std::optional<int> catchUpBeforeClick(EmojiEntry clicked);
    void pickRow(int row);
    void acceptShownRow(int row, std::optional<int> tone);
    void hoverRow(int row);
    void pickTone(int variant);
    void browserPicked(const EmojiEntry& entry);
    void browserDismissed();
    void stickerPicked(const StickerEntry& entry);
    void stickerFileFetched(const StickerEntry& entry, int eraseCount, const std::optional<QUrl>& file);
    void pickerDismissed();
    void eraseDismissedCommand(int count);
    void insertionFinished();

    QString trigger() const;

    SettingsStore& m_settings;
    EmojiProviding& m_store;
    EmojiSearchEngine m_engine;
    ActivationPolicy m_activation;
    // The open shortcode; the popover shows exactly while it does.
    SuggestionSession m_session;
    PresentationQueue m_queue;
    TokenBuffer& m_tokenBuffer;
    FocusContextProviding& m_focus;
    SuggestionPresenting& m_suggestions;
    EmojiBrowserPresenting& m_browser;
    TokenReplacing& m_inserter;
    FrontmostApplicationProviding& m_frontmost;
    BackspacePosting& m_backspaces;
    StickerCommandDetector& m_stickerDetector;
    StickerCommandDetector& m_giphyDetector;
    QSet<QString> m_messagingAppIds;
    std::optional<StickerServices> m_stickerServices;

    bool m_isBrowserActive = false;
    bool m_isStickerSearchActive = false;
    std::optional<quint64> m_tokenWindow; // where the open token was typed, where known
    // The token characters typed since a trigger about whose left side the field had no answer yet
    // (a window just opened, its accessibility still catching up); asked again on each of them.
    std::optional<QString> m_unsettledTrigger;
    // A trigger the field check silenced as typed into a password field, and the text keys after it:
    // the announcement that the focus had already moved on may come later (see focusMoved).
    TokenBuffer m_silenced{[this] { return trigger(); }};
    QElapsedTimer m_silencedSince;
    bool m_lastCheckFoundSecure = false;
    // The rows the popover shows: clicks and hovers name its rows, which lag the session's results
    // while a presentation is pending.
    QList<EmojiEntry> m_shownResults;
    bool m_isPanelShown = false;
    std::optional<QRect> m_shownAnchor;
    // The caret as last learned while the current token was open; the serial changes whenever the
    // token's popover ends, so that an answer about an earlier one is dropped.
    bool m_isCaretKnown = false;
    std::optional<QRect> m_caret;
    quint64 m_caretSerial = 0;
    bool m_isCaretAsked = false;
    bool m_isCaretOutdated = false; // the field changed after the question went out
    bool m_isInserting = false;
    // The row whose variants the tone strip shows. Hovering moves the selection without
    // redrawing the strip, so on the way to the strip the pointer crosses other rows;
    // a click on a variant must still pick the row the strip belongs to.
    std::optional<int> m_toneStripRow;
    int m_pendingCommandLength = 8;
    bool m_isGiphyActive = false;

    std::function<void()> m_catchUp;
    int m_transactionDepth = 0;
    SwallowableKeys m_announcedSwallowable;
};

} // namespace pimsel
