#pragma once

namespace platform::posix {

// Registers this copy as running for the rest of its life and tells whether another copy of
// the program was running already in this user session.
bool RegisterRunningCopy();

} // namespace platform::posix
