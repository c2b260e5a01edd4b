#pragma once

// The host window's 800 ms tick: polls the quit request, chimes at the start of the hour.
void Timer1_Timer();
