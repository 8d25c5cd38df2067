#include "platform/event_tap_manager.h"

#include "platform/key_grab_set.h"
#include "platform/key_mapping.h"
#include "platform/xcb_handles.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>
// xcb's XKB header names a member after a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <algorithm>
#include <atomic>
#include <limits>
#include <map>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace pimsel {

Q_LOGGING_CATEGORY(inputLog, "input", QtInfoMsg)

// ---------------------------------------------------------------------------------------------
// Worker: both connections, serviced on a thread of their own.

struct EventTapManager::Delivery {
    InputEvent event;
    bool grabbed = false;
    int device = 0;
    std::uint32_t time = 0;
    bool opening = false;                         // its reading widened the grabs to what a new token needs
    std::chrono::steady_clock::time_point readAt; // when the worker read it
};

namespace {

using Clock = std::chrono::steady_clock;

struct KeymapDeleter {
    void operator()(xkb_keymap* p) const { xkb_keymap_unref(p); }
    void operator()(xkb_state* p) const { xkb_state_unref(p); }
    void operator()(xkb_context* p) const { xkb_context_unref(p); }
};
using KeymapPtr = std::shared_ptr<xkb_keymap>;
using StatePtr = std::unique_ptr<xkb_state, KeymapDeleter>;
using ContextPtr = std::unique_ptr<xkb_context, KeymapDeleter>;

// How long a raw key press that should have activated one of our grabs waits for the grab event
// before it is handed over as an ordinary key (another client's active grab pre-empts ours).
constexpr std::chrono::milliseconds grabPairing{40};
// Keymap changes come in bursts (a layout switch sends several notifications).
constexpr std::chrono::milliseconds keymapDebounce{100};
// A keyboard that was just added is typed on at once; only its few hierarchy events are awaited.
constexpr std::chrono::milliseconds hierarchyDebounce{5};
// How many recent keys are remembered for pairing raw and grab events that come late.
constexpr std::size_t recentKeys = 64;

// A state to follow a device's keys from now on. Only the locks (Caps Lock, a locked layout) come
// from the server: a modifier held right now would enter as a bare mask that no later key release
// clears, and stay stuck.
StatePtr trackedState(xkb_keymap* keymap, xcb_connection_t* c, int device) {
    StatePtr server(xkb_x11_state_new_from_device(keymap, c, device));
    StatePtr state(xkb_state_new(keymap));
    if (server && state) {
        xkb_state_update_mask(state.get(), 0, 0,
                              xkb_state_serialize_mods(server.get(), XKB_STATE_MODS_LOCKED), 0, 0,
                              xkb_state_serialize_layout(server.get(), XKB_STATE_LAYOUT_LOCKED));
    }
    return state;
}

// A key that toggles a lock: pressing it once more into a fresh state would flip the lock back.
bool isLockKey(xkb_keymap* keymap, std::uint32_t keycode) {
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms) < 1)
        return false;
    switch (syms[0]) {
    case XKB_KEY_Caps_Lock:
    case XKB_KEY_Shift_Lock:
    case XKB_KEY_Num_Lock:
    case XKB_KEY_Scroll_Lock:
        return true;
    default:
        return false;
    }
}

struct KeyId {
    int device;
    std::uint32_t keycode;
    std::uint32_t time;
    bool operator==(const KeyId&) const = default;
};

} // namespace

class EventTapManager::Worker {
public:
    struct Master {
        KeymapPtr keymap;
        StatePtr state;
        std::vector<std::uint32_t> down; // keys held now, to carry into a reloaded state
    };

    explicit Worker(EventTapManager* owner)
        : owner_(owner) {}
    ~Worker() { stop(); }

