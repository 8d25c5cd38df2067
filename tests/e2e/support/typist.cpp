#include "tests/e2e/support/typist.h"

#include "platform/xinput_devices.h"
#include "tests/e2e/support/desktop.h"

#include <QString>

#include <xcb/xinput.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <thread>

namespace pimsel::e2e {
namespace {

constexpr const char* masterName = "pimsel-typist";

struct Devices {
    int masterKeyboard = 0;
    int masterPointer = 0;
    int xtestKeyboard = 0;
    int xtestPointer = 0;
};

Devices findDevices(xcb_connection_t* c) {
    const std::string base = masterName;
    Devices d;
    auto r = xcb::reply<xcb_input_xi_query_device_reply_t>(
        c, xcb_input_xi_query_device_reply, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL));
    if (!r)
        return d;
    for (auto it = xcb_input_xi_query_device_infos_iterator(r.get()); it.rem;
         xcb_input_xi_device_info_next(&it)) {
        const std::string name(xcb_input_xi_device_info_name(it.data),
                               xcb_input_xi_device_info_name_length(it.data));
        if (name == base + " keyboard" && it.data->type == XCB_INPUT_DEVICE_TYPE_MASTER_KEYBOARD)
            d.masterKeyboard = it.data->deviceid;
        else if (name == base + " pointer" && it.data->type == XCB_INPUT_DEVICE_TYPE_MASTER_POINTER)
            d.masterPointer = it.data->deviceid;
        else if (name == base + " XTEST keyboard")
            d.xtestKeyboard = it.data->deviceid;
        else if (name == base + " XTEST pointer")
            d.xtestPointer = it.data->deviceid;
    }
    return d;
}

bool addMaster(xcb_connection_t* c) {
    const std::size_t nameLen = std::strlen(masterName);
    const std::size_t padded = (nameLen + 3) / 4 * 4;
    std::vector<std::uint8_t> buffer(sizeof(xcb_input_add_master_t) + padded, 0);
    auto* change = reinterpret_cast<xcb_input_add_master_t*>(buffer.data());
    change->type = XCB_INPUT_HIERARCHY_CHANGE_TYPE_ADD_MASTER;
    change->len = static_cast<std::uint16_t>(buffer.size() / 4);
    change->name_len = static_cast<std::uint16_t>(nameLen);
    change->send_core = 1;
    change->enable = 1;
    std::memcpy(buffer.data() + sizeof(xcb_input_add_master_t), masterName, nameLen);
    return xcb::check(c, xcb_input_xi_change_hierarchy_checked(
                             c, 1, reinterpret_cast<const xcb_input_hierarchy_change_t*>(buffer.data())));
}

bool removeMasterDevice(xcb_connection_t* c, int masterKeyboard) {
    xcb_input_remove_master_t change{};
    change.type = XCB_INPUT_HIERARCHY_CHANGE_TYPE_REMOVE_MASTER;
    change.len = sizeof(change) / 4;
    change.deviceid = static_cast<xcb_input_device_id_t>(masterKeyboard);
    change.return_mode = XCB_INPUT_CHANGE_MODE_FLOAT;
    return xcb::check(c, xcb_input_xi_change_hierarchy_checked(
                             c, 1, reinterpret_cast<const xcb_input_hierarchy_change_t*>(&change)));
}

std::uint32_t keysymFromName(const std::string& name) {
    return xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
}

} // namespace

