#pragma once

#include "platform/platform.h"

#include <string_view>

namespace platform::posix {

// Set by the window program when it hands its copy over to the resident, which then registers
// again and skips its start-up steps. The program's own marker, never typed by a user, and not
// passed on to the resident's children.
inline constexpr const char* kContinueVariable = "VELMORIN_CONTINUE";

// Registers this copy as running for the rest of its life (the lock and the record of its
// folder), and returns true when it finds another copy of the program already running in this
// user session.
bool RegisterAndFindOtherCopies();
// Leaves a record of this copy's program folder in the lock folder for the rest of its life,
// which RunningCopyFolders() reads; nothing is recorded when the record cannot be made.
void RecordRunningCopy(int lock_folder);
// True when the program was started from a terminal: its standard input or error is one. From a
// menu or at login it has none, and its standard error goes to a log nobody reads.
bool InTerminal();
// platform::Tell on the standard streams, with `box` showing the message box of a failure.
void Tell(std::string_view text, Notice notice, void (*box)(std::string_view));
// Started from a terminal (make run), the hidden time signal would leave it silent, as if hung:
// it says in one line that it runs. Started from a menu or at login it has no terminal.
void SayRunningInTerminal();

} // namespace platform::posix