    bool open() {
        if (qgetenv("XDG_SESSION_TYPE") == "wayland")
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
                                         XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr,
                                         &xkbEventBase, nullptr))
            return false;
        xkbEventBase_ = xkbEventBase;
        context_.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        if (!context_)
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
        const std::uint16_t xkbEvents =
            XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
        const std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                       XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS |
                                       XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                       XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
        // A layout locked from a panel or another client's shortcut arrives as no key of ours: only
        // the server's state notification tells. Locked-group changes alone, not every Shift.
        xcb_xkb_select_events_details_t details{};
        details.affectState = XCB_XKB_STATE_PART_GROUP_LOCK;
        details.stateDetails = XCB_XKB_STATE_PART_GROUP_LOCK;
        xcb_xkb_select_events_aux(c, XCB_XKB_ID_USE_CORE_KBD, xkbEvents | XCB_XKB_EVENT_TYPE_STATE_NOTIFY, 0,
                                  xkbEvents, mapParts, mapParts, &details);
        reloadKeyboards();
        return !masters_.empty();
    }

    void launch() {
        thread_ = std::thread([this] { run(); });
    }

    std::pair<int, int> descriptors() const { return {observe_.fd(), grab_.fd()}; }

    void stop() {
        if (thread_.joinable()) {
            stopping_ = true;
            wake();
            thread_.join();
        }
        if (wakeFd_ >= 0)
            ::close(wakeFd_);
        wakeFd_ = -1;
    }

    void wake() {
        if (wakeFd_ >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
        }
    }

    // Main thread: whether a grabbed key still waits for its decision (the time-out has not passed
    // it on to the application).
    // When the server sent an event stamped `serverTime`, on our clock. Ages are judged by the
    // server's stamp, not by when this process got round to the event: after a stall (a stopped
    // process, swap, a debugger) a key can be read long after the user typed it.
    Clock::time_point sentAt(std::uint32_t serverTime) const {
        const long long offset = serverOffset_.load();
        if (offset == noOffset)
            return Clock::now();
        return Clock::time_point(std::chrono::milliseconds(static_cast<long long>(serverTime) + offset));
    }

    // Worker thread: the smallest gap between an event's stamp and its arrival seen so far is the
    // clocks' offset; a late event only gives a larger one. A wrap of the server's 32-bit
    // millisecond clock starts afresh.
    void learnServerTime(std::uint32_t serverTime) {
        const long long sample =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count() -
            static_cast<long long>(serverTime);
        const long long best = serverOffset_.load();
        if (best == noOffset || sample < best || sample - best > (1LL << 31))
            serverOffset_.store(sample);
    }

    bool isLate(std::uint32_t serverTime) const {
        return Clock::now() > sentAt(serverTime) + decisionTimeout;
    }

    bool isHeld(int device, std::uint32_t time) const {
        std::lock_guard lock(mutex_);
        return std::any_of(pendingGrabs_.begin(), pendingGrabs_.end(),
                           [&](const PendingGrab& g) { return g.device == device && g.time == time; });
    }

    // Main thread: takes a grabbed key out of the time-out's reach until its decision. False when
    // the time-out has passed it on already: the application has it.
    bool claim(int device, std::uint32_t time) {
        if (isLate(time))
            return false;
        std::lock_guard lock(mutex_);
        auto it = std::find_if(pendingGrabs_.begin(), pendingGrabs_.end(),
                               [&](const PendingGrab& g) { return g.device == device && g.time == time; });
        if (it == pendingGrabs_.end())
            return false;
        it->claimed = true;
        return true;
    }

    // Main thread: the handler's answer for a grabbed key. False when the key was already passed on
    // after the time-out.
    bool decide(int device, std::uint32_t time, bool swallow) {
        {
            std::lock_guard lock(mutex_);
            auto it = std::find_if(pendingGrabs_.begin(), pendingGrabs_.end(), [&](const PendingGrab& g) {
                return g.device == device && g.time == time;
            });
            if (it == pendingGrabs_.end())
                return false;
            pendingGrabs_.erase(it);
        }
        xcb_connection_t* c = grab_.get();
        const auto dev = static_cast<xcb_input_device_id_t>(device);
        if (swallow) {
            // Ending the grab thaws the keyboard and keeps keys typed in roll-over; an async allow
            // would keep the grab until every key is up and drop them.
            xcb_input_xi_ungrab_device(c, XCB_CURRENT_TIME, dev);
        } else {
            xcb_input_xi_allow_events(c, XCB_CURRENT_TIME, dev, XCB_INPUT_EVENT_MODE_REPLAY_DEVICE, 0, 0);
        }
        xcb_flush(c);
        return true;
    }

    KeyGrabSet& grabs() { return *grabs_; }

