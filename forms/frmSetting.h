#pragma once

#include "platform/platform.h"

// The control window a second copy shows: stop every copy, or open the About window.
extern const platform::Form frmSetting;
