#include "engine/autocomplete_coordinator.h"

#include "engine/text.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
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

// Calls `visit` with each user-perceived character of `text`, in order.
template <typename Visit> void forEachCharacter(const QString& text, Visit&& visit) {
    if (text.size() == 1 && !text[0].isSurrogate()) {
        visit(text); // a plain keystroke: one BMP scalar is one character
        return;
    }
    const QStringList characters = text::graphemeClusters(text);
    for (const QString& character : characters)
        visit(character);
}

// Drops trailing spaces, then everything back to (not including) the nearest space.
QString withoutLastWord(QString query) {
    while (query.endsWith(QLatin1Char(' ')))
        query.chop(1);
    const qsizetype space = query.lastIndexOf(QLatin1Char(' '));
    return space < 0 ? QString() : query.left(space + 1);
}

// The keys an open browser or picker receives, applied to its model. True = the key is taken.
template <typename Model>
bool routeToPanel(Model& model, KeyAction action, const QString& text, bool tabPicks) {
    switch (action) {
    case KeyAction::backspace:
        model.deleteBackward();
        return true;
    case KeyAction::wordBackspace:
        model.setQuery(withoutLastWord(model.query()));
        model.refresh();
        return true;
    case KeyAction::modified:
        return false;
    case KeyAction::tab:
        if (!tabPicks)
            return false;
        [[fallthrough]];
    case KeyAction::returnKey:
        if (const auto entry = model.selectedEntry())
            model.pick(*entry);
        return true;
    case KeyAction::escape:
        model.close();
        return true;
    case KeyAction::space:
        model.appendToQuery(QStringLiteral(" "));
        return true;
    case KeyAction::up:
    case KeyAction::down:
    case KeyAction::left:
    case KeyAction::right:
        model.moveSelection(action == KeyAction::up     ? MoveDirection::up
                            : action == KeyAction::down ? MoveDirection::down
                            : action == KeyAction::left ? MoveDirection::left
                                                        : MoveDirection::right);
        return true;
    case KeyAction::text:
        model.appendToQuery(text);
        return true;
    }
    return false;
}

constexpr int toneCount = static_cast<int>(allSkinTones.size());
// The length of "/sticker": what a dismissal would erase before any command was typed.
constexpr int initialCommandLength = 8;

} // namespace

