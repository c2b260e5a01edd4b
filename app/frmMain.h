#pragma once

#include "platform/platform.h"

// The host window: never shown; it owns the chime timer and runs the start-up steps.
extern const platform::Form frmMain;