Typist::Typist(Keyboard keyboard, MasterLifetime lifetime)
    : connection_(nullptr)
    , plain_(nullptr)
    , lifetime_(lifetime) {
    xcb_connection_t* c = connection_.get();
    const auto failed = [&](const char* why) {
        error_ = why;
        return false;
    };
    const auto prepare = [&] {
        if (!connection_ || !plain_)
            return failed("cannot connect to the X display");
        if (!xcb::extensionOpcode(c, "XInputExtension") || !xcb::extensionOpcode(c, "XTEST"))
            return failed("the server lacks XInput or XTEST");
        auto version = xcb::reply<xcb_input_xi_query_version_reply_t>(c, xcb_input_xi_query_version_reply,
                                                                      xcb_input_xi_query_version(c, 2, 2));
        if (!version || version->major_version < 2)
            return failed("XInput 2 unavailable");
        // The session's keyboard: the virtual core devices and their XTEST slaves, no hierarchy
        // change, no client pointer.
        if (keyboard == Keyboard::core) {
            masterKeyboard_ = virtualCoreKeyboard;
            return true;
        }
        Devices d = findDevices(c);
        if (!d.masterKeyboard && !(createdMaster_ = addMaster(c)))
            return failed("adding the master device failed");
        if (createdMaster_)
            d = findDevices(c);
        if (!d.masterKeyboard || !d.masterPointer || !d.xtestKeyboard)
            return failed("the typist's devices did not appear");
        masterKeyboard_ = d.masterKeyboard;
        xtestKeyboard_ = d.xtestKeyboard;
        xtestPointer_ = d.xtestPointer;
        // Core requests from this connection (XTest key events among them) now act on the typist's master.
        return xcb::check(c, xcb_input_xi_set_client_pointer_checked(
                                 c, XCB_WINDOW_NONE, static_cast<xcb_input_device_id_t>(d.masterPointer))) ||
               failed("XISetClientPointer failed");
    };
    ready_ = prepare() &&
             ((keymap_ = keyboardMapping(c)).perKeycode > 0 || failed("cannot read the keyboard mapping"));
}

Typist::~Typist() {
    if (!connection_ || !createdMaster_ || lifetime_ == MasterLifetime::keep)
        return;
    removeMasterDevice(connection_.get(), masterKeyboard_);
}

bool Typist::removeMaster() {
    xcb::Connection c(nullptr);
    if (!c)
        return false;
    const Devices d = findDevices(c.get());
    return d.masterKeyboard && removeMasterDevice(c.get(), d.masterKeyboard);
}

std::vector<std::pair<int, int>> Typist::keysHeldOnXtestKeyboards() {
    std::vector<std::pair<int, int>> held;
    xcb::Connection c(nullptr);
    if (!c)
        return held;
    for (const xcb::SlaveKeyboard& keyboard : xcb::slaveKeyboards(c.get())) {
        if (keyboard.name.find("XTEST keyboard") == std::string::npos)
            continue;
        const std::bitset<256> down = xcb::keysDown(c.get(), keyboard.id);
        for (int code = 8; code < 256; ++code) {
            if (down[static_cast<std::size_t>(code)])
                held.emplace_back(keyboard.id, code);
        }
    }
    return held;
}

void Typist::sync() {
    if (connection_)
        xcb::sync(connection_.get());
}

void Typist::pause() const {
    if (keyDelay_.count() > 0)
        std::this_thread::sleep_for(keyDelay_);
}

bool Typist::focus(xcb_window_t window) {
    if (!ready_)
        return false;
    return xcb::check(connection_.get(),
                      xcb_input_xi_set_focus_checked(connection_.get(), window, XCB_CURRENT_TIME,
                                                     static_cast<xcb_input_device_id_t>(masterKeyboard_)));
}

bool Typist::activate(xcb_window_t window) {
    if (!plain_)
        return false;
    xcb_connection_t* c = plain_.get();
    // From a pager (source 2): the window manager obeys without second-guessing.
    XView().askWindowManager(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME});
    return pumpUntil(
        [&] {
            const auto focus =
                xcb::reply<xcb_get_input_focus_reply_t>(c, xcb_get_input_focus_reply, xcb_get_input_focus(c));
            if (!focus || focus->focus == XCB_WINDOW_NONE || focus->focus == window)
                return focus && focus->focus == window;
            // Toolkits may focus a child of the toplevel.
            const auto tree =
                xcb::reply<xcb_query_tree_reply_t>(c, xcb_query_tree_reply, xcb_query_tree(c, focus->focus));
            return tree && tree->parent == window;
        },
        std::chrono::seconds(2));
}

