#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <string>
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
// The folder of the running-copy lock, opened; -1 with errno when there is none that only this
// user can write. `where` names it either way, for a message.
int OpenLockFolder(std::string& where);
// Claims the one window of its kind (such as "settings") for this user and program folder:
// false while another process holds the claim, else true, held for the rest of this process.
bool ClaimWindow(std::string_view kind);
// Tells a later request which X window shows what this process claimed; false when it cannot,
// and then a later request brings nothing forward.
bool PublishWindow(std::uint32_t window);
// The X window that the holder of the claim published, waiting a few seconds for a holder that
// is still making it; 0 when none is known.
std::uint32_t ClaimedWindow(std::string_view kind);
// Brings an X window to the front and gives it the focus, as a taskbar does.
void ActivateWindow(std::uint32_t window);
// True when the program was started from a terminal: its standard input or error is one. From a
// menu or at login it has none, and its standard error goes to a log nobody reads.
bool InTerminal();
// platform::Tell on the standard streams, with `box` showing the message box of a failure.
void Tell(std::string_view text, Notice notice, void (*box)(std::string_view));
// Started from a terminal (make run), the hidden time signal would leave it silent, as if hung:
// it says in one line that it runs. Started from a menu or at login it has no terminal.
void SayRunningInTerminal();

} // namespace platform::posix
