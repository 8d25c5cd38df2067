// The popover of the coordinator's session: when it is drawn, where the caret is, and the clicks
// and hovers on its rows and tones.

#include "engine/autocomplete_coordinator.h"

#include "engine/coordinator_transaction.h"

#include <QPointer>

namespace pimsel {

namespace {

constexpr int toneCount = static_cast<int>(allSkinTones.size());

} // namespace

void AutocompleteCoordinator::settle() {
    Transaction transaction(*this); // runs the pending work
    if (!m_queue.takePresentation())
        return;
    if (isPanelActive()) {
        if (!m_isCaretKnown) {
            askCaret();
            return;
        }
        // Where the caret was a key ago is a few pixels off at most; the answer moves it there. It
        // is asked once the popover is drawn: the application answering would compete with that.
        showPanel();
        const QPointer<AutocompleteCoordinator> self(this);
        m_suggestions.whenDrawn([self] {
            if (self)
                self->askCaret();
        });
    } else if (m_tokenBuffer.isTokenOpen() && !m_isCaretKnown) {
        askCaret();
    }
}

void AutocompleteCoordinator::showPanel() {
    m_shownResults = m_session.results();
    m_isPanelShown = true;
    m_shownAnchor = m_caret;
    m_suggestions.show(m_session.results(), m_session.selectedIndex(), m_caret, trigger());
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
        if (isPanelActive() && !m_queue.isPresentationPending() &&
            (!m_isPanelShown || m_shownAnchor != caret))
            showPanel();
    }
    if (outdated && (isPanelActive() || m_tokenBuffer.isTokenOpen()))
        askCaret();
}

void AutocompleteCoordinator::forgetCaret() {
    m_isCaretKnown = false;
    m_caret.reset();
    ++m_caretSerial;
}

bool AutocompleteCoordinator::isPresenterCurrent() const {
    return m_isPanelShown && !m_queue.isPresentationPending();
}

void AutocompleteCoordinator::refreshToneStrip() {
    if (!isPresenterCurrent())
        return; // drawn with the rest when the popover is shown
    if (isPanelActive() && m_session.selectedEntryAcceptsTone()) {
        const EmojiEntry& entry = m_session.results().at(m_session.selectedIndex());
        m_toneStripRow = m_session.selectedIndex();
        m_suggestions.showToneVariants(toneVariants(entry), m_session.toneHighlight());
    } else {
        m_toneStripRow.reset();
        m_suggestions.hideToneVariants();
    }
}

// A click acts on the emoji the user saw; the keys typed before it, which the toolkit's click may
// have overtaken, are read first so that the erase covers everything in the field. Where the
// clicked emoji is now in the list, or nullopt when those keys ended the token or changed the list
// under the pointer. `clicked` is a copy: catching up replaces the list it came from.
std::optional<int> AutocompleteCoordinator::catchUpBeforeClick(EmojiEntry clicked) {
    if (m_catchUp)
        m_catchUp();
    if (!isPanelActive() || m_isInserting || !m_session.token())
        return std::nullopt;
    const qsizetype at = m_session.results().indexOf(clicked);
    return at < 0 ? std::nullopt : std::optional<int>(static_cast<int>(at));
}

void AutocompleteCoordinator::pickRow(int row) {
    acceptShownRow(row, std::nullopt);
}

// A click names a row as it was on screen; the state may have moved on since it was drawn.
void AutocompleteCoordinator::acceptShownRow(int row, std::optional<int> tone) {
    if (row < 0 || row >= m_shownResults.size())
        return;
    const std::optional<int> now = catchUpBeforeClick(m_shownResults.at(row));
    Transaction transaction(*this);
    if (!now)
        return;
    m_session.select(*now);
    if (tone)
        m_session.focusTone(*tone);
    accept();
}

void AutocompleteCoordinator::hoverRow(int row) {
    Transaction transaction(*this);
    if (row < 0 || row >= m_shownResults.size())
        return;
    const qsizetype at = m_session.results().indexOf(m_shownResults.at(row));
    if (at < 0)
        return;
    m_session.select(static_cast<int>(at));
    if (isPresenterCurrent())
        m_suggestions.updateSelection(m_session.selectedIndex());
}

void AutocompleteCoordinator::pickTone(int variant) {
    if (variant < 0 || variant >= toneCount)
        return;
    const int row = m_toneStripRow && *m_toneStripRow < m_shownResults.size() ? *m_toneStripRow
                                                                              : m_session.selectedIndex();
    acceptShownRow(row, variant);
}

} // namespace pimsel
