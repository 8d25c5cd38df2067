#include "platform/paste_on_loan.h"

#include "platform/clipboard_manager.h"
#include "platform/keyboard_synthesizer.h"

#include <QPointer>
#include <QTimer>

namespace pimsel {

void pasteOnLoan(QObject* context, ClipboardManager& clipboard, KeyboardSynthesizer& synthesizer,
                 std::function<void()> lend, std::chrono::milliseconds pasteDelay,
                 std::chrono::milliseconds restoreDelay, std::function<void()> completion) {
    QPointer<QObject> self(context);
    // The paste waits for the snapshot: once our data is on the clipboard the owner loses it, and
    // most owners then no longer hand out what they held.
    clipboard.save([self, &clipboard, &synthesizer, lend = std::move(lend), pasteDelay, restoreDelay,
                    completion = std::move(completion)]() mutable {
        if (!self)
            return;
        lend();
        QTimer::singleShot(
            pasteDelay, self.data(),
            [self, &clipboard, &synthesizer, restoreDelay, completion = std::move(completion)]() mutable {
                synthesizer.pressPaste();
                QTimer::singleShot(restoreDelay, self.data(),
                                   [&clipboard, completion = std::move(completion)] {
                                       clipboard.restore();
                                       if (completion)
                                           completion();
                                   });
            });
    });
}

} // namespace pimsel
