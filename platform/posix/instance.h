#pragma once

namespace platform::posix {

// Registers this copy as running for the rest of its life and tells whether another copy of
// the program was running already in this user session.
bool RegisterRunningCopy();
// Leaves a record of this copy's program folder in the lock folder for the rest of its life,
// which RunningCopyFolders() reads; nothing is recorded when the record cannot be made.
void RecordRunningCopy(int lock_folder);
// Started from a terminal (make run), the hidden time signal would leave it silent, as if hung:
// it says in one line that it runs. Started from a menu or at login it has no terminal.
void SayRunningInTerminal();

} // namespace platform::posix
