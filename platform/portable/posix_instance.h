#pragma once

namespace platform {

// Registers this copy as running for the rest of its life and tells whether another copy of
// the program was running already in this user session.
bool RegisterRunningCopy();
// Leaves a record of this copy's program folder in the lock folder for the rest of its life,
// which RunningCopyFolders() reads; nothing is recorded when the record cannot be made.
void RecordRunningCopy(int lock_folder);

} // namespace platform
