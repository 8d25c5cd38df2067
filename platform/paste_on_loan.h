#pragma once

#include <QObject>

#include <chrono>
#include <functional>

namespace pimsel {

class ClipboardManager;
class KeyboardSynthesizer;

// The clipboard lent for one paste: once the user's clipboard is saved, `lend` puts what is to be
// pasted on it, Ctrl+V follows `pasteDelay` later, and the user's clipboard comes back
// `restoreDelay` after that, then `completion`. Nothing further happens once `context` is gone:
// no paste, no restore, no completion.
void pasteOnLoan(QObject* context, ClipboardManager& clipboard, KeyboardSynthesizer& synthesizer,
                 std::function<void()> lend, std::chrono::milliseconds pasteDelay,
                 std::chrono::milliseconds restoreDelay, std::function<void()> completion);

} // namespace pimsel
