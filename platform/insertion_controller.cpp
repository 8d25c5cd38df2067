#include "platform/insertion_controller.h"

#include "platform/clipboard_manager.h"
#include "platform/keyboard_synthesizer.h"
#include "platform/paste_on_loan.h"

namespace pimsel {

InsertionController::InsertionController(KeyboardSynthesizer& synthesizer, ClipboardManager& clipboard,
                                         QObject* parent)
    : QObject(parent)
    , m_synthesizer(synthesizer)
    , m_clipboard(clipboard) {}

void InsertionController::replaceToken(int eraseCount, const QString& text,
                                       std::function<void()> completion) {
    m_synthesizer.pressBackspace(eraseCount);
    ClipboardManager& clipboard = m_clipboard;
    pasteOnLoan(
        this, m_clipboard, m_synthesizer, [&clipboard, text] { clipboard.lend(text); }, pasteDelay,
        clipboardRestoreDelay, std::move(completion));
}

} // namespace pimsel
