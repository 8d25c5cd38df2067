#pragma once

#include "engine/input_event.h"

#include <QLoggingCategory>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace pimsel {

Q_DECLARE_LOGGING_CATEGORY(inputLog)

// The key events Pimsel is about to synthesise. The synthesiser announces each (keycode, press or
// release) before posting it through the core XTEST device; the hook drops the raw events that
// match, in order, and hands over everything else, including keys the user types meanwhile.
class OwnEventLedger {
public:
    struct Key {
        std::uint32_t keycode = 0;
        bool press = true;
    };

    // The XTEST slave device the synthesiser posts through; -1 until known.
    void setSourceDevice(int deviceId);
    int sourceDevice() const;

    void expect(const std::vector<Key>& keys);
    // True when this raw event is the next one announced: it is then consumed.
    bool takeRaw(int sourceDevice, std::uint32_t keycode, bool press, std::uint32_t serverTime);
    // True when a grabbed key press is one of ours (announced, or consumed as raw event already).
    bool isOwnGrabbedPress(int sourceDevice, std::uint32_t keycode, std::uint32_t serverTime) const;
    std::size_t pendingCount() const;

    // An announced event that never arrives stops blocking the ones after it.
    static constexpr std::chrono::milliseconds patience{2000};

private:
    struct Expected {
        Key key;
        std::chrono::steady_clock::time_point at;
    };
    struct Seen {
        std::uint32_t keycode;
        std::uint32_t time;
    };
    void dropStale(std::chrono::steady_clock::time_point now);

    mutable std::mutex mutex_;
    int source_ = -1;
    std::deque<Expected> expected_;
    std::deque<Seen> recent_;
};

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
    // display with XInput 2.2 and XTEST; a later call tries again.
    bool start();
    bool isRunning() const { return m_running; }

    std::shared_ptr<OwnEventLedger> ownEvents() const { return m_ownEvents; }

    // How long a grabbed key may wait for the handler before it is passed on.
    static constexpr std::chrono::milliseconds decisionTimeout{200};

    // For checks: the number of (master, keycode, modifiers) grabs held now, and the masters seen.
    int heldGrabCount() const;
    std::vector<int> masterKeyboards() const;

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

    InputEventHandler* m_handler = nullptr;
    bool m_running = false;
    bool m_forceRegrab = false;
    SwallowableKeys m_grabbedKeys;
    std::shared_ptr<OwnEventLedger> m_ownEvents;
    std::unique_ptr<Worker> m_worker;
};

} // namespace pimsel
