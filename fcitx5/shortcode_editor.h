#pragma once

#include "engine/input_event.h"
#include "engine/suggestion_session.h"
#include "engine/token_buffer.h"

#include <QString>

#include <functional>
#include <memory>

namespace fcitx {
class InputContext;
}

namespace pimsel::fcitx5 {

class Profile;

// One input context's open shortcode. The typed shortcode stays with the input method as preedit
// until it becomes an emoji or plain text, so the field never holds text that must be erased again;
// the suggestions are fcitx5's own candidate list. The rules are the engine's: the token buffer
// reads the keys, the session answers them.
class ShortcodeEditor {
public:
    // A candidate clicked in fcitx5's panel, told to whoever finds the editor of that context.
    using PickHandler = std::function<void(fcitx::InputContext& ic, int row)>;
    // The double trigger: the emoji browser is asked for, with neither trigger in the field yet.
    using BrowseHandler =
        std::function<void(fcitx::InputContext& ic, const QString& firstTrigger, const QString& typed)>;

    ShortcodeEditor(std::shared_ptr<Profile> profile, PickHandler onPick, BrowseHandler onBrowse);

    const Profile* profile() const { return m_profile.get(); }
    bool isTokenOpen() const { return m_buffer.isTokenOpen(); }

    // One key-down, already read into the engine's terms. True: the key is taken.
    bool handleKey(fcitx::InputContext& ic, KeyAction action, const QString& text);
    void pick(fcitx::InputContext& ic, int row);
    // The field stops being one to complete in (the focus left, the context was reset, the field
    // turned out to be a password field). The typed shortcode reaches the field as typed only when
    // `commitTyped`: some clients commit their preedit themselves.
    void abandon(fcitx::InputContext& ic, bool commitTyped);

private:
    bool followText(fcitx::InputContext& ic, const QString& text, const std::optional<ColonToken>& typed);
    bool followBackspace(fcitx::InputContext& ic, const std::optional<ColonToken>& typed);
    void present(fcitx::InputContext& ic, const std::optional<ColonToken>& token);
    void showCandidates(fcitx::InputContext& ic);
    void commitEmoji(fcitx::InputContext& ic, const SuggestionSession::Commit& commit);
    // Ends the shortcode, leaving its text in the field when there is one.
    void finish(fcitx::InputContext& ic, const std::optional<ColonToken>& typed);
    // The same, with the token buffer left as it reads the keys.
    void release(fcitx::InputContext& ic, const std::optional<ColonToken>& typed, bool commitTyped);
    void clearPanel(fcitx::InputContext& ic);

    std::shared_ptr<Profile> m_profile;
    PickHandler m_onPick;
    BrowseHandler m_onBrowse;
    TokenBuffer m_buffer;
    SuggestionSession m_session;
};

} // namespace pimsel::fcitx5
