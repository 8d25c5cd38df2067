#pragma once

#include "engine/emoji_entry.h"
#include "engine/input_event.h"
#include "engine/token_buffer.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace pimsel {

class EmojiProviding;
class EmojiSearchEngine;
class SettingsStore;

// The rules of one open shortcode: what it finds, which row and which skin tone are picked, and
// what each key does to it. It neither waits nor draws: the coordinator feeds the token buffer,
// presents the popover and inserts, as each answer says.
class SuggestionSession {
public:
    static constexpr int resultLimit = 6;

    // An emoji that replaces the typed shortcode.
    struct Commit {
        EmojiEntry entry;
        SkinTone tone = SkinTone::yellow;
        int eraseCount = 0;        // characters of the field the emoji replaces
        bool rememberTone = false; // a tone picked in the strip becomes the default
    };

    // What the coordinator does after the session has seen a key.
    enum class Step {
        none,        // nothing: the key passes, or it was taken with nothing else to do
        follow,      // the token buffer follows the key (a character typed or deleted)
        movedRow,    // another row is selected
        movedTone,   // another tone is highlighted in the strip
        end,         // the shortcode ends
        commit,      // `commit` replaces the shortcode
        openBrowser, // a trigger right after the trigger opens the emoji browser
    };
    struct Answer {
        Answer(Step step = Step::none, bool taken = false, std::optional<Commit> commit = std::nullopt)
            : step(step)
            , taken(taken)
            , commit(std::move(commit)) {}
        Step step;
        bool taken; // the key is kept from the application
        std::optional<Commit> commit;
    };

    // All three must outlive the session.
    SuggestionSession(const SettingsStore& settings, const EmojiProviding& store,
                      const EmojiSearchEngine& engine);

    // The shortcode as the buffer now reads it (none: it is over). False when the popover has
    // nothing to show: the coordinator then ends the session.
    bool update(const std::optional<ColonToken>& token);
    void end();

    // `typed` is the token buffer's open token, which may exist while the popover shows nothing (a
    // bare trigger, a query without results).
    Answer answerKey(KeyAction action, const QString& text, bool canSwallow,
                     const std::optional<ColonToken>& typed);

    // The selected row, with the highlighted tone; none when nothing can be committed.
    std::optional<Commit> accept() const;
    void select(int row);
    void focusTone(int variant) { m_focusedToneIndex = variant; }

    bool isShowing() const { return m_isShowing; }
    const std::optional<ColonToken>& token() const { return m_token; }
    const QList<EmojiEntry>& results() const { return m_results; }
    int selectedIndex() const { return m_selectedIndex; }
    std::optional<int> focusedToneIndex() const { return m_focusedToneIndex; }
    bool selectedEntryAcceptsTone() const;
    // The strip's highlight: the tone picked with the arrows, else the default one.
    int toneHighlight() const;

    // The tone an insertion of `entry` gets: the one focused in the strip, else the default.
    SkinTone effectiveTone(const EmojiEntry& entry, std::optional<int> focusedTone) const;

private:
    Answer acceptAnswer() const;
    Answer closingTrigger(const std::optional<ColonToken>& typed) const;
    void moveSelection(int delta);
    bool moveTone(int delta);

    const SettingsStore& m_settings;
    const EmojiProviding& m_store;
    const EmojiSearchEngine& m_engine;

    bool m_isShowing = false;
    std::optional<ColonToken> m_token;
    QList<EmojiEntry> m_results;
    int m_selectedIndex = 0;
    std::optional<int> m_focusedToneIndex;
};

} // namespace pimsel
