#pragma once

namespace platform::posix {

// True when the X server's active window (_NET_ACTIVE_WINDOW on the root, as the window manager
// sets it) is full-screen (_NET_WM_STATE_FULLSCREEN). False when that cannot be read.
bool ActiveWindowIsFullScreen();

} // namespace platform::posix
