#pragma once

#include <QObject>

#include <memory>

class QMimeData;

namespace pimsel {

// Keeps one snapshot of the user's clipboard (the CLIPBOARD selection) across an insertion: every
// format's bytes on save, all of them back on restore, or an empty clipboard if it was empty.
class ClipboardManager : public QObject {
    Q_OBJECT

public:
    explicit ClipboardManager(QObject* parent = nullptr);
    ~ClipboardManager() override;

    // Replaces the snapshot with a deep copy of the clipboard now.
    void save();
    // Puts the snapshot back (or clears the clipboard when there is none) and forgets it.
    void restore();
    bool hasSnapshot() const { return m_saved != nullptr; }

    // Selection bookkeeping targets and toolkit aliases that are not data of their own.
    static bool isBookkeepingFormat(const QString& format);

private:
    std::unique_ptr<QMimeData> m_saved;
};

} // namespace pimsel
