#include "platform/insertion_controller.h"

#include "platform/clipboard_manager.h"
#include "platform/keyboard_synthesizer.h"

#include <QClipboard>
#include <QGuiApplication>
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
    m_clipboard.save();
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);

    QPointer<InsertionController> self(this);
    QTimer::singleShot(pasteDelay, this, [self, completion = std::move(completion)]() mutable {
        if (!self)
            return;
        self->m_synthesizer.pressPaste();
        QTimer::singleShot(clipboardRestoreDelay, self.data(), [self, completion = std::move(completion)] {
            if (!self)
                return;
            self->m_clipboard.restore();
            if (completion)
                completion();
        });
    });
}

} // namespace pimsel
