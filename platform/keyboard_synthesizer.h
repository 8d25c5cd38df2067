#pragma once

#include "engine/ports.h"
#include "platform/event_tap_manager.h"
#include "platform/xcb_handles.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <vector>

namespace pimsel {

// Posts Pimsel's own key presses (Backspaces and Control+V) through the core XTEST device. Each
// sequence is announced to the input hook first, so the hook never hands them to the coordinator.
// Modifiers the user is holding are lifted before the sequence, so a held Shift cannot turn the
// paste into Control+Shift+V, and put back afterwards only while the user still holds them.
class KeyboardSynthesizer : public QObject, public BackspacePosting {
    Q_OBJECT

public:
    explicit KeyboardSynthesizer(std::shared_ptr<OwnEventLedger> ownEvents, QObject* parent = nullptr);
    ~KeyboardSynthesizer() override;

    void pressBackspace(int count) override;
    void pressPaste();

private:
    bool connect();
    std::vector<std::uint8_t> heldModifierKeys();
    // Of `candidates`, the keys another keyboard of our master keyboard holds down now.
    std::vector<std::uint8_t> heldElsewhere(const std::vector<std::uint8_t>& candidates);
    static std::vector<OwnEventLedger::Key> strokes(const std::vector<std::uint8_t>& codes, bool press);
    void post(const std::vector<OwnEventLedger::Key>& keys);
    void postAroundHeldModifiers(std::vector<OwnEventLedger::Key> keys);

    // The server's virtual core keyboard always has this id; used until our XTEST device is known.
    static constexpr int virtualCoreKeyboard = 3;
    std::shared_ptr<OwnEventLedger> m_ownEvents;
    xcb::Connection m_connection;
};

} // namespace pimsel