bool Typist::findKeysym(std::uint32_t keysym, KeyStroke& out) const {
    const int keycodes = keymap_.perKeycode ? int(keymap_.keysyms.size()) / keymap_.perKeycode : 0;
    for (int level = 0; level < std::min(keymap_.perKeycode, 2); ++level) {
        for (int code = keymap_.minKeycode; code < keymap_.minKeycode + keycodes; ++code) {
            if (keymap_.keysym(std::uint8_t(code), level) == keysym) {
                out = {std::uint8_t(code), level == 1};
                return true;
            }
        }
    }
    return false;
}

bool Typist::fakeKey(std::uint8_t keycode, bool down, bool wait) {
    // The server routes core XTest events through the XTEST slave of the client pointer's master.
    xcb_test_fake_input(connection_.get(), down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME,
                        XCB_WINDOW_NONE, 0, 0, static_cast<std::uint8_t>(xtestKeyboard_));
    if (wait)
        sync();
    else
        xcb_flush(connection_.get());
    return !xcb_connection_has_error(connection_.get());
}

bool Typist::typeKeysym(std::uint32_t keysym) {
    KeyStroke stroke;
    if (findKeysym(keysym, stroke)) {
        KeyStroke shift;
        if (stroke.shift && !findKeysym(keysymFromName("Shift_L"), shift))
            return false;
        bool ok = true;
        if (stroke.shift)
            ok &= fakeKey(shift.keycode, true);
        ok &= fakeKey(stroke.keycode, true);
        ok &= fakeKey(stroke.keycode, false);
        if (stroke.shift)
            ok &= fakeKey(shift.keycode, false);
        pause();
        return ok;
    }
    return false;
}

bool Typist::type(const std::string& utf8) {
    if (!ready_)
        return false;
    for (const char32_t cp : QString::fromStdString(utf8).toUcs4()) {
        std::uint32_t keysym = 0;
        if (cp == '\n')
            keysym = keysymFromName("Return");
        else if (cp == '\t')
            keysym = keysymFromName("Tab");
        else if (cp == '\b')
            keysym = keysymFromName("BackSpace");
        else
            keysym = xkb_utf32_to_keysym(cp);
        if (keysym == XKB_KEY_NoSymbol || !typeKeysym(keysym)) {
            error_ = "no key for U+" + std::to_string(std::uint32_t(cp));
            return false;
        }
    }
    return true;
}

bool Typist::sendKey(const std::string& keyName, bool down, bool wait) {
    KeyStroke stroke;
    if (!ready_ || !findKeysym(keysymFromName(keyName), stroke)) {
        error_ = "no key for " + keyName;
        return false;
    }
    return fakeKey(stroke.keycode, down, wait);
}

bool Typist::key(const std::string& combo) {
    static const std::map<std::string, std::string> modifierKeys = {
        {"shift", "Shift_L"}, {"ctrl", "Control_L"}, {"alt", "Alt_L"}, {"super", "Super_L"}};
    std::vector<std::string> held;
    std::size_t start = 0;
    for (std::size_t plus; (plus = combo.find('+', start)) != std::string::npos; start = plus + 1) {
        const auto modifier = modifierKeys.find(combo.substr(start, plus - start));
        if (modifier == modifierKeys.end()) {
            error_ = "unknown modifier in " + combo;
            return false;
        }
        held.push_back(modifier->second);
    }
    const std::string name = combo.substr(start);
    bool ok = true;
    for (const auto& m : held)
        ok = ok && press(m);
    ok = ok && press(name) && release(name);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        ok &= release(*it);
    pause();
    return ok;
}

bool Typist::click(int x, int y, int button) {
    if (!ready_)
        return false;
    xcb_connection_t* c = connection_.get();
    const auto pointer = static_cast<std::uint8_t>(xtestPointer_);
    xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, connection_.root(),
                        static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), pointer);
    sync();
    for (const std::uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE}) {
        xcb_test_fake_input(c, type, static_cast<std::uint8_t>(button), XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0,
                            0, pointer);
        sync();
    }
    pause();
    return !xcb_connection_has_error(c);
}

} // namespace pimsel::e2e
