// A connection of its own, opened from DISPLAY for the one question and closed after it, so
// that nothing is held between chimes and the answer does not depend on the window toolkit.

#include "platform/posix/xcb_fullscreen.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform::posix {

namespace {

// XCB_ATOM_NONE for a name the server has never heard of: then no window carries it either.
xcb_atom_t ExistingAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// The first `count` 32-bit values of a window's property, whatever its type; none when the
// property or the window is missing.
std::vector<std::uint32_t> Values(xcb_connection_t* connection, xcb_window_t window,
                                  xcb_atom_t property, std::uint32_t count) {
    std::vector<std::uint32_t> values;
    if (property == XCB_ATOM_NONE) {
        return values;
    }
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, count),
        nullptr);
    if (reply != nullptr && reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

} // namespace

bool ActiveWindowIsFullScreen() {
    int screen_number = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen_number);
    bool full_screen = false;
    if (xcb_connection_has_error(connection) == 0) {
        xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screen_number && screen.rem > 0; ++i) {
            xcb_screen_next(&screen);
        }
        const std::vector<std::uint32_t> active =
            screen.rem > 0 ? Values(connection, screen.data->root,
                                    ExistingAtom(connection, "_NET_ACTIVE_WINDOW"), 1)
                           : std::vector<std::uint32_t>();
        const xcb_atom_t full = ExistingAtom(connection, "_NET_WM_STATE_FULLSCREEN");
        if (!active.empty() && active[0] != XCB_WINDOW_NONE && full != XCB_ATOM_NONE) {
            for (std::uint32_t state :
                 Values(connection, active[0], ExistingAtom(connection, "_NET_WM_STATE"), 64)) {
                full_screen = full_screen || state == full;
            }
        }
    }
    xcb_disconnect(connection);
    return full_screen;
}

} // namespace platform::posix
