// A connection of its own, for the one request: the process that asks has no window and no
// toolkit, it only brings another process's window forward.

#include "platform/posix/instance.h"
#include "platform/posix/xcb_properties.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace platform::posix {

void ActivateWindow(std::uint32_t window) {
    int screen_number = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen_number);
    const xcb_window_t root = xcb_connection_has_error(connection) == 0
                                  ? ScreenRoot(connection, screen_number)
                                  : xcb_window_t{XCB_WINDOW_NONE};
    if (root != XCB_WINDOW_NONE) {
        // Asked as a pager asks (source 2), which window managers grant even to a window of
        // another program; and raised directly for a display without one.
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = InternAtom(connection, "_NET_ACTIVE_WINDOW", false);
        message.data.data32[0] = 2;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection, 0, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        const std::uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        // A round trip, so the requests have reached the server before the connection closes.
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }
    xcb_disconnect(connection);
}

} // namespace platform::posix