private:
    // An event on its way to the main thread. Events leave in the order the server sent them; a
    // raw key press that one of our grabs should catch holds back the ones after it until its grab
    // event is paired with it or it is given up as unheld.
    struct Outgoing {
        KeyId id;
        InputEvent event;
        bool awaitingGrab = false;
        bool grabbed = false;
        Clock::time_point deadline{};
        bool opening = false;
        Clock::time_point readAt = Clock::now();
    };
    struct PendingGrab {
        int device;
        std::uint32_t time;
        Clock::time_point deadline;
        bool claimed = false; // the handler is deciding it: the time-out leaves it alone
    };

    static void remember(std::deque<KeyId>& list, const KeyId& id) {
        list.push_back(id);
        if (list.size() > recentKeys)
            list.pop_front();
    }
    static bool forget(std::deque<KeyId>& list, const KeyId& id) {
        const auto it = std::find(list.begin(), list.end(), id);
        if (it == list.end())
            return false;
        list.erase(it);
        return true;
    }

    void enqueue(Outgoing outgoing) {
        outbox_.push_back(std::move(outgoing));
        flush();
    }

    void flush() {
        while (!outbox_.empty() && !outbox_.front().awaitingGrab) {
            Outgoing& o = outbox_.front();
            o.event.canSwallow = o.grabbed;
            post(std::move(o.event), o.grabbed, o.id.device, o.id.time, o.opening, o.readAt);
            outbox_.pop_front();
        }
    }

    bool isFrozen(int device) {
        std::lock_guard lock(mutex_);
        return std::any_of(pendingGrabs_.begin(), pendingGrabs_.end(),
                           [device](const PendingGrab& g) { return g.device == device; });
    }

    void post(InputEvent event, bool grabbed, int device, std::uint32_t time, bool opening,
              Clock::time_point readAt) {
        Delivery d{std::move(event), grabbed, device, time, opening, readAt};
        QPointer<EventTapManager> owner = owner_;
        QMetaObject::invokeMethod(
            owner_,
            [owner, d] {
                if (owner)
                    owner->deliver(d);
            },
            Qt::QueuedConnection);
    }

    void run() {
        pollfd fds[3] = {{observe_.fd(), POLLIN, 0}, {grab_.fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        while (!stopping_) {
            if (!drain(observe_.get(), false) || !drain(grab_.get(), true)) {
                // The server closed a connection (killed by another client, or the display went
                // away): nothing is observed or withheld any more, which the owner must know.
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
            const auto consider = [&](Clock::time_point at) {
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - now).count() + 1;
                timeout = timeout < 0 ? static_cast<int>(std::max<long long>(ms, 0))
                                      : std::min(timeout, static_cast<int>(std::max<long long>(ms, 0)));
            };
            for (const auto& o : outbox_) {
                if (o.awaitingGrab)
                    consider(o.deadline);
            }
            {
                std::lock_guard lock(mutex_);
                for (const auto& g : pendingGrabs_)
                    consider(g.deadline);
            }
            if (reloadAt_)
                consider(*reloadAt_);
            if (::poll(fds, 3, timeout) > 0 && (fds[2].revents & POLLIN)) {
                std::uint64_t count = 0;
                [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
            }
        }
    }

    bool drain(xcb_connection_t* c, bool isGrabConnection) {
        while (xcb::Event event{xcb_poll_for_event(c)}) {
            if (isGrabConnection)
                handleGrabEvent(event.get());
            else
                handleObserveEvent(event.get());
        }
        return xcb_connection_has_error(c) == 0;
    }

    void handleDeadlines(Clock::time_point now) {
        // The server sends a key's grab event right after its raw event; one that is late only sits
        // unread on a busy machine. A round trip on the grab connection settles whether it is there.
        const bool overdue = std::any_of(outbox_.begin(), outbox_.end(), [&](const Outgoing& o) {
            return o.awaitingGrab && o.deadline <= now && !isFrozen(o.id.device);
        });
        if (overdue) {
            xcb_connection_t* c = grab_.get();
            xcb::sync(c);
            drain(c, true);
        }
        for (Outgoing& o : outbox_) {
            if (!o.awaitingGrab || o.deadline > now)
                continue;
            // While an earlier key of the same keyboard waits for its decision, the server holds
            // this one back too: its grab event cannot come yet.
            if (isFrozen(o.id.device)) {
                o.deadline = now + grabPairing;
                continue;
            }
            // No grab held it: the application has it. Should its grab event still turn up, the
            // key is passed on from there.
            o.awaitingGrab = false;
            remember(passedRaw_, o.id);
            qCDebug(inputLog) << "key" << o.id.keycode << "was not held by a grab; handed over as passed";
        }
        flush();
        std::vector<PendingGrab> expired;
        {
            std::lock_guard lock(mutex_);
            for (auto it = pendingGrabs_.begin(); it != pendingGrabs_.end();) {
                if (it->deadline <= now && !it->claimed) {
                    expired.push_back(*it);
                    it = pendingGrabs_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (const PendingGrab& g : expired) {
            xcb_input_xi_allow_events(grab_.get(), XCB_CURRENT_TIME,
                                      static_cast<xcb_input_device_id_t>(g.device),
                                      XCB_INPUT_EVENT_MODE_REPLAY_DEVICE, 0, 0);
            xcb_flush(grab_.get());
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

    void scheduleReload(std::chrono::milliseconds delay = keymapDebounce) {
        const Clock::time_point at = Clock::now() + delay;
        if (!reloadAt_ || at < *reloadAt_)
            reloadAt_ = at;
    }

    // The master keyboards, each with its keymap and a state that follows the raw events from now on.
    void reloadKeyboards() {
        xcb_connection_t* c = observe_.get();
        auto r = xcb::reply<xcb_input_xi_query_device_reply_t>(
            c, xcb_input_xi_query_device_reply, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL));
        if (!r)
            return;
        std::map<int, Master> masters;
        int coreXtest = -1;
        for (auto it = xcb_input_xi_query_device_infos_iterator(r.get()); it.rem;
             xcb_input_xi_device_info_next(&it)) {
            const auto* info = it.data;
            const std::string name(xcb_input_xi_device_info_name(info),
                                   xcb_input_xi_device_info_name_length(info));
            if (info->type == XCB_INPUT_DEVICE_TYPE_MASTER_KEYBOARD) {
                Master m;
                m.keymap = KeymapPtr(xkb_x11_keymap_new_from_device(context_.get(), c, info->deviceid,
                                                                    XKB_KEYMAP_COMPILE_NO_FLAGS),
                                     KeymapDeleter{});
                if (!m.keymap)
                    continue;
                m.state = trackedState(m.keymap.get(), c, info->deviceid);
                if (!m.state)
                    continue;
                // Keys held across the reload (Shift halfway through a typed ':') still count.
                if (const auto old = masters_.find(info->deviceid); old != masters_.end()) {
                    for (std::uint32_t key : old->second.down) {
                        if (!isLockKey(m.keymap.get(), key))
                            xkb_state_update_key(m.state.get(), key, XKB_KEY_DOWN);
                    }
                    m.down = old->second.down;
                }
                masters.emplace(info->deviceid, std::move(m));
            } else if (info->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD &&
                       info->attachment == coreKeyboardId(c) && name.size() >= 14 &&
                       name.compare(name.size() - 14, 14, "XTEST keyboard") == 0) {
                coreXtest = info->deviceid;
            }
        }
        masters_ = std::move(masters);
        if (coreXtest >= 0 && owner_->m_ownEvents)
            owner_->m_ownEvents->setSourceDevice(coreXtest);
        std::map<int, KeyGrabSet::Keyboard> keyboards;
        for (const auto& [device, master] : masters_)
            keyboards[device] = {master.keymap, lockedLayout(master.state.get())};
        grabs_->setKeyboards(std::move(keyboards));
    }

    // The grabs are planned for keymaps and layouts: the main thread plans them again.
    void announceKeymapChange() {
        QPointer<EventTapManager> owner = owner_;
        QMetaObject::invokeMethod(
            owner_,
            [owner] {
                if (owner)
                    owner->keymapChanged();
            },
            Qt::QueuedConnection);
    }

    static std::uint32_t lockedLayout(xkb_state* state) {
        return xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_LOCKED);
    }

    // The server locked another layout on `device`: keys are read in it from now on, and the grabs
    // are planned for it again (":" sits on another key in many layouts).
    void layoutLocked(int device, std::uint32_t layout) {
        xkb_state* state = stateFor(device);
        if (!state)
            return;
        xkb_state_update_mask(state, xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
                              xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
                              xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED),
                              xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_DEPRESSED),
                              xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_LATCHED), layout);
        if (grabs_->setLayout(device, lockedLayout(state)))
            announceKeymapChange();
    }

    int coreKeyboardId(xcb_connection_t* c) {
        if (coreKeyboard_ < 0)
            coreKeyboard_ = xkb_x11_get_core_keyboard_device_id(c);
        return coreKeyboard_;
    }

    // The state of `device`; a master that appeared since the last reload is read from the server
    // at once so that its first keys are not lost.
    Master* masterFor(int device) {
        auto it = masters_.find(device);
        if (it == masters_.end()) {
            scheduleReload(hierarchyDebounce);
            Master m;
            xcb_connection_t* c = observe_.get();
            m.keymap = KeymapPtr(
                xkb_x11_keymap_new_from_device(context_.get(), c, device, XKB_KEYMAP_COMPILE_NO_FLAGS),
                KeymapDeleter{});
            if (m.keymap)
                m.state = trackedState(m.keymap.get(), c, device);
            if (!m.state)
                return nullptr;
            it = masters_.emplace(device, std::move(m)).first;
        }
        return &it->second;
    }

    xkb_state* stateFor(int device) {
        Master* master = masterFor(device);
        return master ? master->state.get() : nullptr;
    }

    // Whether a press of `keycode` with `state`'s modifiers activates one of our grabs on `device`.
    bool activatesGrab(int device, std::uint32_t keycode, xkb_state* state) {
        return grabs_->activates(device, keycode,
                                 xkb_state_serialize_mods(state, XKB_STATE_MODS_EFFECTIVE) & 0xFF);
    }

    void handleObserveEvent(xcb_generic_event_t* event) {
        const std::uint8_t type = event->response_type & 0x7F;
        if (type == xkbEventBase_) {
            const auto xkbType = reinterpret_cast<const std::uint8_t*>(event)[1];
            if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
                scheduleReload();
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
            learnServerTime(raw->time);
            const bool press = ge->event_type == XCB_INPUT_RAW_KEY_PRESS;
            Master* master = masterFor(raw->deviceid);
            const bool own = owner_->m_ownEvents &&
                             owner_->m_ownEvents->takeRaw(raw->sourceid, raw->detail, press, raw->time);
            if (!master)
                return;
            xkb_state* state = master->state.get();
            std::erase(master->down, raw->detail);
            if (press)
                master->down.push_back(raw->detail);
            std::optional<InputEvent> reading;
            bool grabbed = false;
            if (press && !own) {
                reading = readKeyDown(state, raw->detail);
                grabbed = reading && activatesGrab(raw->deviceid, raw->detail, state);
            }
            xkb_state_update_key(state, raw->detail, press ? XKB_KEY_DOWN : XKB_KEY_UP);
            if (press)
                qCDebug(inputLog) << "raw press: device" << raw->deviceid << "source" << raw->sourceid
                                  << "key" << raw->detail << "time" << raw->time << (own ? "(ours)" : "")
                                  << (grabbed ? "(grab expected)" : "");
            if (!reading)
                return;
            const KeyId id{raw->deviceid, raw->detail, raw->time};
            // The grab event for this key may have come first (also from a grab that was on its way
            // out): the key is handed over already.
            if (forget(grabbedFirst_, id))
                return;
            // A key one of our grabs holds already needs nothing more.
            const bool opening = !grabbed && grabs_->opens(*reading);
            if (opening) {
                const Clock::time_point readAt = Clock::now();
                grabs_->widenForOpening();
                qCDebug(inputLog)
                    << "opening grabs held after"
                    << std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - readAt).count()
                    << "us";
            }
            if (grabbed) {
                enqueue({id, std::move(*reading), true, false, Clock::now() + grabPairing, opening});
                return;
            }
            // Should a grab that was on its way out still catch it, it is passed on from there.
            remember(passedRaw_, id);
            enqueue({id, std::move(*reading), false, false, {}, opening});
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
            enqueue({KeyId{raw->deviceid, 0, raw->time},
                     InputEvent::mouseDown(QPoint(pointer->root_x >> 16, pointer->root_y >> 16)), false,
                     false});
            return;
        }
        case XCB_INPUT_HIERARCHY:
            scheduleReload(hierarchyDebounce);
            return;
        default:
            return;
        }
    }

    void handleGrabEvent(xcb_generic_event_t* event) {
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
        const auto replayNow = [&] {
            xcb_input_xi_allow_events(grab_.get(), XCB_CURRENT_TIME,
                                      static_cast<xcb_input_device_id_t>(device),
                                      XCB_INPUT_EVENT_MODE_REPLAY_DEVICE, 0, 0);
            xcb_flush(grab_.get());
        };
        const auto holdForDecision = [&] {
            std::lock_guard lock(mutex_);
            pendingGrabs_.push_back(
                {device, key->time, std::min(Clock::now(), sentAt(key->time)) + decisionTimeout});
        };
        // Our own Backspace or paste landing on a held key goes straight on, and so does a key that
        // was handed over as unheld already.
        if ((owner_->m_ownEvents &&
             owner_->m_ownEvents->isOwnGrabbedPress(key->sourceid, key->detail, key->time)) ||
            forget(passedRaw_, id)) {
            replayNow();
            return;
        }
        // The two connections share no order: raw events of earlier keys may still sit unread on the
        // observing one (or in the server's buffer for it) while this grab event is here. A round
        // trip there brings in everything the server sent before this event, so earlier keys are
        // queued ahead of this one.
        if (!awaitsGrab(id))
            catchUpObserved();
        if (forget(passedRaw_, id)) {
            replayNow();
            return;
        }
        const auto waiting = std::find_if(outbox_.begin(), outbox_.end(),
                                          [&](const Outgoing& o) { return o.awaitingGrab && o.id == id; });
        if (waiting != outbox_.end()) {
            holdForDecision();
            waiting->awaitingGrab = false;
            waiting->grabbed = true;
            flush();
            return;
        }
        // The raw event is still on its way: read the key now and let the raw one go by.
        xkb_state* state = stateFor(device);
        std::optional<InputEvent> reading = state ? readKeyDown(state, key->detail) : std::nullopt;
        if (!reading) {
            replayNow();
            return;
        }
        remember(grabbedFirst_, id);
        holdForDecision();
        enqueue({id, std::move(*reading), false, true});
    }

    bool awaitsGrab(const KeyId& id) const {
        return std::any_of(outbox_.begin(), outbox_.end(),
                           [&](const Outgoing& o) { return o.awaitingGrab && o.id == id; });
    }

    // Reads and handles every event the server sent the observing connection before now.
    void catchUpObserved() {
        xcb_connection_t* c = observe_.get();
        xcb::sync(c);
        drain(c, false);
    }

    EventTapManager* owner_;
    xcb::Connection observe_;
    xcb::Connection grab_;
    std::uint8_t xiOpcode_ = 0;
    std::uint8_t xkbEventBase_ = 0;
    int coreKeyboard_ = -1;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    ContextPtr context_;
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    // Worker thread only.
    std::map<int, Master> masters_;
    std::deque<Outgoing> outbox_;
    std::deque<KeyId> grabbedFirst_;
    std::deque<KeyId> passedRaw_;
    std::optional<Clock::time_point> reloadAt_;

    // Shared with the main thread.
    mutable std::mutex mutex_;
    std::vector<PendingGrab> pendingGrabs_;
    static constexpr long long noOffset = std::numeric_limits<long long>::min();
    std::atomic<long long> serverOffset_{noOffset};
    std::unique_ptr<KeyGrabSet> grabs_;
};

// ---------------------------------------------------------------------------------------------
// EventTapManager

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

void EventTapManager::connectionLost() {
    if (!m_worker)
        return;
    qCWarning(inputLog) << "X11 input hook lost its display connection: keys are neither observed nor "
                           "withheld until it is installed again";
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
        if (worker && worker->isHeld(device, time) && !worker->isLate(time)) {
            event.hold = [worker, device, time] { return worker->claim(device, time); };
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

std::vector<int> EventTapManager::masterKeyboards() const {
    return m_worker ? m_worker->grabs().keyboards() : std::vector<int>{};
}

} // namespace pimsel
