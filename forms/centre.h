#pragma once

#include "platform/platform.h"

// Centres the window's outer frame on the screen. The position is not rounded and may be
// negative for a window larger than the screen.
void CentreOnScreen(const platform::Form& form);
