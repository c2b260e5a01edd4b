#pragma once

// Resource numbers shared by velmorin.rc and the backend. The icon comes first, so Explorer and
// the taskbar show it for the executable.
#define VELMORIN_ICON 1
#define VELMORIN_SETTING_BITMAP 2
