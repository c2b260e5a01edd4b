#pragma once

// The quit request in the settings file: the one channel between running copies.

#include <string>
#include <vector>

// The settings file of the program started from `folder`.
std::string SettingsPath(const std::string& folder);
// False when the request could not be cleared; platform::LastErrorText() says why.
bool ClearQuitRequest();
// False when the request could not be written; platform::LastErrorText() says why.
bool RequestQuit();
// Writes the quit request into this copy's settings file and into that of every other copy
// running now, whatever folder it started from; one QuitFailureMessage for each file that
// could not be written.
std::vector<std::string> RequestQuitOfEveryCopy();
// The quit request as text, at most 15 bytes of it; "0" when the file or key is missing.
std::string ReadQuitRequest();
// True when the text is a quit request: a number equal to 1. Anything that is not a number
// (a hand-edited "yes", an empty value) is no request, so it never stops the program.
bool IsQuitRequest(const std::string& text);
// The message shown when a quit request could not be written to the settings file at `path`,
// with the reason of the last failed call.
std::string QuitFailureMessage(const std::string& path);
