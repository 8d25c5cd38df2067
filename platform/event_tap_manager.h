#pragma once

#include "engine/input_event.h"
#include "platform/own_event_ledger.h"

#include <QLoggingCategory>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace pimsel {

Q_DECLARE_LOGGING_CATEGORY(inputLog)

// The X11 input hook: observes every key and button press in the session through XInput 2.2 raw
// events, hands them to the handler on the main thread, and withholds the keys the handler may
// swallow through synchronous passive grabs held only while the handler's state allows swallowing.
class EventTapManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)

public:
    explicit EventTapManager(QObject* parent = nullptr);
    ~EventTapManager() override;

    // Not owned; set before start(). Called on the main thread, in event order.
    void setHandler(InputEventHandler* handler);
    // Installs the hook unless it is installed already. False when the session offers no X11
    // display with XInput 2.2 and XTEST; a later call tries again. Should the server close one of
    // the hook's connections later, isRunning turns false and a later call installs it afresh.
    bool start();
    // Removes the hook and its grabs, for as long as another route handles the keys; start()
    // installs it again.
    void stop();
    bool isRunning() const { return m_running; }

    std::shared_ptr<OwnEventLedger> ownEvents() const { return m_ownEvents; }

    // How long a grabbed key may wait for the handler before it is passed on.
    static constexpr std::chrono::milliseconds decisionTimeout{200};

    // For checks: the number of (keycode, modifiers) grabs held now.
    int heldGrabCount() const;

public Q_SLOTS:
    // Re-reads the handler's swallowable keys and grabs exactly those. Call when its state changes.
    void refreshGrabs();

Q_SIGNALS:
    void isRunningChanged(bool running);

private:
    struct Delivery;
    class Worker;
    void deliver(const Delivery& delivery);
    void keymapChanged();
    void connectionLost();
    void tearDown();

    InputEventHandler* m_handler = nullptr;
    bool m_running = false;
    bool m_forceRegrab = false;
    SwallowableKeys m_grabbedKeys;
    std::shared_ptr<OwnEventLedger> m_ownEvents;
    std::unique_ptr<Worker> m_worker;
};

} // namespace pimsel
