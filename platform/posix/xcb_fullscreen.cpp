// A connection of its own, opened from DISPLAY for the one question and closed after it, so
// that nothing is held between chimes and the answer does not depend on the window toolkit.

#include "platform/posix/xcb_fullscreen.h"

#include "platform/posix/xcb_properties.h"

#include <cstdint>
#include <vector>

namespace platform::posix {

bool ActiveWindowIsFullScreen() {
    int screen_number = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen_number);
    bool full_screen = false;
    if (xcb_connection_has_error(connection) == 0) {
        // A name the server has never heard of is on no window either.
        const std::vector<std::uint32_t> active =
            WindowValues(connection, ScreenRoot(connection, screen_number),
                         InternAtom(connection, "_NET_ACTIVE_WINDOW", true), 1);
        const xcb_atom_t full = InternAtom(connection, "_NET_WM_STATE_FULLSCREEN", true);
        if (!active.empty() && active[0] != XCB_WINDOW_NONE && full != XCB_ATOM_NONE) {
            for (std::uint32_t state : WindowValues(
                     connection, active[0], InternAtom(connection, "_NET_WM_STATE", true), 64)) {
                full_screen = full_screen || state == full;
            }
        }
    }
    xcb_disconnect(connection);
    return full_screen;
}

} // namespace platform::posix
