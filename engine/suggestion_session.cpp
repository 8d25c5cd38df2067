#include "engine/suggestion_session.h"

#include "engine/emoji_search_engine.h"
#include "engine/ports.h"
#include "engine/settings_store.h"
#include "engine/text.h"

#include <algorithm>
#include <utility>

namespace pimsel {

namespace {

constexpr int toneCount = static_cast<int>(allSkinTones.size());

} // namespace

SuggestionSession::SuggestionSession(const SettingsStore& settings, const EmojiProviding& store,
                                     const EmojiSearchEngine& engine)
    : m_settings(settings)
    , m_store(store)
    , m_engine(engine) {}

bool SuggestionSession::update(const std::optional<ColonToken>& token) {
    if (!token)
        return false;
    m_token = token;
    if (token->query.isEmpty() && !m_settings.showImmediatelyAfterColon())
        return false;
    QList<EmojiEntry> found =
        m_engine.search(token->query, m_store.entries(), m_store.searchIndex(), resultLimit);
    if (found.isEmpty())
        return false;
    m_results = std::move(found);
    m_selectedIndex = 0;
    m_focusedToneIndex.reset();
    m_isShowing = true;
    return true;
}

void SuggestionSession::end() {
    m_isShowing = false;
    m_token.reset();
    if (!m_results.isEmpty())
        m_results.clear();
    m_selectedIndex = 0;
    m_focusedToneIndex.reset();
}

SuggestionSession::Answer SuggestionSession::answerKey(KeyAction action, const QString& text, bool canSwallow,
                                                       const std::optional<ColonToken>& typed) {
    switch (action) {
    case KeyAction::backspace:
        return {Step::follow, false}; // the application deletes the character; the buffer follows
    case KeyAction::wordBackspace:
    case KeyAction::space:
    case KeyAction::modified:
        return {Step::end, false};
    case KeyAction::tab:
        if (m_isShowing && m_settings.acceptWithTab())
            return acceptAnswer();
        return {};
    case KeyAction::returnKey:
        if (!m_isShowing)
            return {};
        if (m_settings.acceptWithReturn())
            return acceptAnswer();
        return {Step::end, false};
    case KeyAction::escape:
        return {Step::end, m_isShowing};
    case KeyAction::up:
    case KeyAction::down:
        if (!m_isShowing)
            return {Step::end, false};
        moveSelection(action == KeyAction::up ? -1 : +1);
        return {Step::movedRow, true};
    case KeyAction::left:
    case KeyAction::right:
        if (m_isShowing && moveTone(action == KeyAction::left ? -1 : +1))
            return {Step::movedTone, true};
        return {Step::end, false};
    case KeyAction::text:
        // A trigger that is in the field already is typed text like any other.
        if (canSwallow && text == m_settings.triggerCharacter()) {
            if (Answer closing = closingTrigger(typed); closing.taken)
                return closing;
        }
        return {Step::follow, false};
    }
    return {};
}

SuggestionSession::Answer SuggestionSession::closingTrigger(const std::optional<ColonToken>& typed) const {
    if (!typed)
        return {};
    if (typed->query.isEmpty()) {
        if (m_settings.openBrowserOnDoubleTrigger())
            return {Step::openBrowser, true};
    } else if (m_settings.replaceOnClosingColon()) {
        const std::optional<EmojiEntry> entry =
            m_engine.exactMatch(typed->query, m_store.entries(), m_store.searchIndex());
        if (entry)
            return {Step::commit, true,
                    Commit{*entry, effectiveTone(*entry, m_focusedToneIndex), text::graphemeCount(typed->raw),
                           false}};
    }
    return {};
}

SuggestionSession::Answer SuggestionSession::acceptAnswer() const {
    if (std::optional<Commit> commit = accept())
        return {Step::commit, true, std::move(commit)};
    return {Step::end, true};
}

std::optional<SuggestionSession::Commit> SuggestionSession::accept() const {
    if (m_selectedIndex < 0 || m_selectedIndex >= m_results.size() || !m_token)
        return std::nullopt;
    const EmojiEntry& entry = m_results.at(m_selectedIndex);
    const SkinTone tone = effectiveTone(entry, m_focusedToneIndex);
    // A tone picked in the strip becomes the new default.
    const bool remember =
        m_focusedToneIndex.has_value() && acceptsSkinTone(entry) && tone != m_settings.skinTone();
    return Commit{entry, tone, text::graphemeCount(m_token->raw), remember};
}

void SuggestionSession::select(int row) {
    m_selectedIndex = row;
}

void SuggestionSession::moveSelection(int delta) {
    const int count = static_cast<int>(m_results.size());
    if (count == 0)
        return;
    m_selectedIndex = (m_selectedIndex + delta + count) % count;
    m_focusedToneIndex.reset();
}

bool SuggestionSession::moveTone(int delta) {
    if (!selectedEntryAcceptsTone())
        return false;
    // No wrapping: at either end the key is still taken, so the caret does not jump.
    m_focusedToneIndex = std::clamp(toneHighlight() + delta, 0, toneCount - 1);
    return true;
}

bool SuggestionSession::selectedEntryAcceptsTone() const {
    return m_selectedIndex >= 0 && m_selectedIndex < m_results.size() &&
           acceptsSkinTone(m_results.at(m_selectedIndex));
}

int SuggestionSession::toneHighlight() const {
    return m_focusedToneIndex.value_or(position(m_settings.skinTone()));
}

SkinTone SuggestionSession::effectiveTone(const EmojiEntry& entry, std::optional<int> focusedTone) const {
    if (!acceptsSkinTone(entry))
        return SkinTone::yellow;
    if (focusedTone)
        return allSkinTones.at(static_cast<std::size_t>(*focusedTone));
    return m_settings.skinTone();
}

} // namespace pimsel
