#include "engine/autocomplete_coordinator.h"

#include "engine/coordinator_transaction.h"
#include "engine/panel_keys.h"
#include "engine/text.h"

#include <QPointer>
#include <QTimer>

#include <utility>

namespace pimsel {

namespace {

// Typed text that carries a control or format character is not text the user meant to type.
bool containsControlCharacter(const QString& text) {
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t scalar = text[i].unicode();
        if (QChar::isHighSurrogate(scalar) && i + 1 < size && text[i + 1].isLowSurrogate()) {
            scalar = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (text::isControlScalar(scalar))
            return true;
    }
    return false;
}

// Text a field takes in although it carries invisible characters: format ones (joiners, zero-width
// spaces, tags) and no control character, which fields drop.
bool landsInTheField(const QString& text) {
    bool format = false;
    for (char32_t scalar : QStringView(text).toUcs4()) {
        if (QChar::category(scalar) == QChar::Other_Control)
            return false;
        format |= QChar::category(scalar) == QChar::Other_Format;
    }
    return format;
}

// The length of "/sticker": what a dismissal would erase before any command was typed.
constexpr int initialCommandLength = 8;

} // namespace

AutocompleteCoordinator::AutocompleteCoordinator(
    SettingsStore& settings, EmojiProviding& store, TokenBuffer& tokenBuffer, FocusContextProviding& focus,
    AppExclusionChecking& exclusions, SuggestionPresenting& suggestions, EmojiBrowserPresenting& browser,
    TokenReplacing& inserter, FrontmostApplicationProviding& frontmost, BackspacePosting& backspaces,
    StickerCommandDetector& stickerDetector, StickerCommandDetector& giphyDetector,
    QSet<QString> messagingAppIds, std::optional<StickerServices> stickerServices, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_store(store)
    , m_activation(settings, exclusions, focus)
    , m_session(settings, store, m_engine)
    , m_queue(*this, [this] { settle(); })
    , m_tokenBuffer(tokenBuffer)
    , m_focus(focus)
    , m_suggestions(suggestions)
    , m_browser(browser)
    , m_inserter(inserter)
    , m_frontmost(frontmost)
    , m_backspaces(backspaces)
    , m_stickerDetector(stickerDetector)
    , m_giphyDetector(giphyDetector)
    , m_messagingAppIds(std::move(messagingAppIds))
    , m_stickerServices(std::move(stickerServices))
    , m_pendingCommandLength(initialCommandLength) {
    const QPointer<AutocompleteCoordinator> self(this);
    m_suggestions.setCallbacks(SuggestionCallbacks{
        [self](int row) {
            if (self)
                self->pickRow(row);
        },
        [self](int row) {
            if (self)
                self->hoverRow(row);
        },
        [self](int variant) {
            if (self)
                self->pickTone(variant);
        },
    });
    m_focus.setFocusMovedHandler([self] {
        if (self)
            self->focusMoved();
    });
    // The answer a shortcode's letters were given was outdated: the field is a password field.
    m_focus.setFieldTurnedSecureHandler([self] {
        if (!self || !(self->isPanelActive() || self->m_tokenBuffer.isTokenOpen()))
            return;
        self->cancel();
    });
    m_browser.setCallbacks(EmojiBrowserCallbacks{
        [self](const EmojiEntry& entry) {
            if (self)
                self->browserPicked(entry);
        },
        [self] {
            if (self)
                self->browserDismissed();
        },
    });
    if (hasStickerServices()) {
        m_stickerServices->picker->setCallbacks(StickerPickerCallbacks{
            [self](const StickerEntry& entry) {
                if (self)
                    self->stickerPicked(entry);
            },
            [self] {
                if (self)
                    self->pickerDismissed();
            },
        });
    }
    // Every setting that shapes the grab set (enabled, the accept keys, the trigger and its two
    // rules, the commands) arrives through the store-wide signal.
    connect(&m_settings, &SettingsStore::changed, this, [this] { Transaction transaction(*this); });
    m_announcedSwallowable = swallowableKeys();
}

AutocompleteCoordinator::~AutocompleteCoordinator() = default;

// ---- Event entry ----------------------------------------------------------------------------

bool AutocompleteCoordinator::handleEvent(const InputEvent& event) {
    switch (event.type) {
    case InputEvent::Type::mouseDown: {
        if (m_isBrowserActive || m_isStickerSearchActive || !m_settings.enabled() || m_isInserting)
            return false;
        // A press on the popover is how rows and tones get clicked; only a click elsewhere ends
        // the token.
        if (isPanelActive() && m_suggestions.containsGlobalPoint(event.globalPosition))
            return false;
        cancel();
        return false;
    }
    case InputEvent::Type::keyDown: {
        if (event.action == KeyAction::text &&
            (event.text.isEmpty() || containsControlCharacter(event.text))) {
            // A joiner or zero-width space still lands in the field: an open shortcode cannot
            // count it, so it ends there rather than being erased one character short.
            if (landsInTheField(event.text) && m_tokenBuffer.isTokenOpen() && !m_isBrowserActive &&
                !m_isStickerSearchActive) {
                Transaction transaction(*this);
                m_tokenBuffer.feed(event.text);
                hide();
            }
            return false;
        }
        Transaction transaction(*this);
        return handleKey(event);
    }
    case InputEvent::Type::other:
        break;
    }
    return false;
}

bool AutocompleteCoordinator::handleKey(const InputEvent& event) {
    const KeyAction action = event.action;
    const QString& text = event.text;
    // The open browser or picker has the keyboard focus, and ignores its own key events: a key that
    // reached it unheld still belongs to it. An answer for such a key changes nothing, though.
    if (m_isBrowserActive)
        return routeToBrowser(action, text) && event.canSwallow;
    if (m_isStickerSearchActive)
        return routeToPicker(action, text) && event.canSwallow;
    if (m_isInserting)
        return false;
    std::optional<QString> appId;
    const ActivationPolicy::Verdict verdict = m_activation.applicationVerdict(m_frontmost, appId);
    if (verdict == ActivationPolicy::Verdict::disabledGlobally)
        return false;
    if (action == KeyAction::modified || verdict != ActivationPolicy::Verdict::active) {
        cancel();
        return false;
    }
    // A shortcode belongs to the window it was typed in: after the focus moved to another window of
    // the same application (or while Pimsel was stalled), erasing and pasting would land there.
    if (const std::optional<quint64> window = m_frontmost.frontmostWindow();
        m_tokenBuffer.isTokenOpen() && m_tokenWindow && window && *window != *m_tokenWindow) {
        cancel();
        return false;
    }
    if (m_silenced.isTokenOpen()) {
        if (action != KeyAction::text) {
            m_silenced.reset();
        } else {
            m_silenced.feed(text);
            // The field that silenced the trigger is asked again on each key of the shortcode: the
            // announcement that the focus moved on may be late, or never come at all for a browser
            // that joined the bus while its field already had the focus.
            if (text != trigger() && !m_tokenBuffer.isTokenOpen() && !isPanelActive() &&
                takeUpSilencedToken(appId, false))
                return false;
        }
    }
    // Accessibility queries are slow; ordinary typing outside a token never makes them.
    const bool needsContext = isPanelActive() || m_tokenBuffer.isTokenOpen() || m_unsettledTrigger ||
                              (action == KeyAction::text && text == trigger());
    // A key that may insert (the closing trigger, Tab, Return) has the field asked afresh; the
    // letters of a shortcode may take the answer learned before, which is checked behind them.
    const bool mayRemember = action == KeyAction::text && (text != trigger() || !m_tokenBuffer.isTokenOpen());
    if (needsContext && !passesContextCheck(appId, mayRemember)) {
        if (m_lastCheckFoundSecure && action == KeyAction::text && text == trigger()) {
            m_silenced.reset();
            m_silenced.feed(text);
            m_silencedSince.start();
        }
        cancel();
        return false;
    }
    // After a Backspace, a click or in another field the buffer cannot tell what precedes the caret;
    // the field can.
    if (action == KeyAction::text && text == trigger() && !m_tokenBuffer.acceptsTrigger()) {
        const std::optional<QString> before = m_focus.textBeforeCaret(TokenBuffer::contextLength);
        if (before)
            m_tokenBuffer.learnTextBeforeTrigger(*before);
        m_unsettledTrigger = before ? std::nullopt : std::optional(QString());
    } else if (m_unsettledTrigger && action == KeyAction::text && TokenBuffer::isTokenCharacter(text) &&
               m_unsettledTrigger->size() < TokenBuffer::lateKeys) {
        if (const std::optional<QString> before = m_focus.textBeforeCaret(TokenBuffer::contextLength)) {
            m_tokenBuffer.learnTextBeforeTrigger(*before);
            if (m_tokenBuffer.acceptsTrigger()) {
                m_tokenBuffer.feed(trigger());
                m_tokenBuffer.feed(*m_unsettledTrigger);
            }
            m_unsettledTrigger.reset();
        } else {
            *m_unsettledTrigger += text;
        }
    } else {
        m_unsettledTrigger.reset();
    }
    // Past the slow checks the answer comes at once: a key that may be taken is kept held until
    // then, unless the wait was so long that the hook has handed it to the application meanwhile.
    bool canSwallow = event.canSwallow;
    if (canSwallow && event.hold && swallowableKeys().mayContain(event))
        canSwallow = event.hold();
    // A key this state would take, which reached the application anyway: the application has moved
    // the caret or the focus, closed something or started a new line, so the token no longer
    // matches what is in the field.
    if (!canSwallow && action != KeyAction::text && swallowableKeys().contains(action)) {
        cancel();
        return false;
    }
    if (const std::optional<bool> answer = handleCommandKey(action, text, appId))
        return *answer && canSwallow;
    const bool wasOpen = m_tokenBuffer.isTokenOpen();
    const bool taken = handleTokenKey(action, text, canSwallow) && canSwallow;
    if (!wasOpen && m_tokenBuffer.isTokenOpen())
        m_tokenWindow = m_frontmost.frontmostWindow();
    return taken;
}

bool AutocompleteCoordinator::passesContextCheck(const std::optional<QString>& appId, bool mayRemember) {
    m_lastCheckFoundSecure = false;
    if (m_activation.isSiteDisabled(appId))
        return false;
    m_lastCheckFoundSecure =
        mayRemember ? m_focus.isSecureFieldFocusedRemembered() : m_focus.isSecureFieldFocused();
    if (!m_lastCheckFoundSecure)
        m_silenced.reset();
    return !m_lastCheckFoundSecure;
}

// A browser may announce that the focus left a password field only after the user has typed on in
// the next field (Firefox takes up to a few hundred milliseconds): a shortcode typed meanwhile was
// judged on the password field and dropped. Once an ordinary field is announced, the shortcode is
// taken up again, but only when that field shows its start before the caret: keys that went into
// the password field never reach the popover.
void AutocompleteCoordinator::focusMoved() {
    constexpr qint64 lateAnnouncementMs = 2000;
    if (!m_silenced.isTokenOpen() || m_silencedSince.elapsed() > lateAnnouncementMs)
        return;
    if (m_isInserting || m_isBrowserActive || m_isStickerSearchActive || m_tokenBuffer.isTokenOpen())
        return;
    const std::optional<QString> appId = m_frontmost.frontmostApplicationId();
    if (m_activation.applicationVerdict(appId) == ActivationPolicy::Verdict::active)
        takeUpSilencedToken(appId, true);
}

bool AutocompleteCoordinator::takeUpSilencedToken(const std::optional<QString>& appId, bool retryLater) {
    constexpr int fieldCatchUpMs = 100;
    const std::optional<ColonToken> typed = m_silenced.currentToken();
    if (!typed || !passesContextCheck(appId))
        return false;
    const std::optional<QString> before = m_focus.textBeforeCaret(TokenBuffer::maxQueryLength + 2);
    // The field may not have caught up with every key yet, nor be able to say what it holds: the
    // trigger at least must be in it. Until it is, the field is read again a little later.
    qsizetype shown = before ? typed->raw.size() : 0;
    while (shown > 0 && !before->endsWith(typed->raw.left(shown)))
        --shown;
    if (shown == 0) {
        m_silenced.feed(typed->raw); // the check above forgot it
        if (retryLater) {
            const QPointer<AutocompleteCoordinator> self(this);
            QTimer::singleShot(fieldCatchUpMs, this, [self] {
                if (self)
                    self->focusMoved();
            });
        }
        return false;
    }
    Transaction transaction(*this);
    m_tokenBuffer.reset();
    m_tokenBuffer.feed(before->left(before->size() - shown));
    const std::optional<ColonToken> token = m_tokenBuffer.feed(typed->raw);
    if (!token) {
        m_tokenBuffer.reset();
        return false;
    }
    m_tokenWindow = m_frontmost.frontmostWindow();
    update(token);
    return true;
}

bool AutocompleteCoordinator::handleTokenKey(KeyAction action, const QString& text, bool canSwallow) {
    const SuggestionSession::Answer answer =
        m_session.answerKey(action, text, canSwallow, m_tokenBuffer.currentToken());
    switch (answer.step) {
    case SuggestionSession::Step::none:
        break;
    case SuggestionSession::Step::follow:
        if (action == KeyAction::backspace) {
            update(m_tokenBuffer.deleteBackward());
        } else {
            std::optional<ColonToken> last;
            text::forEachCharacter(text,
                                   [&](const QString& character) { last = m_tokenBuffer.feed(character); });
            update(last);
        }
        break;
    case SuggestionSession::Step::movedRow:
        if (isPresenterCurrent())
            m_suggestions.updateSelection(m_session.selectedIndex());
        refreshToneStrip();
        break;
    case SuggestionSession::Step::movedTone:
        refreshToneStrip();
        break;
    case SuggestionSession::Step::end:
        cancel();
        break;
    case SuggestionSession::Step::commit:
        performInsertion(*answer.commit);
        break;
    case SuggestionSession::Step::openBrowser:
        openBrowser();
        break;
    }
    return answer.taken;
}

// ---- Suggestions ----------------------------------------------------------------------------

void AutocompleteCoordinator::update(const std::optional<ColonToken>& token) {
    if (!m_session.update(token)) {
        hide();
        // Nothing to show yet, but the caret is asked for once the keys at hand are read: the key
        // that brings the first results then shows them at once, where the caret was a key ago.
        if (token)
            m_queue.schedulePresentation();
        return;
    }
    // Presented again on every update so that the popover follows the caret.
    m_queue.schedulePresentation();
}

void AutocompleteCoordinator::accept() {
    if (const std::optional<SuggestionSession::Commit> commit = m_session.accept())
        performInsertion(*commit);
    else
        cancel();
}

void AutocompleteCoordinator::performInsertion(const SuggestionSession::Commit& commit) {
    const EmojiEntry& entry = commit.entry;
    const QString text = applySkinTone(commit.tone, entry.emoji, entry.supportsSkinTones);
    // Both are writes of the settings file; nothing reads them before the insertion is over.
    if (commit.rememberTone)
        m_queue.afterAnswer([this, tone = commit.tone] { m_settings.setSkinTone(tone); });
    m_isInserting = true;
    hide();
    m_tokenBuffer.reset();
    const QPointer<AutocompleteCoordinator> self(this);
    m_inserter.replaceToken(commit.eraseCount, text, [self] {
        if (self)
            self->insertionFinished();
    });
    m_queue.afterAnswer([this, emoji = entry.emoji] { m_store.recordUse(emoji); });
}

void AutocompleteCoordinator::insertionFinished() {
    Transaction transaction(*this);
    m_isInserting = false;
}

void AutocompleteCoordinator::hide() {
    const bool wasShown = isPanelActive();
    m_session.end();
    m_queue.dropPresentation();
    m_shownResults.clear();
    m_isPanelShown = false;
    forgetCaret();
    m_toneStripRow.reset();
    if (wasShown)
        m_suggestions.hide();
}

void AutocompleteCoordinator::cancel() {
    Transaction transaction(*this);
    m_tokenBuffer.reset();
    resetDetectors();
    hide();
    if (m_isStickerSearchActive) {
        m_isStickerSearchActive = false;
        if (hasStickerServices())
            m_stickerServices->picker->orderOut();
    }
}

// ---- Emoji browser --------------------------------------------------------------------------

void AutocompleteCoordinator::openBrowser() {
    hide();
    m_tokenBuffer.reset();
    m_isBrowserActive = true;
    // The first trigger stays typed; the second was swallowed. The browser's model is loaded by
    // the show, before any later key is routed to it.
    m_queue.afterAnswer([this] { m_browser.show(m_store.entries()); });
}

bool AutocompleteCoordinator::routeToBrowser(KeyAction action, const QString& text) {
    // Tab is the browser's only difference: it passes, where the picker takes it as a pick.
    return panel_keys::route(m_browser.model(), action, text, /*tabPicks=*/false);
}

void AutocompleteCoordinator::browserPicked(const EmojiEntry& entry) {
    Transaction transaction(*this);
    m_isBrowserActive = false;
    // Only the first trigger is in the text: the second never reached the application.
    performInsertion({entry, m_session.effectiveTone(entry, std::nullopt), 1, false});
}

void AutocompleteCoordinator::browserDismissed() {
    Transaction transaction(*this);
    m_isBrowserActive = false;
}

// ---- Grab set -------------------------------------------------------------------------------

QString AutocompleteCoordinator::trigger() const {
    return m_settings.triggerCharacter();
}

// Derived from the coordinator's own state and the settings only, so that the hook can ask at
// any time without an accessibility query. handleEvent may still pass a key listed here:
// - when the frontmost application is excluded, the web site is disabled or a password field
//   has focus (those checks run when the key arrives);
// - the closing trigger, when the typed query turns out to have no exact match (the catalogue
//   can be reloaded between this answer and the key, so the lookup is left to the key).
// It never omits a key handleEvent would swallow.
SwallowableKeys AutocompleteCoordinator::swallowableKeys() const {
    SwallowableKeys keys;
    if (m_isBrowserActive || m_isStickerSearchActive) {
        keys.anyText = true;
        for (KeyAction action :
             {KeyAction::backspace, KeyAction::wordBackspace, KeyAction::returnKey, KeyAction::escape,
              KeyAction::space, KeyAction::up, KeyAction::down, KeyAction::left, KeyAction::right})
            keys.insert(action);
        if (m_isStickerSearchActive && !m_isBrowserActive)
            keys.insert(KeyAction::tab);
        return keys;
    }
    if (!m_settings.enabled() || m_isInserting)
        return keys;
    // The popover's keys while a token is open, not only while it shows: the key after the one that
    // brings it up may come before that one is handled. A key held while nothing shows is passed on.
    SwallowableKeys popoverKeys;
    popoverKeys.insert(KeyAction::escape);
    popoverKeys.insert(KeyAction::up);
    popoverKeys.insert(KeyAction::down);
    if (m_settings.acceptWithTab())
        popoverKeys.insert(KeyAction::tab);
    if (m_settings.acceptWithReturn())
        popoverKeys.insert(KeyAction::returnKey);
    const std::optional<ColonToken> token = m_tokenBuffer.currentToken();
    if (isPanelActive() || token)
        keys.actions |= popoverKeys.actions;
    if (isPanelActive() && m_session.selectedEntryAcceptsTone()) {
        keys.insert(KeyAction::left);
        keys.insert(KeyAction::right);
    }
    if (token) {
        const bool ruleApplies = token->query.isEmpty() ? m_settings.openBrowserOnDoubleTrigger()
                                                        : m_settings.replaceOnClosingColon();
        if (ruleApplies)
            keys.triggerText = trigger();
    }
    keys.openingText = trigger();
    keys.openingActions = popoverKeys.actions;
    // The detectors are fed only in a messaging application and are reset on every app switch,
    // so a complete command means the confirming Space would be taken there.
    if ((isGiphyCommandUsable() && m_giphyDetector.isMatched()) ||
        (isStickerCommandUsable() && m_stickerDetector.isMatched()))
        keys.insert(KeyAction::space);
    return keys;
}

} // namespace pimsel
