#include "platform/event_tap_worker.h"

#include "platform/display_session.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>
// xcb's XKB header names a member after a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace pimsel {

namespace {

// Keymap changes come in bursts (a layout switch sends several notifications).
constexpr std::chrono::milliseconds keymapDebounce{100};
// A keyboard that was just added is typed on at once; only its few hierarchy events are awaited.
constexpr std::chrono::milliseconds hierarchyDebounce{5};

} // namespace

EventTapManager::Worker::Worker(EventTapManager* owner)
    : owner_(owner)
    , pairing_([this](GrabPairing::Outgoing o) { post(std::move(o)); })
    , decisions_(decisionTimeout) {}

bool EventTapManager::Worker::open() {
    if (isWaylandSession())
        return false;
    observe_ = xcb::Connection(nullptr);
    grab_ = xcb::Connection(nullptr);
    if (!observe_ || !grab_)
        return false;
    xcb_connection_t* c = observe_.get();
    xiOpcode_ = xcb::extensionOpcode(c, "XInputExtension");
    if (!xiOpcode_ || !xcb::extensionOpcode(c, "XTEST"))
        return false;
    for (xcb_connection_t* conn : {observe_.get(), grab_.get()}) {
        auto v = xcb::reply<xcb_input_xi_query_version_reply_t>(conn, xcb_input_xi_query_version_reply,
                                                                xcb_input_xi_query_version(conn, 2, 2));
        if (!v || v->major_version < 2 || (v->major_version == 2 && v->minor_version < 2))
            return false;
    }
    auto xtest = xcb::reply<xcb_test_get_version_reply_t>(c, xcb_test_get_version_reply,
                                                          xcb_test_get_version(c, 2, 2));
    if (!xtest)
        return false;
    std::uint8_t xkbEventBase = 0;
    if (!xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEventBase,
                                     nullptr))
        return false;
    xkbEventBase_ = xkbEventBase;
    keyboards_ = std::make_unique<KeyboardTracker>(c, [this] { scheduleReload(hierarchyDebounce); });
    if (!keyboards_->ready())
        return false;
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        return false;

    root_ = observe_.root();
    grabs_ = std::make_unique<KeyGrabSet>(grab_.get(), root_, [this] { wake(); });
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t mask;
    } raw{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
          XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE |
              XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS},
        hierarchy{{XCB_INPUT_DEVICE_ALL, 1}, XCB_INPUT_XI_EVENT_MASK_HIERARCHY};
    if (!xcb::check(c, xcb_input_xi_select_events_checked(c, root_, 1, &raw.head)) ||
        !xcb::check(c, xcb_input_xi_select_events_checked(c, root_, 1, &hierarchy.head)))
        return false;
    const std::uint16_t xkbEvents = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    const std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                   XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS |
                                   XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                   XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    // A layout locked from a panel or another client's shortcut arrives as no key of ours: only the
    // server's state notification tells. Locked-group changes alone, not every Shift.
    xcb_xkb_select_events_details_t details{};
    details.affectState = XCB_XKB_STATE_PART_GROUP_LOCK;
    details.stateDetails = XCB_XKB_STATE_PART_GROUP_LOCK;
    xcb_xkb_select_events_aux(c, XCB_XKB_ID_USE_CORE_KBD, xkbEvents | XCB_XKB_EVENT_TYPE_STATE_NOTIFY, 0,
                              xkbEvents, mapParts, mapParts, &details);
    reloadKeyboards();
    return !keyboards_->empty();
}

void EventTapManager::Worker::launch() {
    thread_ = std::thread([this] { run(); });
}

void EventTapManager::Worker::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    wakeFd_ = -1;
}

void EventTapManager::Worker::wake() {
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }
}

bool EventTapManager::Worker::decide(int device, std::uint32_t time, bool swallow) {
    if (!decisions_.take(device, time))
        return false;
    xcb_connection_t* c = grab_.get();
    const auto dev = static_cast<xcb_input_device_id_t>(device);
    if (swallow) {
        // Ending the grab thaws the keyboard and keeps keys typed in roll-over; an async allow would
        // keep the grab until every key is up and drop them.
        xcb_input_xi_ungrab_device(c, XCB_CURRENT_TIME, dev);
    } else {
        xcb_input_xi_allow_events(c, XCB_CURRENT_TIME, dev, XCB_INPUT_EVENT_MODE_REPLAY_DEVICE, 0, 0);
    }
    xcb_flush(c);
    return true;
}

// Passes a grabbed key of `device` on to the application.
void EventTapManager::Worker::replay(int device) {
    xcb_input_xi_allow_events(grab_.get(), XCB_CURRENT_TIME, static_cast<xcb_input_device_id_t>(device),
                              XCB_INPUT_EVENT_MODE_REPLAY_DEVICE, 0, 0);
    xcb_flush(grab_.get());
}

