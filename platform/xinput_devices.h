#pragma once

// What the server says about its XInput keyboards: which slave types into which master, and the
// keys each one holds down. The server keeps a key state per device, so these tell a key the user
// still holds from one that only a synthesised press keeps down on the master.

#include "platform/xcb_handles.h"

#include <xcb/xinput.h>

#include <bitset>
#include <string>
#include <vector>

namespace pimsel::xcb {

struct SlaveKeyboard {
    int id = 0;
    int master = 0; // the master keyboard it is attached to
    std::string name;
};

inline std::vector<SlaveKeyboard> slaveKeyboards(xcb_connection_t* c) {
    std::vector<SlaveKeyboard> keyboards;
    auto r = reply<xcb_input_xi_query_device_reply_t>(c, xcb_input_xi_query_device_reply,
                                                      xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL));
    if (!r)
        return keyboards;
    for (auto it = xcb_input_xi_query_device_infos_iterator(r.get()); it.rem;
         xcb_input_xi_device_info_next(&it)) {
        if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD)
            keyboards.push_back({it.data->deviceid, it.data->attachment,
                                 std::string(xcb_input_xi_device_info_name(it.data),
                                             xcb_input_xi_device_info_name_length(it.data))});
    }
    return keyboards;
}

// The keycodes `device` holds down now (none when it cannot be read).
inline std::bitset<256> keysDown(xcb_connection_t* c, int device) {
    std::bitset<256> down;
    auto state = reply<xcb_input_query_device_state_reply_t>(
        c, xcb_input_query_device_state_reply,
        xcb_input_query_device_state(c, static_cast<std::uint8_t>(device)));
    if (!state)
        return down;
    for (auto it = xcb_input_query_device_state_classes_iterator(state.get()); it.rem;
         xcb_input_input_state_next(&it)) {
        if (it.data->class_id != XCB_INPUT_INPUT_CLASS_KEY)
            continue;
        const auto* keys = reinterpret_cast<const xcb_input_key_state_t*>(it.data);
        for (std::size_t code = 0; code < down.size(); ++code)
            down[code] = keys->keys[code / 8] & (1u << (code % 8));
    }
    return down;
}

} // namespace pimsel::xcb
