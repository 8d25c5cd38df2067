// A stand-in for the session's clipboard manager, for the desktop tests. It owns CLIPBOARD_MANAGER;
// asked to SAVE_TARGETS by the clipboard's owner, it copies every target that owner offers and
// answers, then takes the clipboard over once that owner has let go and serves the copy. Prints
// "READY" once it owns CLIPBOARD_MANAGER and "SAVED n" after taking n targets in. Runs until
// killed. Data large enough to need INCR is not taken: the tests' clipboards are small.
#include "platform/xcb_handles.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
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

xcb::Connection connection(nullptr);
xcb_connection_t* c = nullptr;
xcb_window_t window = XCB_WINDOW_NONE;
std::map<xcb_atom_t, Stored> storage;

xcb_atom_t atom(const char* name) {
    auto r = xcb::reply<xcb_intern_atom_reply_t>(
        c, xcb_intern_atom_reply, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t owner(xcb_atom_t selection) {
    auto r = xcb::reply<xcb_get_selection_owner_reply_t>(c, xcb_get_selection_owner_reply,
                                                         xcb_get_selection_owner(c, selection));
    return r ? r->owner : xcb_window_t(XCB_WINDOW_NONE);
}

// The next event that `wanted` accepts before `deadline`; others are dropped.
xcb::Event waitFor(const std::function<bool(const xcb_generic_event_t*)>& wanted,
                   Clock::time_point deadline) {
    for (;;) {
        if (xcb::Event e{xcb_poll_for_event(c)}) {
            if (wanted(e.get()))
                return e;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || xcb_connection_has_error(c))
            return nullptr;
        xcb_flush(c);
        pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&descriptor, 1, int(left.count()));
    }
}

// The clipboard's `target` as its owner held it at `time`. A refused conversion (an error instead of
// a notice) must not cost the rest of the owner's patience.
bool convert(xcb_atom_t target, xcb_timestamp_t time, Clock::time_point deadline, Stored& out) {
    const xcb_atom_t property = atom("STAND_IN_DATA");
    xcb_convert_selection(c, window, atom("CLIPBOARD"), target, property, time);
    const xcb::Event e = waitFor(
        [](const xcb_generic_event_t* e) {
            return e->response_type == 0 || (e->response_type & 0x7f) == XCB_SELECTION_NOTIFY;
        },
        deadline);
    if (!e || e->response_type == 0 ||
        reinterpret_cast<const xcb_selection_notify_event_t*>(e.get())->property == XCB_ATOM_NONE)
        return false;
    auto reply = xcb::reply<xcb_get_property_reply_t>(
        c, xcb_get_property_reply,
        xcb_get_property(c, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1fffffff));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->type == atom("INCR"))
        return false;
    out.type = reply->type;
    out.format = reply->format ? reply->format : 8;
    // The value's length is counted in bytes whatever the format.
    out.bytes.assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                     std::size_t(xcb_get_property_value_length(reply.get())));
    return true;
}

bool save(xcb_timestamp_t time) {
    storage.clear();
    // The owner gives up waiting for the answer after five seconds.
    const auto deadline = Clock::now() + std::chrono::seconds(4);
    Stored list;
    if (!convert(atom("TARGETS"), time, deadline, list) || list.format != 32)
        return false;
    std::vector<xcb_atom_t> targets(list.bytes.size() / sizeof(xcb_atom_t));
    std::memcpy(targets.data(), list.bytes.data(), targets.size() * sizeof(xcb_atom_t));
    const std::vector<xcb_atom_t> skipped{atom("TARGETS"), atom("MULTIPLE"), atom("TIMESTAMP"),
                                          atom("SAVE_TARGETS")};
    for (const xcb_atom_t target : targets) {
        Stored stored;
        if (std::find(skipped.begin(), skipped.end(), target) == skipped.end() &&
            convert(target, time, deadline, stored))
            storage[target] = stored;
    }
    std::printf("SAVED %zu\n", storage.size());
    std::fflush(stdout);
    return !storage.empty();
}

// Answers a request for CLIPBOARD_MANAGER or, once taken over, for CLIPBOARD; returns the owner
// whose clipboard was saved, if it was.
xcb_window_t answer(const xcb_selection_request_event_t& request) {
    xcb_atom_t property = XCB_ATOM_NONE;
    xcb_window_t saved = XCB_WINDOW_NONE;
    if (request.selection == atom("CLIPBOARD_MANAGER") && request.target == atom("SAVE_TARGETS")) {
        if (save(request.time)) {
            property = request.property;
            saved = owner(atom("CLIPBOARD"));
        }
    } else if (request.selection == atom("CLIPBOARD") && request.target == atom("TARGETS")) {
        std::vector<xcb_atom_t> offered{atom("TARGETS")};
        for (const auto& [target, stored] : storage)
            offered.push_back(target);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, XCB_ATOM_ATOM, 32,
                            std::uint32_t(offered.size()), offered.data());
        property = request.property;
    } else if (request.selection == atom("CLIPBOARD") && storage.count(request.target)) {
        const Stored& stored = storage.at(request.target);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property, stored.type,
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
    xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
    xcb_flush(c);
    return saved;
}

} // namespace

int main() {
    if (!connection)
        return 1;
    c = connection.get();
    window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, connection.root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, window, atom("CLIPBOARD_MANAGER"), XCB_CURRENT_TIME);
    if (owner(atom("CLIPBOARD_MANAGER")) != window)
        return 1;
    std::printf("READY\n");
    std::fflush(stdout);
    // The saving owner lets go of the clipboard by exiting; someone else claiming it first made the
    // saved copy stale.
    xcb_window_t saver = XCB_WINDOW_NONE;
    while (!xcb_connection_has_error(c)) {
        const xcb::Event e = waitFor(
            [](const xcb_generic_event_t* e) { return (e->response_type & 0x7f) == XCB_SELECTION_REQUEST; },
            Clock::now() + std::chrono::milliseconds(50));
        if (e) {
            if (const xcb_window_t saved =
                    answer(*reinterpret_cast<const xcb_selection_request_event_t*>(e.get())))
                saver = saved;
        }
        if (saver == XCB_WINDOW_NONE)
            continue;
        const xcb_window_t now = owner(atom("CLIPBOARD"));
        if (now == XCB_WINDOW_NONE)
            xcb_set_selection_owner(c, window, atom("CLIPBOARD"), XCB_CURRENT_TIME);
        if (now != saver)
            saver = XCB_WINDOW_NONE;
    }
    return 0;
}
