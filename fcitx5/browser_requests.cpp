#include "fcitx5/browser_requests.h"

#include "engine/settings_location.h"
#include "engine/text.h"

#include <fcitx-utils/dbus/bus.h>
#include <fcitx-utils/dbus/message.h>
#include <fcitx-utils/log.h>
#include <fcitx/addonmanager.h>
#include <fcitx/inputcontextmanager.h>
#include <fcitx/instance.h>
#include <wayland_public.h>

#include <algorithm>

namespace pimsel::fcitx5 {

namespace {

// The application answers OpenBrowser as soon as the browser shows; the pick comes later, as a call
// of its own. One that does not answer in this time is taken as absent.
constexpr std::uint64_t openTimeoutUsec = 3'000'000;

} // namespace

BrowserRequests::BrowserRequests(fcitx::Instance& instance, fcitx::dbus::Bus* bus)
    : m_instance(instance)
    , m_bus(bus)
    , m_answers(*this) {
    if (m_bus &&
        !m_bus->addObjectVTable(browser_bus::inputMethodPath, browser_bus::inputMethodInterface, m_answers))
        FCITX_WARN() << "Pimsel: cannot offer the emoji browser's answers on the bus";
    watchWaylandConnections();
}

BrowserRequests::~BrowserRequests() = default;

void BrowserRequests::open(fcitx::InputContext& ic, const std::string& firstTrigger,
                           const std::string& typed) {
    const std::uint32_t request = m_nextRequest++;
    // The keys typed from here on are the browser's, as they are once its window has the keyboard.
    m_requests[request] = Request{ic.uuid(), firstTrigger, typed, std::nullopt, true, {}};
    // What the user typed is never lost: without a browser to ask, both triggers and the text typed
    // after them reach the field.
    auto answered = [this, request](bool asked) {
        const auto it = m_requests.find(request);
        if (!asked && it != m_requests.end())
            answer(request, it->second.typed + it->second.typedAhead.toStdString());
    };
    if (m_opener)
        m_opener(request, std::move(answered));
    else
        askOverBus(request, std::move(answered));
}

void BrowserRequests::picked(std::uint32_t request, const std::string& emoji) {
    // The pick takes the first trigger's place, as the second never reached the field.
    answer(request, emoji);
}

void BrowserRequests::dismissed(std::uint32_t request) {
    if (const auto it = m_requests.find(request); it != m_requests.end())
        answer(request, it->second.firstTrigger);
}

void BrowserRequests::focused(fcitx::InputContext& ic) {
    for (auto it = m_requests.begin(); it != m_requests.end();) {
        if (it->second.field == ic.uuid() && it->second.result) {
            ic.commitString(*it->second.result);
            for (wl_display* display : m_waylandDisplays)
                wl_display_flush(display);
            it = m_requests.erase(it);
        } else {
            ++it;
        }
    }
}

bool BrowserRequests::typesAhead(const fcitx::InputContext& ic) const {
    return std::any_of(m_requests.begin(), m_requests.end(), [&ic](const auto& entry) {
        return entry.second.field == ic.uuid() && entry.second.typingAhead && !entry.second.result;
    });
}

void BrowserRequests::typeAhead(const fcitx::InputContext& ic, KeyAction action, const QString& text) {
    for (auto& [request, pending] : m_requests) {
        if (pending.field != ic.uuid() || !pending.typingAhead || pending.result)
            continue;
        if (action == KeyAction::text || action == KeyAction::space)
            pending.typedAhead += action == KeyAction::space ? QStringLiteral(" ") : text;
        else if (action == KeyAction::backspace)
            pending.typedAhead.truncate(text::lastGraphemeStart(pending.typedAhead));
        if (m_bus == nullptr)
            continue;
        fcitx::dbus::Message call =
            m_bus->createMethodCall(browser_bus::applicationName, browser_bus::applicationPath,
                                    browser_bus::applicationInterface, "TypeAhead");
        call << request << static_cast<std::uint32_t>(action) << text.toStdString();
        // Sent after OpenBrowser on the one connection, so it reaches the browser it asked for;
        // nothing waits for a reply.
        call.send();
    }
}

void BrowserRequests::left(const fcitx::InputContext& ic) {
    for (auto& [request, pending] : m_requests) {
        if (pending.field == ic.uuid())
            pending.typingAhead = false;
    }
}

void BrowserRequests::watchWaylandConnections() {
    fcitx::AddonInstance* wayland = m_instance.addonManager().addon("wayland", true);
    if (wayland == nullptr)
        return;
    m_waylandWatchers.push_back(wayland->call<fcitx::IWaylandModule::addConnectionCreatedCallback>(
        [this](const std::string&, wl_display* display, fcitx::FocusGroup*) {
            m_waylandDisplays.insert(display);
        }));
    m_waylandWatchers.push_back(wayland->call<fcitx::IWaylandModule::addConnectionClosedCallback>(
        [this](const std::string&, wl_display* display) { m_waylandDisplays.erase(display); }));
}

void BrowserRequests::answer(std::uint32_t request, std::string text) {
    const auto it = m_requests.find(request);
    if (it == m_requests.end() || it->second.result)
        return;
    fcitx::InputContext* ic = m_instance.inputContextManager().findByUUID(it->second.field);
    if (ic == nullptr) {
        m_requests.erase(it);
        return;
    }
    // The browser had the focus; the field may not have it back yet.
    it->second.result = std::move(text);
    if (ic->hasFocus())
        focused(*ic);
}

void BrowserRequests::askOverBus(std::uint32_t request, std::function<void(bool)> answered) {
    m_spent.clear();
    if (m_bus == nullptr) {
        answered(false);
        return;
    }
    fcitx::dbus::Message call =
        m_bus->createMethodCall(browser_bus::applicationName, browser_bus::applicationPath,
                                browser_bus::applicationInterface, "OpenBrowser");
    call << request;
    m_calls[request] =
        call.callAsync(openTimeoutUsec, [this, request, answered](fcitx::dbus::Message& reply) {
            // The slot running this callback must outlive it: it goes with the next question.
            if (const auto it = m_calls.find(request); it != m_calls.end()) {
                m_spent.push_back(std::move(it->second));
                m_calls.erase(it);
            }
            if (reply.isError())
                FCITX_INFO() << "Pimsel: the emoji browser cannot be opened: " << reply.errorMessage();
            answered(!reply.isError());
            return true;
        });
}

} // namespace pimsel::fcitx5