void EventTapManager::Worker::post(GrabPairing::Outgoing o) {
    Delivery d{std::move(o.event), o.grabbed, o.id.device, o.id.time, o.opening, o.readAt};
    QPointer<EventTapManager> owner = owner_;
    QMetaObject::invokeMethod(
        owner_,
        [owner, d] {
            if (owner)
                owner->deliver(d);
        },
        Qt::QueuedConnection);
}

void EventTapManager::Worker::run() {
    pollfd fds[3] = {{observe_.fd(), POLLIN, 0}, {grab_.fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (!stopping_) {
        if (!drain(observe_.get(), false) || !drain(grab_.get(), true) || !confirmGrabs()) {
            // The server closed a connection (killed by another client, or the display went away):
            // nothing is observed or withheld any more, which the owner must know.
            QPointer<EventTapManager> owner = owner_;
            QMetaObject::invokeMethod(
                owner_,
                [owner] {
                    if (owner)
                        owner->connectionLost();
                },
                Qt::QueuedConnection);
            return;
        }
        const Clock::time_point now = Clock::now();
        handleDeadlines(now);
        int timeout = -1;
        const auto consider = [&](std::optional<Clock::time_point> at) {
            if (!at)
                return;
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*at - now).count() + 1;
            timeout = timeout < 0 ? static_cast<int>(std::max<long long>(ms, 0))
                                  : std::min(timeout, static_cast<int>(std::max<long long>(ms, 0)));
        };
        consider(pairing_.nextDeadline());
        consider(decisions_.nextDeadline());
        consider(reloadAt_);
        if (::poll(fds, 3, timeout) > 0 && (fds[2].revents & POLLIN)) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
        }
    }
}

// The answers to grabs the hook sent while reading keys; reading them may bring in events.
bool EventTapManager::Worker::confirmGrabs() {
    grabs_->confirm();
    return drain(grab_.get(), true);
}

bool EventTapManager::Worker::drain(xcb_connection_t* c, bool isGrabConnection) {
    while (xcb::Event event{xcb_poll_for_event(c)}) {
        if (isGrabConnection)
            handleGrabEvent(event.get());
        else
            handleObserveEvent(event.get());
    }
    return xcb_connection_has_error(c) == 0;
}

void EventTapManager::Worker::handleDeadlines(Clock::time_point now) {
    const auto frozen = [this](int device) { return decisions_.isFrozen(device); };
    // The server sends a key's grab event right after its raw event; one that is late only sits
    // unread on a busy machine. A round trip on the grab connection settles whether it is there.
    if (pairing_.overdue(now, frozen)) {
        xcb_connection_t* c = grab_.get();
        xcb::sync(c);
        drain(c, true);
    }
    pairing_.handleDeadlines(now, frozen);
    for (const GrabDecisions::Pending& g : decisions_.takeExpired(now)) {
        replay(g.device);
        qCInfo(inputLog) << "Grabbed key not decided within"
                         << std::chrono::milliseconds(decisionTimeout).count()
                         << "ms; passed on to the application";
    }
    if (reloadAt_ && *reloadAt_ <= now) {
        reloadAt_.reset();
        reloadKeyboards();
        announceKeymapChange();
    }
}

void EventTapManager::Worker::scheduleReload(std::chrono::milliseconds delay) {
    const Clock::time_point at = Clock::now() + delay;
    if (!reloadAt_ || at < *reloadAt_)
        reloadAt_ = at;
}

void EventTapManager::Worker::reloadKeyboards() {
    std::optional<KeyboardTracker::Reloaded> reloaded = keyboards_->reload();
    if (!reloaded)
        return;
    if (reloaded->xtestKeyboard >= 0 && owner_->m_ownEvents)
        owner_->m_ownEvents->setSourceDevice(reloaded->xtestKeyboard);
    grabs_->setKeyboards(std::move(reloaded->keyboards));
}

// The grabs are planned for keymaps and layouts: the main thread plans them again.
void EventTapManager::Worker::announceKeymapChange() {
    QPointer<EventTapManager> owner = owner_;
    QMetaObject::invokeMethod(
        owner_,
        [owner] {
            if (owner)
                owner->keymapChanged();
        },
        Qt::QueuedConnection);
}

// The server locked another layout on `device`: keys are read in it from now on, and the grabs are
// planned for it again (":" sits on another key in many layouts).
void EventTapManager::Worker::layoutLocked(int device, std::uint32_t layout) {
    const std::optional<std::uint32_t> locked = keyboards_->lockLayout(device, layout);
    if (locked && grabs_->setLayout(device, *locked))
        announceKeymapChange();
}

