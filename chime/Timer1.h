#pragma once

// The host window's 800 ms tick: polls the quit request, chimes at the start of the hour and, when
// the user asked for them, at the quarters.
void Timer1_Timer();
