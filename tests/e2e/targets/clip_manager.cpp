// A stand-in for the session's clipboard manager, for the desktop tests. It owns CLIPBOARD_MANAGER;
// asked to SAVE_TARGETS by the clipboard's owner, it copies every target that owner offers into its
// own storage and answers, then takes the clipboard over once that owner has let go and serves the
// copy. Prints "READY" once it owns CLIPBOARD_MANAGER and "SAVED n" after taking n targets in.
// Runs until killed. A target list named in the request is not honoured (Qt never names one), and
// data large enough to need INCR is not taken: the tests' clipboards are small.
#include "platform/xcb_handles.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <poll.h>
#include <string>
#include <vector>

namespace {

using namespace pimsel;
using Clock = std::chrono::steady_clock;

struct Stored {
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 8;
    std::string bytes;
};

class StandIn {
public:
    bool start() {
        if (!connection_)
            return false;
        c_ = connection_.get();
        window_ = xcb_generate_id(c_);
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, connection_.root(), -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        clipboard_ = atom("CLIPBOARD");
        manager_ = atom("CLIPBOARD_MANAGER");
        saveTargets_ = atom("SAVE_TARGETS");
        targets_ = atom("TARGETS");
        incr_ = atom("INCR");
        property_ = atom("STAND_IN_DATA");
        const xcb_timestamp_t now = serverTime();
        if (now == XCB_CURRENT_TIME)
            return false;
        // Owned with a real time, as a manager selection must be, so a later claim is ordered against it.
        xcb_set_selection_owner(c_, window_, manager_, now);
        return owner(manager_) == window_;
    }

    void run() {
        for (;;) {
            while (!later_.empty()) {
                xcb::Event e = std::move(later_.front());
                later_.pop_front();
                handle(e.get());
            }
            xcb::Event e = nextEvent(Clock::now() + std::chrono::milliseconds(50));
            if (e)
                handle(e.get());
            if (xcb_connection_has_error(c_))
                return;
            // The saving owner lets go of the clipboard by exiting; someone else claiming it first
            // made the saved copy stale.
            if (saver_ != XCB_WINDOW_NONE) {
                const xcb_window_t now = owner(clipboard_);
                if (now == XCB_WINDOW_NONE)
                    xcb_set_selection_owner(c_, window_, clipboard_, serverTime());
                if (now != saver_)
                    saver_ = XCB_WINDOW_NONE;
            }
        }
    }

private:
    xcb_atom_t atom(const char* name) {
        auto r = xcb::reply<xcb_intern_atom_reply_t>(
            c_, xcb_intern_atom_reply, xcb_intern_atom(c_, 0, std::uint16_t(std::strlen(name)), name));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    xcb_window_t owner(xcb_atom_t selection) {
        auto r = xcb::reply<xcb_get_selection_owner_reply_t>(c_, xcb_get_selection_owner_reply,
                                                             xcb_get_selection_owner(c_, selection));
        return r ? r->owner : xcb_window_t(XCB_WINDOW_NONE);
    }

    xcb::Event nextEvent(Clock::time_point deadline) {
        for (;;) {
            if (xcb::Event e{xcb_poll_for_event(c_)})
                return e;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || xcb_connection_has_error(c_))
                return nullptr;
            xcb_flush(c_);
            pollfd descriptor{xcb_get_file_descriptor(c_), POLLIN, 0};
            ::poll(&descriptor, 1, int(left.count()));
        }
    }
    // Waits for the event `wanted` accepts; requests arriving meanwhile are answered afterwards.
    xcb::Event waitFor(const std::function<bool(const xcb_generic_event_t*)>& wanted,
                       Clock::time_point deadline) {
        while (xcb::Event e = nextEvent(deadline)) {
            if (wanted(e.get()))
                return e;
            if ((e->response_type & 0x7f) == XCB_SELECTION_REQUEST)
                later_.push_back(std::move(e));
        }
        return nullptr;
    }

