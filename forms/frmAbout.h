#pragma once

#include "platform/platform.h"

#include <string_view>

// The first line of the About text, which names the version as the About window always has.
inline constexpr std::string_view kAboutTitle = "Velmorin Ver.3.5";

// The About window: title, version and credits, with the About tune played to its end.
extern const platform::Form frmAbout;
