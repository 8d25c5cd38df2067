#pragma once

#include <QLoggingCategory>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QMimeData;

namespace pimsel {

Q_DECLARE_LOGGING_CATEGORY(clipboardLog)

struct SelectionContents;

// Lends the user's clipboard (the CLIPBOARD selection) for a paste: a snapshot of every format is
// taken first, the paste's text is put on it, and the snapshot goes back afterwards, unless someone
// copied something in the meantime.
class ClipboardManager : public QObject {
    Q_OBJECT

public:
    // Past this the owner is taken for hung and the snapshot keeps what it had by then.
    static constexpr std::chrono::milliseconds saveBudget{250};

    explicit ClipboardManager(QObject* parent = nullptr);
    // Gives a clipboard still on loan back first, so that what the session's clipboard manager is
    // handed on exit is the user's, not the paste's.
    ~ClipboardManager() override;

    // Replaces the snapshot with a copy of the clipboard now and calls `done` on this thread once it
    // is taken, at once or within saveBudget; this thread never waits on the owner. Asked again
    // while a read is under way, `done` waits for that read.
    void save(std::function<void()> done);
    // Puts `text` on the clipboard for a paste, marked for clipboard managers as not worth keeping.
    void lend(const QString& text);
    // The same for any formats: a sticker's file or image.
    void lend(std::unique_ptr<QMimeData> data);
    // Puts the snapshot back (or clears the clipboard when there is none) while the clipboard still
    // holds what lend() put there; a copy made by anyone since stays. Forgets the snapshot.
    void restore();
    bool hasSnapshot() const { return m_saved != nullptr; }

    // Selection bookkeeping targets and toolkit aliases that are not data of their own.
    static bool isBookkeepingFormat(const QString& format);

private:
    void finishRead(const SelectionContents& contents);

    std::unique_ptr<QMimeData> m_saved;
    // Only compared, never read: the clipboard owns it once lent.
    const QMimeData* m_lent = nullptr;
    std::thread m_reader;
    bool m_isReading = false;
    std::vector<std::function<void()>> m_waiting;
};

} // namespace pimsel
