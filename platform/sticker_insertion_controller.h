#pragma once

#include "engine/ports.h"

#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QMimeData;

namespace pimsel {

class ClipboardManager;
class KeyboardSynthesizer;

// Replaces the typed "/sticker" or "/gif" with the picked file: Backspaces at once, the file on
// the clipboard once the user's clipboard is saved, Ctrl+V 20 ms later and the user's clipboard
// back 600 ms after the paste. An animated file is offered as a file, which messaging
// applications send as an animation; a still one as PNG image data.
class StickerInsertionController : public QObject, public StickerInserting {
    Q_OBJECT

public:
    // A copy of a file that another application may read (the picked file may be a resource of
    // this process); the file itself when no copy can be made.
    using Staging = std::function<QUrl(const QUrl& file)>;

    StickerInsertionController(KeyboardSynthesizer& synthesizer, ClipboardManager& clipboard, Staging stage,
                               QObject* parent = nullptr);

    // A still file that cannot be read leaves the command typed and the clipboard as it was; the
    // completion still comes.
    void insert(const QUrl& file, bool isAnimated, int eraseCount, std::function<void()> completion) override;

    // What goes on the clipboard: the file as text/uri-list and x-special/gnome-copied-files for
    // an animated file, the bytes as image/png for a still one; none when a still file cannot be
    // read.
    static std::unique_ptr<QMimeData> offerFor(const QUrl& stagedFile, bool isAnimated);

    static constexpr std::chrono::milliseconds pasteDelay{20};
    static constexpr std::chrono::milliseconds clipboardRestoreDelay{600};

private:
    KeyboardSynthesizer& m_synthesizer;
    ClipboardManager& m_clipboard;
    Staging m_stage;
};

} // namespace pimsel
