#pragma once

#include "engine/input_event.h"
#include "fcitx5/pimsel_public.h"

#include <QString>

#include <fcitx-utils/dbus/objectvtable.h>
#include <fcitx/inputcontext.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

struct wl_display;

namespace fcitx {
class Instance;
namespace dbus {
class Bus;
class Slot;
} // namespace dbus
} // namespace fcitx

namespace pimsel::fcitx5 {

// The double trigger's round trip to the desktop application's emoji browser. No key waits for it:
// the question goes out on the bus, the answer comes back as a call of its own, and what it brings
// is committed into the input context that asked once that context has the focus.
class BrowserRequests {
public:
    // Without a bus every question fails at once.
    BrowserRequests(fcitx::Instance& instance, fcitx::dbus::Bus* bus);
    ~BrowserRequests();

    // The double trigger in `ic`: `firstTrigger` stays out of the field until the answer says what
    // takes its place, `typed` is both triggers, for when no browser can be asked.
    void open(fcitx::InputContext& ic, const std::string& firstTrigger, const std::string& typed);
    void picked(std::uint32_t request, const std::string& emoji);
    void dismissed(std::uint32_t request);
    // `ic` has the focus again: whatever its answered requests left for it lands now.
    void focused(fcitx::InputContext& ic);
    // The browser was asked for in `ic`, which still has the keyboard: what is typed there meanwhile
    // belongs to the browser, as it does once the browser's window has the keyboard.
    bool typesAhead(const fcitx::InputContext& ic) const;
    void typeAhead(const fcitx::InputContext& ic, KeyAction action, const QString& text);
    // `ic` lost the focus: the browser has the keyboard now, or the user went elsewhere.
    void left(const fcitx::InputContext& ic);
    void setOpener(BrowserOpener opener) { m_opener = std::move(opener); }

private:
    struct Request {
        fcitx::ICUUID field;
        std::string firstTrigger;
        std::string typed;
        std::optional<std::string> result; // set once answered
        bool typingAhead = false;          // the browser's keys still reach the field
        QString typedAhead;                // the text among them, for when no browser shows
    };

    class Answers : public fcitx::dbus::ObjectVTable<Answers> {
    public:
        explicit Answers(BrowserRequests& requests)
            : m_requests(requests) {}
        void picked(std::uint32_t request, const std::string& emoji) { m_requests.picked(request, emoji); }
        void dismissed(std::uint32_t request) { m_requests.dismissed(request); }

    private:
        BrowserRequests& m_requests;
        FCITX_OBJECT_VTABLE_METHOD(picked, "Picked", "us", "");
        FCITX_OBJECT_VTABLE_METHOD(dismissed, "Dismissed", "u", "");
    };

    void answer(std::uint32_t request, std::string text);
    void watchWaylandConnections();
    void askOverBus(std::uint32_t request, std::function<void(bool)> answered);

    fcitx::Instance& m_instance;
    fcitx::dbus::Bus* m_bus;
    Answers m_answers;
    BrowserOpener m_opener;
    std::map<std::uint32_t, Request> m_requests;
    std::map<std::uint32_t, std::unique_ptr<fcitx::dbus::Slot>> m_calls; // under way
    std::vector<std::unique_ptr<fcitx::dbus::Slot>> m_spent;             // answered
    std::uint32_t m_nextRequest = 1;
    // fcitx5 5.0 sends what its Wayland frontend was told only once it has handled a Wayland event
    // of its own: an answer committed on a bus call would wait in the field for the next key.
    std::set<wl_display*> m_waylandDisplays;
    std::vector<std::unique_ptr<fcitx::HandlerTableEntryBase>> m_waylandWatchers;
};

} // namespace pimsel::fcitx5
