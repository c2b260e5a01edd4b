#pragma once

#include "platform/platform.h"

// The settings window: the [Chime] keys of the program folder's settings file, without a text
// editor. `velmorin --settings` opens it.
extern const platform::Form frmOptions;
