#pragma once

// The hour's sound and the About tune each open an audio device of their own, from different
// threads; SDL's audio subsystem is started and stopped here, under one lock, for both.

namespace platform::sound {

// Starts SDL's audio subsystem if needed. False when no audio driver could be started.
bool AcquireAudio();
void ReleaseAudio();

} // namespace platform::sound
