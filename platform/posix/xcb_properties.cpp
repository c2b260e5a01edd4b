#include "platform/posix/xcb_properties.h"

#include <cstdlib>
#include <cstring>

namespace platform::posix {

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name, bool only_if_exists) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, only_if_exists ? 1 : 0,
                                              static_cast<std::uint16_t>(std::strlen(name)), name),
                              nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

std::vector<std::uint32_t> WindowValues(xcb_connection_t* connection, xcb_window_t window,
                                        xcb_atom_t property, std::uint32_t count, xcb_atom_t type) {
    std::vector<std::uint32_t> values;
    if (property == XCB_ATOM_NONE || window == XCB_WINDOW_NONE) {
        return values;
    }
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, count), nullptr);
    if (reply != nullptr && reply->format == 32 &&
        (type == XCB_GET_PROPERTY_TYPE_ANY || reply->type == type)) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

xcb_window_t ScreenRoot(xcb_connection_t* connection, int screen_number) {
    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen_number && screen.rem > 0; ++i) {
        xcb_screen_next(&screen);
    }
    return screen.rem > 0 ? screen.data->root : xcb_window_t{XCB_WINDOW_NONE};
}

} // namespace platform::posix
