#include "platform/insertion_controller.h"

#include "platform/clipboard_manager.h"
#include "platform/keyboard_synthesizer.h"

#include <QPointer>
#include <QTimer>

namespace pimsel {

InsertionController::InsertionController(KeyboardSynthesizer& synthesizer, ClipboardManager& clipboard,
                                         QObject* parent)
    : QObject(parent)
    , m_synthesizer(synthesizer)
    , m_clipboard(clipboard) {}

void InsertionController::replaceToken(int eraseCount, const QString& text,
                                       std::function<void()> completion) {
    m_synthesizer.pressBackspace(eraseCount);
    QPointer<InsertionController> self(this);
    // The paste waits for the snapshot: once the text is on the clipboard the owner loses it, and
    // most owners then no longer hand out what they held.
    m_clipboard.save([self, text, completion = std::move(completion)]() mutable {
        if (!self)
            return;
        self->m_clipboard.lend(text);
        QTimer::singleShot(pasteDelay, self.data(), [self, completion = std::move(completion)]() mutable {
            if (!self)
                return;
            self->m_synthesizer.pressPaste();
            QTimer::singleShot(clipboardRestoreDelay, self.data(),
                               [self, completion = std::move(completion)] {
                                   if (!self)
                                       return;
                                   self->m_clipboard.restore();
                                   if (completion)
                                       completion();
                               });
        });
    });
}

} // namespace pimsel