    // The server's time now, read off the stamp of an empty change to a property of our own.
    xcb_timestamp_t serverTime() {
        xcb_change_property(c_, XCB_PROP_MODE_APPEND, window_, property_, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb::Event e = waitFor(
            [this](const xcb_generic_event_t* e) {
                const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(e);
                return (e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY && notify->window == window_ &&
                       notify->atom == property_;
            },
            Clock::now() + std::chrono::seconds(2));
        return e ? reinterpret_cast<const xcb_property_notify_event_t*>(e.get())->time
                 : xcb_timestamp_t(XCB_CURRENT_TIME);
    }

    void handle(const xcb_generic_event_t* e) {
        if ((e->response_type & 0x7f) == XCB_SELECTION_REQUEST)
            answer(*reinterpret_cast<const xcb_selection_request_event_t*>(e));
    }

    void answer(const xcb_selection_request_event_t& request) {
        xcb_atom_t property = XCB_ATOM_NONE;
        if (request.selection == manager_ && request.target == saveTargets_) {
            if (saveClipboard(request.time)) {
                property = request.property;
                saver_ = owner(clipboard_);
            }
        } else if (request.selection == clipboard_ && request.target == targets_) {
            std::vector<xcb_atom_t> offered{targets_};
            for (const auto& [target, stored] : storage_)
                offered.push_back(target);
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, request.requestor, request.property, XCB_ATOM_ATOM,
                                32, std::uint32_t(offered.size()), offered.data());
            property = request.property;
        } else if (request.selection == clipboard_ && storage_.count(request.target)) {
            const Stored& stored = storage_.at(request.target);
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, request.requestor, request.property, stored.type,
                                stored.format, std::uint32_t(stored.bytes.size() / (stored.format / 8)),
                                stored.bytes.data());
            property = request.property;
        }
        xcb_selection_notify_event_t notify = {};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = property;
        xcb_send_event(c_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(c_);
    }

    // Asked at the time of the save request, so the owner answers for the data it held then.
    bool convert(xcb_atom_t target, xcb_timestamp_t time, Clock::time_point deadline, Stored& out) {
        xcb_delete_property(c_, window_, property_);
        xcb_convert_selection(c_, window_, clipboard_, target, property_, time);
        // A refused conversion (an error instead of a notice) must not cost the rest of the budget.
        xcb::Event e = waitFor(
            [this](const xcb_generic_event_t* e) {
                return e->response_type == 0 ||
                       ((e->response_type & 0x7f) == XCB_SELECTION_NOTIFY &&
                        reinterpret_cast<const xcb_selection_notify_event_t*>(e)->requestor == window_);
            },
            deadline);
        if (!e || e->response_type == 0 ||
            reinterpret_cast<const xcb_selection_notify_event_t*>(e.get())->property == XCB_ATOM_NONE)
            return false;
        auto reply = xcb::reply<xcb_get_property_reply_t>(
            c_, xcb_get_property_reply,
            xcb_get_property(c_, 1, window_, property_, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1fffffff));
        if (!reply || reply->type == XCB_ATOM_NONE || reply->type == incr_)
            return false;
        out.type = reply->type;
        out.format = reply->format ? reply->format : 8;
        // The value's length is counted in bytes whatever the format.
        const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
        out.bytes.assign(data, std::size_t(xcb_get_property_value_length(reply.get())));
        return true;
    }

    bool saveClipboard(xcb_timestamp_t time) {
        storage_.clear();
        // The owner gives up waiting for the answer after five seconds.
        const auto deadline = Clock::now() + std::chrono::seconds(4);
        Stored list;
        if (!convert(targets_, time, deadline, list) || list.format != 32)
            return false;
        std::vector<xcb_atom_t> targets(list.bytes.size() / sizeof(xcb_atom_t));
        std::memcpy(targets.data(), list.bytes.data(), targets.size() * sizeof(xcb_atom_t));
        const std::vector<xcb_atom_t> skipped{targets_, atom("MULTIPLE"), atom("TIMESTAMP"), saveTargets_};
        for (xcb_atom_t target : targets) {
            if (std::find(skipped.begin(), skipped.end(), target) != skipped.end())
                continue;
            Stored stored;
            if (convert(target, time, deadline, stored))
                storage_[target] = stored;
        }
        std::printf("SAVED %zu\n", storage_.size());
        std::fflush(stdout);
        return !storage_.empty();
    }

    xcb::Connection connection_{nullptr};
    xcb_connection_t* c_ = nullptr;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_atom_t clipboard_ = XCB_ATOM_NONE;
    xcb_atom_t manager_ = XCB_ATOM_NONE;
    xcb_atom_t saveTargets_ = XCB_ATOM_NONE;
    xcb_atom_t targets_ = XCB_ATOM_NONE;
    xcb_atom_t incr_ = XCB_ATOM_NONE;
    xcb_atom_t property_ = XCB_ATOM_NONE;
    std::map<xcb_atom_t, Stored> storage_;
    // The window whose clipboard was saved, until it lets go of it.
    xcb_window_t saver_ = XCB_WINDOW_NONE;
    std::deque<xcb::Event> later_;
};

} // namespace

int main() {
    StandIn standIn;
    if (!standIn.start())
        return 1;
    std::printf("READY\n");
    std::fflush(stdout);
    standIn.run();
    return 0;
}
