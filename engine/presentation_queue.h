#pragma once

#include <QList>

#include <functional>

class QObject;

namespace pimsel {

// Work that may take long — the caret query, the first opening of a window, a write of the
// settings file — waits until the hook has the answer for the key at hand: until then the key is
// held and the user's keyboard with it. It runs on the next turn of the event loop, or before the
// next event is handled, whichever comes first, in the order it was asked for. The popover is
// drawn the same way: keys read meanwhile change the state only, and it shows where they led.
class PresentationQueue {
public:
    // `settle` runs on the turn of the event loop, through `context`'s queue: nothing comes once
    // the context is gone. It runs the pending work and the presentation, if one is asked for.
    PresentationQueue(QObject& context, std::function<void()> settle);

    void afterAnswer(std::function<void()> work);
    void runPendingWork();

    void schedulePresentation();
    // Whether a presentation was asked for since the last take; asks no more.
    bool takePresentation();
    void dropPresentation() { m_presentationPending = false; }
    bool isPresentationPending() const { return m_presentationPending; }

private:
    void queueSettle();

    QObject& m_context;
    std::function<void()> m_settle;
    QList<std::function<void()>> m_pendingWork;
    bool m_presentationPending = false;
    bool m_settleQueued = false;
};

} // namespace pimsel