// Brackets every entry point. The outermost one publishes what changed: `stateChanged` when a
// property moved, `swallowableKeysChanged` when the hook's grab set must follow.
class AutocompleteCoordinator::Transaction {
public:
    explicit Transaction(AutocompleteCoordinator& coordinator)
        : m_coordinator(coordinator)
        , m_isOutermost(coordinator.m_transactionDepth++ == 0) {
        if (!m_isOutermost)
            return;
        // What an earlier answer left to do is done before anything else looks at the state.
        coordinator.runPendingWork();
        m_before = Snapshot::of(coordinator);
    }
    ~Transaction() {
        if (--m_coordinator.m_transactionDepth != 0 || !m_isOutermost)
            return;
        const bool stateMoved = !(Snapshot::of(m_coordinator) == m_before);
        const SwallowableKeys now = m_coordinator.swallowableKeys();
        const bool keysMoved = !(now == m_coordinator.m_announcedSwallowable);
        m_coordinator.m_announcedSwallowable = now;
        // A receiver may destroy the coordinator.
        const QPointer<AutocompleteCoordinator> alive(&m_coordinator);
        if (stateMoved)
            Q_EMIT m_coordinator.stateChanged();
        if (keysMoved && alive)
            Q_EMIT m_coordinator.swallowableKeysChanged();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

private:
    struct Snapshot {
        bool isPanelActive = false;
        bool isBrowserActive = false;
        bool isStickerSearchActive = false;
        bool isInserting = false;
        std::optional<ColonToken> currentToken;
        QList<EmojiEntry> results;
        int selectedIndex = 0;
        std::optional<int> focusedToneIndex;
        int pendingCommandLength = 0;
        bool isGiphyActive = false;

        static Snapshot of(const AutocompleteCoordinator& c) {
            return Snapshot{c.m_isPanelActive, c.m_isBrowserActive,  c.m_isStickerSearchActive,
                            c.m_isInserting,   c.m_currentToken,     c.m_results,
                            c.m_selectedIndex, c.m_focusedToneIndex, c.m_pendingCommandLength,
                            c.m_isGiphyActive};
        }
        bool operator==(const Snapshot&) const = default;
    };

    AutocompleteCoordinator& m_coordinator;
    const bool m_isOutermost;
    Snapshot m_before;
};

AutocompleteCoordinator::AutocompleteCoordinator(
    SettingsStore& settings, EmojiProviding& store, TokenBuffer& tokenBuffer, FocusContextProviding& focus,
    AppExclusionChecking& exclusions, SuggestionPresenting& suggestions, EmojiBrowserPresenting& browser,
    TokenReplacing& inserter, FrontmostApplicationProviding& frontmost, BackspacePosting& backspaces,
    StickerCommandDetector& stickerDetector, StickerCommandDetector& giphyDetector,
    QSet<QString> messagingAppIds, std::optional<StickerServices> stickerServices, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_store(store)
    , m_tokenBuffer(tokenBuffer)
    , m_focus(focus)
    , m_exclusions(exclusions)
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
        if (m_isPanelActive && m_suggestions.containsGlobalPoint(event.globalPosition))
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
    if (!m_settings.enabled() || m_isInserting)
        return false;
    if (action == KeyAction::modified) {
        cancel();
        return false;
    }
    const std::optional<QString> appId = m_frontmost.frontmostApplicationId();
    if (m_exclusions.isAppExcluded(appId)) {
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
        if (action == KeyAction::text)
            m_silenced.feed(text);
        else
            m_silenced.reset();
    }
    // Accessibility queries are slow; ordinary typing outside a token never makes them.
    const bool needsContext = m_isPanelActive || m_tokenBuffer.isTokenOpen() || m_unsettledTrigger ||
                              (action == KeyAction::text && text == trigger());
    if (needsContext && !passesContextCheck(appId)) {
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

bool AutocompleteCoordinator::passesContextCheck(const std::optional<QString>& appId) {
    m_lastCheckFoundSecure = false;
    if (m_exclusions.shouldCheckSite(appId)) {
        std::optional<QString> host;
        if (const std::optional<QUrl> url = m_focus.currentBrowserURL()) {
            const QString h = url->host();
            if (!h.isEmpty())
                host = h;
        }
        if (m_exclusions.isSiteDisabled(host))
            return false;
    }
    m_lastCheckFoundSecure = m_focus.isSecureFieldFocused();
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
    constexpr int fieldCatchUpMs = 100;
    const std::optional<ColonToken> typed = m_silenced.currentToken();
    if (!typed || m_silencedSince.elapsed() > lateAnnouncementMs)
        return;
    if (!m_settings.enabled() || m_isInserting || m_isBrowserActive || m_isStickerSearchActive ||
        m_tokenBuffer.isTokenOpen())
        return;
    const std::optional<QString> appId = m_frontmost.frontmostApplicationId();
    if (m_exclusions.isAppExcluded(appId) || !passesContextCheck(appId))
        return;
    const std::optional<QString> before = m_focus.textBeforeCaret(TokenBuffer::maxQueryLength + 2);
    if (!before)
        return;
    // The field may not have caught up with every key yet: the trigger at least must be in it. Until
    // it is, the field is read again a little later.
    qsizetype shown = typed->raw.size();
    while (shown > 0 && !before->endsWith(typed->raw.left(shown)))
        --shown;
    if (shown == 0) {
        m_silenced.feed(typed->raw); // the check above forgot it
        const QPointer<AutocompleteCoordinator> self(this);
        QTimer::singleShot(fieldCatchUpMs, this, [self] {
            if (self)
                self->focusMoved();
        });
        return;
    }
    Transaction transaction(*this);
    m_tokenBuffer.reset();
    m_tokenBuffer.feed(before->left(before->size() - shown));
    const std::optional<ColonToken> token = m_tokenBuffer.feed(typed->raw);
    if (!token) {
        m_tokenBuffer.reset();
        return;
    }
    m_tokenWindow = m_frontmost.frontmostWindow();
    update(token);
}

bool AutocompleteCoordinator::handleTokenKey(KeyAction action, const QString& text, bool canSwallow) {
    switch (action) {
    case KeyAction::backspace:
        update(m_tokenBuffer.deleteBackward());
        return false; // the application deletes the character; the buffer follows
    case KeyAction::wordBackspace:
    case KeyAction::space:
    case KeyAction::modified:
        cancel();
        return false;
    case KeyAction::tab:
        if (m_isPanelActive && m_settings.acceptWithTab()) {
            accept();
            return true;
        }
        return false;
    case KeyAction::returnKey:
        if (!m_isPanelActive)
            return false;
        if (m_settings.acceptWithReturn()) {
            accept();
            return true;
        }
        cancel();
        return false;
    case KeyAction::escape: {
        const bool wasShown = m_isPanelActive;
        cancel();
        return wasShown;
    }
    case KeyAction::up:
    case KeyAction::down:
        if (m_isPanelActive) {
            moveSelection(action == KeyAction::up ? -1 : +1);
            return true;
        }
        cancel();
        return false;
    case KeyAction::left:
    case KeyAction::right:
        if (m_isPanelActive && moveTone(action == KeyAction::left ? -1 : +1))
            return true;
        cancel();
        return false;
    case KeyAction::text:
        return handleText(text, canSwallow);
    }
    return false;
}

bool AutocompleteCoordinator::handleText(const QString& text, bool canSwallow) {
    // A trigger that is in the field already is typed text like any other.
    if (canSwallow && text == trigger()) {
        if (const std::optional<ColonToken> token = m_tokenBuffer.currentToken()) {
            if (token->query.isEmpty()) {
                if (m_settings.openBrowserOnDoubleTrigger()) {
                    openBrowser();
                    return true;
                }
            } else if (m_settings.replaceOnClosingColon()) {
                const std::optional<EmojiEntry> entry =
                    m_engine.exactMatch(token->query, m_store.entries(), m_store.searchIndex());
                if (entry) {
                    performInsertion(*entry, text::graphemeCount(token->raw),
                                     effectiveTone(*entry, m_focusedToneIndex), false);
                    return true;
                }
            }
        }
    }
    std::optional<ColonToken> last;
    forEachCharacter(text, [&](const QString& character) { last = m_tokenBuffer.feed(character); });
    update(last);
    return false;
}

// ---- Suggestions ----------------------------------------------------------------------------

void AutocompleteCoordinator::update(const std::optional<ColonToken>& token) {
    if (!token) {
        hide();
        return;
    }
    m_currentToken = token;
    if (token->query.isEmpty() && !m_settings.showImmediatelyAfterColon()) {
        hide();
        return;
    }
    QList<EmojiEntry> found =
        m_engine.search(token->query, m_store.entries(), m_store.searchIndex(), resultLimit);
    if (found.isEmpty()) {
        hide();
        return;
    }
    m_results = std::move(found);
    m_selectedIndex = 0;
    m_focusedToneIndex.reset();
    m_isPanelActive = true;
    // Presented again on every update so that the popover follows the caret.
    schedulePresentation();
}

void AutocompleteCoordinator::schedulePresentation() {
    m_presentationPending = true;
    queueSettle();
}

void AutocompleteCoordinator::afterAnswer(std::function<void()> work) {
    m_pendingWork.append(std::move(work));
    queueSettle();
}

void AutocompleteCoordinator::queueSettle() {
    if (std::exchange(m_settleQueued, true))
        return;
    // Queued behind the keys the hook has handed over already: they are read first, and a burst
    // of letters is presented once.
    QMetaObject::invokeMethod(
        this, [this] { settle(); }, Qt::QueuedConnection);
}

void AutocompleteCoordinator::runPendingWork() {
    while (!m_pendingWork.isEmpty())
        m_pendingWork.takeFirst()();
}

void AutocompleteCoordinator::settle() {
    m_settleQueued = false;
    Transaction transaction(*this); // runs the pending work
    if (std::exchange(m_presentationPending, false) && m_isPanelActive) {
        // Where the caret was a key ago is a few pixels off at most; the answer moves it there.
        if (m_isCaretKnown)
            showPanel();
        askCaret();
    }
}

void AutocompleteCoordinator::showPanel() {
    m_shownResults = m_results;
    m_isPanelShown = true;
    m_shownAnchor = m_caret;
    m_suggestions.show(m_results, m_selectedIndex, m_caret, trigger());
    refreshToneStrip();
}

void AutocompleteCoordinator::askCaret() {
    if (m_isCaretAsked) {
        m_isCaretOutdated = true;
        return;
    }
    m_isCaretAsked = true;
    m_isCaretOutdated = false;
    const QPointer<AutocompleteCoordinator> self(this);
    m_focus.requestCaretRect([self, serial = m_caretSerial](const std::optional<QRect>& caret) {
        if (self)
            self->caretAnswered(serial, caret);
    });
}

void AutocompleteCoordinator::caretAnswered(quint64 serial, const std::optional<QRect>& caret) {
    Transaction transaction(*this);
    m_isCaretAsked = false;
    const bool outdated = std::exchange(m_isCaretOutdated, false);
    if (serial == m_caretSerial) {
        m_isCaretKnown = true;
        m_caret = caret;
        if (m_isPanelActive && !m_presentationPending && (!m_isPanelShown || m_shownAnchor != caret))
            showPanel();
    }
    if (outdated && (m_isPanelActive || m_tokenBuffer.isTokenOpen()))
        askCaret();
}

void AutocompleteCoordinator::forgetCaret() {
    m_isCaretKnown = false;
    m_caret.reset();
    ++m_caretSerial;
}

bool AutocompleteCoordinator::isPresenterCurrent() const {
    return m_isPanelShown && !m_presentationPending;
}

void AutocompleteCoordinator::refreshToneStrip() {
    if (!isPresenterCurrent())
        return; // drawn with the rest when the popover is shown
    if (m_isPanelActive && selectedEntryAcceptsTone()) {
        const EmojiEntry& entry = m_results.at(m_selectedIndex);
        m_toneStripRow = m_selectedIndex;
        m_suggestions.showToneVariants(toneVariants(entry),
                                       m_focusedToneIndex.value_or(defaultTonePosition()));
    } else {
        m_toneStripRow.reset();
        m_suggestions.hideToneVariants();
    }
}

void AutocompleteCoordinator::moveSelection(int delta) {
    const int count = static_cast<int>(m_results.size());
    if (count == 0)
        return;
    m_selectedIndex = (m_selectedIndex + delta + count) % count;
    m_focusedToneIndex.reset();
    if (isPresenterCurrent())
        m_suggestions.updateSelection(m_selectedIndex);
    refreshToneStrip();
}

bool AutocompleteCoordinator::moveTone(int delta) {
    if (!selectedEntryAcceptsTone())
        return false;
    // No wrapping: at either end the key is still taken, so the caret does not jump.
    m_focusedToneIndex =
        std::clamp(m_focusedToneIndex.value_or(defaultTonePosition()) + delta, 0, toneCount - 1);
    refreshToneStrip();
    return true;
}

SkinTone AutocompleteCoordinator::effectiveTone(const EmojiEntry& entry,
                                                std::optional<int> focusedTone) const {
    if (!acceptsSkinTone(entry))
        return SkinTone::yellow;
    if (focusedTone)
        return allSkinTones.at(static_cast<std::size_t>(*focusedTone));
    return m_settings.skinTone();
}

int AutocompleteCoordinator::defaultTonePosition() const {
    return position(m_settings.skinTone());
}

bool AutocompleteCoordinator::selectedEntryAcceptsTone() const {
    return m_selectedIndex >= 0 && m_selectedIndex < m_results.size() &&
           acceptsSkinTone(m_results.at(m_selectedIndex));
}

void AutocompleteCoordinator::accept() {
    if (m_selectedIndex < 0 || m_selectedIndex >= m_results.size() || !m_currentToken) {
        cancel();
        return;
    }
    const EmojiEntry entry = m_results.at(m_selectedIndex); // hide() below clears the results
    const SkinTone tone = effectiveTone(entry, m_focusedToneIndex);
    // A tone picked in the strip becomes the new default.
    const bool remember =
        m_focusedToneIndex.has_value() && acceptsSkinTone(entry) && tone != m_settings.skinTone();
    performInsertion(entry, text::graphemeCount(m_currentToken->raw), tone, remember);
}

void AutocompleteCoordinator::performInsertion(const EmojiEntry& entry, int eraseCount, SkinTone tone,
                                               bool remember) {
    const QString text = applySkinTone(tone, entry.emoji, entry.supportsSkinTones);
    // Both are writes of the settings file; nothing reads them before the insertion is over.
    if (remember)
        afterAnswer([this, tone] { m_settings.setSkinTone(tone); });
    m_isInserting = true;
    hide();
    m_tokenBuffer.reset();
    const QPointer<AutocompleteCoordinator> self(this);
    m_inserter.replaceToken(eraseCount, text, [self] {
        if (self)
            self->insertionFinished();
    });
    afterAnswer([this, emoji = entry.emoji] { m_store.recordUse(emoji); });
}

void AutocompleteCoordinator::insertionFinished() {
    Transaction transaction(*this);
    m_isInserting = false;
}

void AutocompleteCoordinator::hide() {
    m_currentToken.reset();
    m_presentationPending = false;
    m_shownResults.clear();
    m_isPanelShown = false;
    forgetCaret();
    if (!m_results.isEmpty())
        m_results.clear();
    m_selectedIndex = 0;
    m_focusedToneIndex.reset();
    m_toneStripRow.reset();
    if (m_isPanelActive) {
        m_isPanelActive = false;
        m_suggestions.hide();
    }
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
    afterAnswer([this] { m_browser.show(m_store.entries()); });
}

bool AutocompleteCoordinator::routeToBrowser(KeyAction action, const QString& text) {
    // Tab is the browser's only difference: it passes, where the picker takes it as a pick.
    return routeToPanel(m_browser.model(), action, text, /*tabPicks=*/false);
}

// A click acts on the emoji the user saw; the keys typed before it, which the toolkit's click may
// have overtaken, are read first so that the erase covers everything in the field. Where the
// clicked emoji is now in the list, or nullopt when those keys ended the token or changed the list
// under the pointer. `clicked` is a copy: catching up replaces the list it came from.
std::optional<int> AutocompleteCoordinator::catchUpBeforeClick(EmojiEntry clicked) {
    if (m_catchUp)
        m_catchUp();
    if (!m_isPanelActive || m_isInserting || !m_currentToken)
        return std::nullopt;
    const qsizetype at = m_results.indexOf(clicked);
    return at < 0 ? std::nullopt : std::optional<int>(static_cast<int>(at));
}

void AutocompleteCoordinator::pickRow(int row) {
    if (row < 0 || row >= m_shownResults.size())
        return;
    const std::optional<int> now = catchUpBeforeClick(m_shownResults.at(row));
    Transaction transaction(*this);
    if (!now)
        return;
    m_selectedIndex = *now;
    accept();
}

void AutocompleteCoordinator::hoverRow(int row) {
    Transaction transaction(*this);
    if (row < 0 || row >= m_shownResults.size())
        return;
    const qsizetype at = m_results.indexOf(m_shownResults.at(row));
    if (at < 0)
        return;
    m_selectedIndex = static_cast<int>(at);
    if (isPresenterCurrent())
        m_suggestions.updateSelection(m_selectedIndex);
}

void AutocompleteCoordinator::pickTone(int variant) {
    if (variant < 0 || variant >= toneCount)
        return;
    const int row =
        m_toneStripRow && *m_toneStripRow < m_shownResults.size() ? *m_toneStripRow : m_selectedIndex;
    if (row < 0 || row >= m_shownResults.size())
        return;
    const std::optional<int> now = catchUpBeforeClick(m_shownResults.at(row));
    Transaction transaction(*this);
    if (!now)
        return;
    m_selectedIndex = *now;
    m_focusedToneIndex = variant;
    accept();
}

void AutocompleteCoordinator::browserPicked(const EmojiEntry& entry) {
    Transaction transaction(*this);
    m_isBrowserActive = false;
    // Only the first trigger is in the text: the second never reached the application.
    performInsertion(entry, 1, effectiveTone(entry, std::nullopt), false);
}

void AutocompleteCoordinator::browserDismissed() {
    Transaction transaction(*this);
    m_isBrowserActive = false;
}

// ---- Slash commands -------------------------------------------------------------------------

bool AutocompleteCoordinator::hasStickerServices() const {
    return m_stickerServices && m_stickerServices->store && m_stickerServices->picker &&
           m_stickerServices->inserter;
}

bool AutocompleteCoordinator::isStickerCommandUsable() const {
    return m_settings.stickerCommandEnabled() && hasStickerServices();
}

bool AutocompleteCoordinator::isGiphyCommandUsable() const {
    return m_settings.giphyCommandEnabled() && hasStickerServices() && bool(m_stickerServices->giphySearch);
}

bool AutocompleteCoordinator::isMessagingApp(const std::optional<QString>& appId) const {
    return appId && m_messagingAppIds.contains(*appId);
}

void AutocompleteCoordinator::resetDetectors() {
    m_stickerDetector.reset();
    m_giphyDetector.reset();
}

std::optional<bool> AutocompleteCoordinator::handleCommandKey(KeyAction action, const QString& text,
                                                              const std::optional<QString>& appId) {
    const bool stickerUsable = isStickerCommandUsable();
    const bool giphyUsable = isGiphyCommandUsable();
    if ((!stickerUsable && !giphyUsable) || !isMessagingApp(appId)) {
        resetDetectors();
        return std::nullopt;
    }
    switch (action) {
    case KeyAction::text:
        // The command is typed into the message field like any text.
        forEachCharacter(text, [this](const QString& character) {
            m_stickerDetector.feed(character);
            m_giphyDetector.feed(character);
        });
        return std::nullopt;
    case KeyAction::backspace:
        m_stickerDetector.deleteBackward();
        m_giphyDetector.deleteBackward();
        return std::nullopt;
    case KeyAction::space:
        // Only the confirming Space is withheld, so the field holds exactly the command.
        if (giphyUsable && m_giphyDetector.isMatched()) {
            startGiphyMode();
            return true;
        }
        if (stickerUsable && m_stickerDetector.isMatched()) {
            startStickerMode();
            return true;
        }
        resetDetectors();
        return std::nullopt;
    default:
        resetDetectors();
        return std::nullopt;
    }
}

void AutocompleteCoordinator::beginCommand(int length, bool isGiphy) {
    hide();
    m_tokenBuffer.reset();
    resetDetectors();
    m_pendingCommandLength = length;
    m_isGiphyActive = isGiphy;
    m_isStickerSearchActive = true;
}

void AutocompleteCoordinator::startStickerMode() {
    beginCommand(m_stickerDetector.commandLength(), false);
    StickerPickerPresenting& picker = *m_stickerServices->picker;
    picker.model().loadStickers(m_stickerServices->store->stickers());
    afterAnswer([&picker] { picker.show(); });
}

void AutocompleteCoordinator::startGiphyMode() {
    beginCommand(m_giphyDetector.commandLength(), true);
    StickerPickerPresenting& picker = *m_stickerServices->picker;
    picker.model().loadRemote(m_giphyDetector.command(), m_stickerServices->giphySearch);
    afterAnswer([&picker] { picker.show(); });
}

bool AutocompleteCoordinator::routeToPicker(KeyAction action, const QString& text) {
    return routeToPanel(m_stickerServices->picker->model(), action, text, /*tabPicks=*/true);
}

void AutocompleteCoordinator::stickerPicked(const StickerEntry& entry) {
    Transaction transaction(*this);
    m_isStickerSearchActive = false;
    m_isInserting = true;
    if (!m_isGiphyActive)
        afterAnswer([this, id = entry.id] { m_stickerServices->store->recordUse(id); });
    const int eraseCount = m_pendingCommandLength;
    const QPointer<AutocompleteCoordinator> self(this);
    m_stickerServices->store->fetchFile(entry, [self, entry, eraseCount](std::optional<QUrl> file) {
        if (self)
            self->stickerFileFetched(entry, eraseCount, file);
    });
}

void AutocompleteCoordinator::stickerFileFetched(const StickerEntry& entry, int eraseCount,
                                                 const std::optional<QUrl>& file) {
    Transaction transaction(*this);
    if (!file) {
        m_isInserting = false; // the command text stays in the field
        return;
    }
    const QPointer<AutocompleteCoordinator> self(this);
    m_stickerServices->inserter->insert(*file, entry.isAnimated, eraseCount, [self] {
        if (self)
            self->insertionFinished();
    });
}

void AutocompleteCoordinator::pickerDismissed() {
    Transaction transaction(*this);
    // After cancel() the picker is already closed and its command must stay; a dismissal that
    // the ordering-out provokes is not the user's.
    if (!m_isStickerSearchActive)
        return;
    m_isStickerSearchActive = false;
    const int count = m_pendingCommandLength;
    QTimer::singleShot(std::chrono::milliseconds(dismissalEraseDelayMs), this,
                       [this, count] { eraseDismissedCommand(count); });
}

void AutocompleteCoordinator::eraseDismissedCommand(int count) {
    if (count > 0 && isMessagingApp(m_frontmost.frontmostApplicationId()))
        m_backspaces.pressBackspace(count);
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
    if (m_isPanelActive || token)
        keys.actions |= popoverKeys.actions;
    if (m_isPanelActive && selectedEntryAcceptsTone()) {
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
