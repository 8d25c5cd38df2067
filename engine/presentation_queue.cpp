#include "engine/presentation_queue.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

namespace pimsel {

PresentationQueue::PresentationQueue(QObject& context, std::function<void()> settle)
    : m_context(context)
    , m_settle(std::move(settle)) {}

void PresentationQueue::afterAnswer(std::function<void()> work) {
    m_pendingWork.append(std::move(work));
    queueSettle();
}

void PresentationQueue::runPendingWork() {
    while (!m_pendingWork.isEmpty())
        m_pendingWork.takeFirst()();
}

void PresentationQueue::schedulePresentation() {
    m_presentationPending = true;
    queueSettle();
}

bool PresentationQueue::takePresentation() {
    return std::exchange(m_presentationPending, false);
}

void PresentationQueue::queueSettle() {
    if (std::exchange(m_settleQueued, true))
        return;
    // Queued behind the keys the hook has handed over already: they are read first, and a burst
    // of letters is presented once.
    QMetaObject::invokeMethod(
        &m_context,
        [this] {
            m_settleQueued = false;
            m_settle();
        },
        Qt::QueuedConnection);
}

} // namespace pimsel