void EventTapManager::Worker::handleObserveEvent(xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == xkbEventBase_) {
        const auto xkbType = reinterpret_cast<const std::uint8_t*>(event)[1];
        if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
            scheduleReload(keymapDebounce);
        if (xkbType == XCB_XKB_STATE_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
            layoutLocked(notify->deviceID, notify->lockedGroup);
        }
        return;
    }
    if (type != XCB_GE_GENERIC)
        return;
    const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
    if (ge->extension != xiOpcode_)
        return;
    switch (ge->event_type) {
    case XCB_INPUT_RAW_KEY_PRESS:
    case XCB_INPUT_RAW_KEY_RELEASE: {
        const auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event);
        decisions_.learnServerTime(raw->time);
        const bool press = ge->event_type == XCB_INPUT_RAW_KEY_PRESS;
        const bool tracked = keyboards_->track(raw->deviceid);
        const bool own =
            owner_->m_ownEvents && owner_->m_ownEvents->takeRaw(raw->sourceid, raw->detail, press, raw->time);
        if (!tracked)
            return;
        std::optional<InputEvent> reading;
        bool grabbed = false;
        if (press && !own) {
            reading = keyboards_->readKeyDown(raw->deviceid, raw->detail);
            grabbed = reading && grabs_->activates(raw->detail, keyboards_->modifiers(raw->deviceid));
        }
        keyboards_->follow(raw->deviceid, raw->detail, press);
        if (press)
            qCDebug(inputLog) << "raw press: device" << raw->deviceid << "source" << raw->sourceid << "key"
                              << raw->detail << "time" << raw->time << (own ? "(ours)" : "")
                              << (grabbed ? "(grab expected)" : "");
        if (!reading)
            return;
        const KeyId id{raw->deviceid, raw->detail, raw->time};
        // The grab event for this key may have come first (also from a grab that was on its way
        // out): the key is handed over already.
        if (pairing_.takeGrabbedFirst(id))
            return;
        // A key one of our grabs holds already needs nothing more.
        const bool opening = !grabbed && grabs_->opens(*reading);
        if (opening) {
            const Clock::time_point readAt = Clock::now();
            grabs_->widenForOpening();
            qCDebug(inputLog)
                << "opening grabs sent, the trigger frozen until they are in, after"
                << std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - readAt).count()
                << "us";
        }
        if (grabbed) {
            pairing_.awaitGrab(id, std::move(*reading), Clock::now() + grabPairing, opening);
            return;
        }
        pairing_.passRaw(id, std::move(*reading), opening);
        return;
    }
    case XCB_INPUT_RAW_BUTTON_PRESS: {
        const auto* raw = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event);
        if (raw->detail != 1 && raw->detail != 3)
            return;
        xcb_connection_t* c = observe_.get();
        auto pointer = xcb::reply<xcb_input_xi_query_pointer_reply_t>(
            c, xcb_input_xi_query_pointer_reply, xcb_input_xi_query_pointer(c, root_, raw->deviceid));
        if (!pointer)
            return;
        pairing_.pass(KeyId{raw->deviceid, 0, raw->time},
                      InputEvent::mouseDown(QPoint(pointer->root_x >> 16, pointer->root_y >> 16)));
        return;
    }
    case XCB_INPUT_HIERARCHY:
        scheduleReload(hierarchyDebounce);
        return;
    default:
        return;
    }
}

void EventTapManager::Worker::handleGrabEvent(xcb_generic_event_t* event) {
    if ((event->response_type & 0x7F) != XCB_GE_GENERIC)
        return;
    const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
    if (ge->extension != xiOpcode_ || ge->event_type != XCB_INPUT_KEY_PRESS)
        return;
    const auto* key = reinterpret_cast<const xcb_input_key_press_event_t*>(event);
    const int device = key->deviceid;
    const KeyId id{device, key->detail, key->time};
    qCDebug(inputLog) << "grabbed press: device" << device << "source" << key->sourceid << "key"
                      << key->detail << "time" << key->time;
    // Our own Backspace or paste landing on a held key goes straight on, and so does a key that was
    // handed over as unheld already.
    if ((owner_->m_ownEvents &&
         owner_->m_ownEvents->isOwnGrabbedPress(key->sourceid, key->detail, key->time)) ||
        pairing_.takePassed(id)) {
        replay(device);
        return;
    }
    // The two connections share no order: raw events of earlier keys may still sit unread on the
    // observing one (or in the server's buffer for it) while this grab event is here. A round trip
    // there brings in everything the server sent before this event, so earlier keys are queued
    // ahead of this one.
    if (!pairing_.awaitsGrab(id))
        catchUpObserved();
    if (pairing_.takePassed(id)) {
        replay(device);
        return;
    }
    if (pairing_.awaitsGrab(id)) {
        decisions_.hold(device, key->time);
        pairing_.pairGrab(id);
        return;
    }
    // The raw event is still on its way: read the key now and let the raw one go by.
    std::optional<InputEvent> reading = keyboards_->readKeyDown(device, key->detail);
    if (!reading) {
        replay(device);
        return;
    }
    decisions_.hold(device, key->time);
    pairing_.grabbedFirst(id, std::move(*reading));
}

// Reads and handles every event the server sent the observing connection before now.
void EventTapManager::Worker::catchUpObserved() {
    xcb_connection_t* c = observe_.get();
    xcb::sync(c);
    drain(c, false);
}

} // namespace pimsel
