#pragma once

// The few X questions the Linux programs ask on a connection of their own or of the toolkit's:
// an atom by its name, a window's 32-bit property, the root window of a screen.

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

namespace platform::posix {

// XCB_ATOM_NONE when it cannot be had; with `only_if_exists`, also for a name the server has
// never heard of, since then no window carries it either.
xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name, bool only_if_exists);

// Up to `count` 32-bit values of a window's property, of `type` or of any type; none when the
// property, its atom or the window is missing.
std::vector<std::uint32_t> WindowValues(xcb_connection_t* connection, xcb_window_t window,
                                        xcb_atom_t property, std::uint32_t count,
                                        xcb_atom_t type = XCB_GET_PROPERTY_TYPE_ANY);

// XCB_WINDOW_NONE when the display has no such screen.
xcb_window_t ScreenRoot(xcb_connection_t* connection, int screen_number);

} // namespace platform::posix
