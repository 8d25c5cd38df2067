#pragma once

// Reads every format of the CLIPBOARD selection over a connection of its own, within a time budget,
// so an owner that stopped answering costs the caller the budget and no more.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <chrono>

namespace pimsel {

struct SelectionContents {
    // (format, bytes) in the owner's order, formats named as Qt names them (text/plain for the
    // X string targets) so the bytes go back through QClipboard unchanged.
    QList<QPair<QString, QByteArray>> formats;
    // Formats the owner offered but did not hand over before the budget ran out.
    QStringList unread;
    bool hadOwner = false;
    // The owner never said what it holds: everything it held is lost.
    bool targetsUnanswered = false;
};

// Blocks the calling thread for at most `budget`; meant for a thread that may wait.
SelectionContents readClipboardSelection(std::chrono::milliseconds budget);

} // namespace pimsel
