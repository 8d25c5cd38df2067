#pragma once

#include "engine/ports.h"

namespace pimsel {

// What Pimsel's own focused widget says about itself, read from the widget in this process: a
// password line edit, where its cursor is on screen and the text before it.
class OwnFocusContext : public FocusContextProviding {
public:
    bool isSecureFieldFocused() override;
    // A one-pixel-wide line at the cursor, in global coordinates.
    std::optional<QRect> caretRect() override;
    std::optional<QUrl> currentBrowserURL() override { return std::nullopt; }
    std::optional<QString> textBeforeCaret(int count) override;
};

} // namespace pimsel
