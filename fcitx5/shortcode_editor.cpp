#include "fcitx5/shortcode_editor.h"

#include "engine/text.h"
#include "fcitx5/field_context.h"
#include "fcitx5/profile.h"

#include <fcitx/candidatelist.h>
#include <fcitx/inputcontext.h>
#include <fcitx/inputpanel.h>
#include <fcitx/text.h>

namespace pimsel::fcitx5 {

namespace {

class SuggestionWord : public fcitx::CandidateWord {
public:
    SuggestionWord(const QString& label, int row, const ShortcodeEditor::PickHandler& onPick)
        : fcitx::CandidateWord(fcitx::Text(label.toStdString()))
        , m_row(row)
        , m_onPick(onPick) {}

    void select(fcitx::InputContext* ic) const override {
        if (ic != nullptr && m_onPick)
            m_onPick(*ic, m_row);
    }

private:
    int m_row;
    ShortcodeEditor::PickHandler m_onPick;
};

} // namespace

ShortcodeEditor::ShortcodeEditor(std::shared_ptr<Profile> profile, PickHandler onPick, BrowseHandler onBrowse)
    : m_profile(std::move(profile))
    , m_onPick(std::move(onPick))
    , m_onBrowse(std::move(onBrowse))
    , m_buffer([profile = m_profile.get()] { return profile->settings().triggerCharacter(); })
    , m_session(m_profile->settings(), m_profile->store(), m_profile->engine()) {}

bool ShortcodeEditor::handleKey(fcitx::InputContext& ic, KeyAction action, const QString& text) {
    // After a deletion, a click or in a new field the keys seen so far cannot tell what precedes the
    // caret; the field can, where its frontend passes the surrounding text on. Clients report their
    // text after they have applied the keys passed on to them: a field that does not hold the
    // character last typed yet is behind the keys, and the keys know better.
    if (action == KeyAction::text && text == m_profile->settings().triggerCharacter() &&
        !m_buffer.acceptsTrigger()) {
        FieldContext field(ic);
        const auto* lastTyped = std::get_if<QString>(&m_buffer.preceding());
        const std::optional<QString> before = field.textBeforeCaret(TokenBuffer::contextLength);
        if (before && (lastTyped == nullptr || field.holds(*lastTyped)))
            m_buffer.learnTextBeforeTrigger(*before);
    }
    const std::optional<ColonToken> typed = m_buffer.currentToken();
    const SuggestionSession::Answer answer = m_session.answerKey(action, text, true, typed);
    switch (answer.step) {
    case SuggestionSession::Step::none:
        // Tab or Return with nothing to accept: the shortcode ends as typed and the key goes on.
        if (typed)
            finish(ic, typed);
        return false;
    case SuggestionSession::Step::follow:
        return action == KeyAction::backspace ? followBackspace(ic, typed) : followText(ic, text, typed);
    case SuggestionSession::Step::movedRow:
    case SuggestionSession::Step::movedTone:
        showCandidates(ic);
        return true;
    case SuggestionSession::Step::end:
        finish(ic, typed);
        return answer.taken && typed.has_value();
    case SuggestionSession::Step::commit:
        commitEmoji(ic, *answer.commit);
        return true;
    case SuggestionSession::Step::openBrowser:
        // The first trigger leaves the preedit without reaching the field: the toolkit would commit
        // a preedit itself when the browser takes the focus, and a pick replaces the trigger.
        m_buffer.reset();
        release(ic, typed, false);
        m_onBrowse(ic, typed->raw, typed->raw + text);
        return true;
    }
    return false;
}

bool ShortcodeEditor::followText(fcitx::InputContext& ic, const QString& text,
                                 const std::optional<ColonToken>& typed) {
    std::optional<ColonToken> token;
    text::forEachCharacter(text, [&](const QString& character) { token = m_buffer.feed(character); });
    if (token) {
        // Whatever the key typed before the shortcode goes to the field; the shortcode stays here.
        const QString typedNow = (typed ? typed->raw : QString()) + text;
        const QString head = typedNow.left(typedNow.size() - token->raw.size());
        if (!head.isEmpty())
            ic.commitString(head.toStdString());
        present(ic, token);
        return true;
    }
    // A character no shortcode holds: the shortcode is plain text, and the key follows it.
    release(ic, typed, true);
    return false;
}

bool ShortcodeEditor::followBackspace(fcitx::InputContext& ic, const std::optional<ColonToken>& typed) {
    const std::optional<ColonToken> token = m_buffer.deleteBackward();
    if (!typed)
        return false;
    present(ic, token);
    return true;
}

void ShortcodeEditor::pick(fcitx::InputContext& ic, int row) {
    if (!m_session.isShowing() || row < 0 || row >= m_session.results().size())
        return;
    m_session.select(row);
    if (const std::optional<SuggestionSession::Commit> commit = m_session.accept())
        commitEmoji(ic, *commit);
}

void ShortcodeEditor::abandon(fcitx::InputContext& ic, bool commitTyped) {
    const std::optional<ColonToken> typed = m_buffer.currentToken();
    m_buffer.reset();
    release(ic, typed, commitTyped);
}

void ShortcodeEditor::present(fcitx::InputContext& ic, const std::optional<ColonToken>& token) {
    if (!token) {
        m_session.end();
        clearPanel(ic);
        return;
    }
    if (!m_session.update(token))
        m_session.end();
    fcitx::InputPanel& panel = ic.inputPanel();
    fcitx::Text preedit;
    const std::string raw = token->raw.toStdString();
    const bool inClient = ic.capabilityFlags().test(fcitx::CapabilityFlag::Preedit);
    preedit.append(raw, inClient ? fcitx::TextFormatFlag::Underline : fcitx::TextFormatFlag::NoFlag);
    preedit.setCursor(static_cast<int>(raw.size()));
    if (inClient)
        panel.setClientPreedit(preedit);
    else
        panel.setPreedit(preedit);
    ic.updatePreedit();
    showCandidates(ic);
}

void ShortcodeEditor::showCandidates(fcitx::InputContext& ic) {
    fcitx::InputPanel& panel = ic.inputPanel();
    if (!m_session.isShowing()) {
        panel.setCandidateList(nullptr);
        ic.updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
        return;
    }
    auto list = std::make_unique<fcitx::CommonCandidateList>();
    const QList<EmojiEntry>& results = m_session.results();
    list->setPageSize(SuggestionSession::resultLimit);
    list->setLayoutHint(fcitx::CandidateLayoutHint::Vertical);
    // No digit picks a row: digits belong in shortcodes such as ":100:".
    list->setLabels(std::vector<std::string>(SuggestionSession::resultLimit));
    const QString trigger = m_profile->settings().triggerCharacter();
    for (int row = 0; row < results.size(); ++row) {
        const EmojiEntry& entry = results.at(row);
        const std::optional<int> tone =
            row == m_session.selectedIndex() ? m_session.focusedToneIndex() : std::nullopt;
        const QString emoji =
            applySkinTone(m_session.effectiveTone(entry, tone), entry.emoji, entry.supportsSkinTones);
        const QString name = entry.aliases.isEmpty() ? entry.name : entry.aliases.first();
        list->append<SuggestionWord>(emoji + QStringLiteral("  ") + trigger + name, row, m_onPick);
    }
    list->setGlobalCursorIndex(m_session.selectedIndex());
    panel.setCandidateList(std::move(list));
    ic.updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
}

void ShortcodeEditor::commitEmoji(fcitx::InputContext& ic, const SuggestionSession::Commit& commit) {
    const EmojiEntry& entry = commit.entry;
    m_session.end();
    m_buffer.reset();
    clearPanel(ic);
    ic.commitString(applySkinTone(commit.tone, entry.emoji, entry.supportsSkinTones).toStdString());
    // Both write the shared settings file; this process's own write is no reason to reload it.
    if (commit.rememberTone)
        m_profile->settings().setSkinTone(commit.tone);
    m_profile->store().recordUse(entry.emoji);
    m_profile->noteOwnWrite();
}

void ShortcodeEditor::finish(fcitx::InputContext& ic, const std::optional<ColonToken>& typed) {
    m_buffer.reset();
    release(ic, typed, true);
}

void ShortcodeEditor::release(fcitx::InputContext& ic, const std::optional<ColonToken>& typed,
                              bool commitTyped) {
    m_session.end();
    if (!typed)
        return;
    clearPanel(ic);
    if (commitTyped)
        ic.commitString(typed->raw.toStdString());
}

void ShortcodeEditor::clearPanel(fcitx::InputContext& ic) {
    ic.inputPanel().reset();
    ic.updatePreedit();
    ic.updateUserInterface(fcitx::UserInterfaceComponent::InputPanel);
}

} // namespace pimsel::fcitx5
