#pragma once

#include "engine/ports.h"

#include <QObject>

#include <chrono>

namespace pimsel {

class ClipboardManager;
class KeyboardSynthesizer;

// Replaces the token before the caret: Backspaces at once, the text through the clipboard with a
// paste 20 ms after the user's clipboard has been saved (at most ClipboardManager::saveBudget), and
// the user's clipboard back 400 ms after the paste.
class InsertionController : public QObject, public TokenReplacing {
    Q_OBJECT

public:
    InsertionController(KeyboardSynthesizer& synthesizer, ClipboardManager& clipboard,
                        QObject* parent = nullptr);

    void replaceToken(int eraseCount, const QString& text, std::function<void()> completion) override;

    static constexpr std::chrono::milliseconds pasteDelay{20};
    static constexpr std::chrono::milliseconds clipboardRestoreDelay{400};

private:
    KeyboardSynthesizer& m_synthesizer;
    ClipboardManager& m_clipboard;
};

} // namespace pimsel
