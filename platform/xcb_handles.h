#pragma once

// Owning wrappers for the xcb objects the input layer holds, so no free() appears in the logic, and
// the few small requests every user of a connection makes.

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace pimsel::xcb {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

// A reply, an error or an event: all malloc'ed by xcb and released with free().
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

using Error = Reply<xcb_generic_error_t>;
using Event = Reply<xcb_generic_event_t>;

// Wraps the blocking xcb_*_reply(connection, cookie, &error) pattern.
template <typename T, typename Cookie, typename ReplyFn>
Reply<T> reply(xcb_connection_t* c, ReplyFn fn, Cookie cookie, Error* errorOut = nullptr) {
    xcb_generic_error_t* error = nullptr;
    Reply<T> result(fn(c, cookie, &error));
    if (errorOut)
        errorOut->reset(error);
    else
        std::free(error);
    return result;
}

// Sends a checked request and waits for its outcome; true when the server accepted it.
inline bool check(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    Error error(xcb_request_check(c, cookie));
    return !error;
}

class Connection {
public:
    Connection() = default;
    explicit Connection(const char* displayName) {
        int screen = 0;
        xcb_connection_t* c = xcb_connect(displayName, &screen);
        if (c && xcb_connection_has_error(c) == 0) {
            connection_ = c;
            screenNumber_ = screen;
        } else if (c) {
            xcb_disconnect(c);
        }
    }
    ~Connection() { reset(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Connection(Connection&& other) noexcept { *this = std::move(other); }
    Connection& operator=(Connection&& other) noexcept {
        if (this != &other) {
            reset();
            connection_ = other.connection_;
            screenNumber_ = other.screenNumber_;
            other.connection_ = nullptr;
        }
        return *this;
    }

    void reset() {
        if (connection_)
            xcb_disconnect(connection_);
        connection_ = nullptr;
    }

    explicit operator bool() const { return connection_ && xcb_connection_has_error(connection_) == 0; }
    xcb_connection_t* get() const { return connection_; }
    int fd() const { return connection_ ? xcb_get_file_descriptor(connection_) : -1; }

    xcb_screen_t* screen() const {
        if (!connection_)
            return nullptr;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; it.rem; ++i, xcb_screen_next(&it)) {
            if (i == screenNumber_)
                return it.data;
        }
        return nullptr;
    }
    xcb_window_t root() const {
        xcb_screen_t* s = screen();
        return s ? s->root : xcb_window_t{XCB_WINDOW_NONE};
    }

private:
    xcb_connection_t* connection_ = nullptr;
    int screenNumber_ = 0;
};

// The major opcode of an extension, or 0 when the server lacks it.
inline std::uint8_t extensionOpcode(xcb_connection_t* c, const std::string& name) {
    auto r = reply<xcb_query_extension_reply_t>(
        c, xcb_query_extension_reply,
        xcb_query_extension(c, static_cast<std::uint16_t>(name.size()), name.c_str()));
    return (r && r->present) ? r->major_opcode : 0;
}

// Waits until the server has processed every request sent on `c` so far.
inline void sync(xcb_connection_t* c) {
    reply<xcb_get_input_focus_reply_t>(c, xcb_get_input_focus_reply, xcb_get_input_focus(c));
}

// The keycode that types `keysym` in the core keymap, unshifted position first; 0 when none does.
inline std::uint8_t keycodeOf(xcb_connection_t* c, std::uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto mapping = reply<xcb_get_keyboard_mapping_reply_t>(
        c, xcb_get_keyboard_mapping_reply,
        xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)));
    if (!mapping || mapping->keysyms_per_keycode == 0)
        return 0;
    const int per = mapping->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int length = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
    // Layouts that keep a key only at a shifted position still have it found.
    for (int column = 0; column < per; ++column) {
        for (int i = 0; i + column < length; i += per) {
            if (syms[i + column] == keysym)
                return static_cast<std::uint8_t>(setup->min_keycode + i / per);
        }
    }
    return 0;
}

} // namespace pimsel::xcb
