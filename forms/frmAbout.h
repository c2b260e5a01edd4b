#pragma once

#include "platform/platform.h"

// The About window: title, version and credits, with the About tune played to its end.
extern const platform::Form frmAbout;
