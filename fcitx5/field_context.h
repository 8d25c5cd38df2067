#pragma once

#include "engine/ports.h"

namespace fcitx {
class InputContext;
}

namespace pimsel::fcitx5 {

// The focused field as an fcitx5 input context describes it. Everything comes with the context
// itself (capabilities, surrounding text, caret): no question leaves the process.
class FieldContext : public FocusContextProviding {
public:
    explicit FieldContext(fcitx::InputContext& ic)
        : m_ic(ic) {}

    // A password field, or one whose text is all bullets: some toolkits mask a field without saying
    // it is a password field.
    bool isSecureFieldFocused() override;
    std::optional<QRect> caretRect() override;
    std::optional<QUrl> currentBrowserURL() override { return std::nullopt; }
    std::optional<QString> textBeforeCaret(int count) override;

    // Whether the text the field last reported contains `text` anywhere.
    bool holds(const QString& text) const;

    // What the exclusion lists match: the program the frontend names, none when it names none.
    std::optional<QString> applicationId() const;

private:
    fcitx::InputContext& m_ic;
};

} // namespace pimsel::fcitx5
