#include "platform/event_tap_manager.h"

#include "platform/event_tap_worker.h"

#include <QCoreApplication>
#include <QPointer>

namespace pimsel {

Q_LOGGING_CATEGORY(inputLog, "input", QtInfoMsg)

namespace {
using Clock = std::chrono::steady_clock;
} // namespace

EventTapManager::EventTapManager(QObject* parent)
    : QObject(parent)
    , m_ownEvents(std::make_shared<OwnEventLedger>()) {}

EventTapManager::~EventTapManager() {
    if (m_worker)
        m_worker->stop();
}

void EventTapManager::setHandler(InputEventHandler* handler) {
    if (m_handler)
        m_handler->setCatchUp({});
    m_handler = handler;
    if (m_handler) {
        // The deliveries already queued for the main thread, handed over in order right now.
        const QPointer<EventTapManager> self(this);
        m_handler->setCatchUp([self] {
            if (self)
                QCoreApplication::sendPostedEvents(self, QEvent::MetaCall);
        });
    }
    if (m_running)
        refreshGrabs();
}

bool EventTapManager::start() {
    if (m_worker)
        return true;
    auto worker = std::make_unique<Worker>(this);
    if (!worker->open()) {
        qCCritical(inputLog)
            << "X11 input hook could not be installed — no X11 display with XInput 2.2 and XTEST "
               "(Input Monitoring not available)";
        return false;
    }
    m_worker = std::move(worker);
    m_worker->launch();
    qCInfo(inputLog) << "X11 input hook installed: XInput 2.2 raw events observed, keys withheld by grabs";
    qCDebug(inputLog, "input hook connections: descriptors %d and %d", m_worker->descriptors().first,
            m_worker->descriptors().second);
    m_running = true;
    Q_EMIT isRunningChanged(true);
    refreshGrabs();
    return true;
}

void EventTapManager::stop() {
    if (!m_worker)
        return;
    qCInfo(inputLog) << "X11 input hook removed";
    tearDown();
}

void EventTapManager::connectionLost() {
    if (!m_worker)
        return;
    qCWarning(inputLog) << "X11 input hook lost its display connection: keys are neither observed nor "
                           "withheld until it is installed again";
    tearDown();
}

void EventTapManager::tearDown() {
    m_worker->stop();
    m_worker.reset();
    m_grabbedKeys = {};
    m_running = false;
    Q_EMIT isRunningChanged(false);
}

void EventTapManager::refreshGrabs() {
    if (!m_worker)
        return;
    const SwallowableKeys keys = m_handler ? m_handler->swallowableKeys() : SwallowableKeys{};
    if (keys == m_grabbedKeys && !m_forceRegrab)
        return;
    m_grabbedKeys = keys;
    m_forceRegrab = false;
    m_worker->grabs().apply(keys);
    qCDebug(inputLog) << "grab set: actions" << Qt::hex << keys.actions << Qt::dec << "anyText"
                      << keys.anyText << "trigger" << keys.triggerText << "grabs" << heldGrabCount();
}

void EventTapManager::keymapChanged() {
    m_forceRegrab = true;
    refreshGrabs();
}

void EventTapManager::deliver(const Delivery& delivery) {
    InputEvent event = delivery.event;
    const int device = delivery.device;
    const std::uint32_t time = delivery.time;
    Worker* worker = m_worker.get();
    if (delivery.grabbed) {
        if (worker && worker->decisions().isHeld(device, time) && !worker->decisions().isLate(time)) {
            event.hold = [worker, device, time] { return worker->decisions().claim(device, time); };
        } else {
            // It waited past the time-out in the queue and has reached the application meanwhile,
            // or it was typed so long ago that acting on it now would act in a changed desktop:
            // the application gets it at once, and it is never taken.
            if (worker)
                worker->decide(device, time, false);
            event.canSwallow = false;
        }
    }
    const Clock::time_point handedOver = Clock::now();
    const bool swallow = m_handler && m_handler->handleEvent(event) && event.canSwallow;
    const auto microseconds = [](Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
    };
    qCDebug(inputLog) << "key" << static_cast<int>(event.action) << event.text
                      << (event.canSwallow ? "held," : "unheld,") << (swallow ? "swallowed" : "passed")
                      << "| timing: read at" << microseconds(delivery.readAt.time_since_epoch())
                      << "us, main thread +" << microseconds(handedOver - delivery.readAt) << "us, answered +"
                      << microseconds(Clock::now() - delivery.readAt) << "us";
    if (delivery.grabbed && worker && !worker->decide(device, time, swallow) && swallow)
        qCWarning(inputLog) << "A key was taken after the time-out had passed it on to the application";
    if (delivery.opening && worker) {
        worker->grabs().openingHandled();
        m_forceRegrab = true;
    }
    refreshGrabs();
}

int EventTapManager::heldGrabCount() const {
    return m_worker ? m_worker->grabs().count() : 0;
}

} // namespace pimsel
