#pragma once

// The sound helper's audio output, on SDL's audio device: one sound at a time, silence between.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform::sound {

class Output {
  public:
    // Asks PipeWire, through the environment, for a short period for as long as the process runs.
    Output();
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Opens the output if it is closed or was lost, at most every few hundred milliseconds.
    void KeepOpen();
    // Open and being played: the sound server asks for its buffers.
    bool Ready() const;
    // Plays a WAV image at `volume` percent of its samples, replacing any sound; without a
    // usable image, the default alert unless `no_default`. Returns the sound's length.
    std::chrono::milliseconds Play(const std::optional<std::string>& wave, bool no_default,
                                   int volume);
    // Plays the start of a WAV image whose rest is still being read; once the start has played
    // the output waits, silent, for Complete. False when the start is no sound.
    bool PlayStart(const std::string& start, int volume);
    // The whole image whose start plays: it goes on where the start has got to. Returns its
    // length; without a usable image the start ends the sound.
    std::chrono::milliseconds Complete(const std::optional<std::string>& wave, int volume);
    // Plays a WAV image the moment the sound that plays now ends, with no gap, or at once when
    // none plays; a later Play or Silence drops it. Returns its length, nothing when the image
    // is no sound.
    std::optional<std::chrono::milliseconds> PlayAfter(const std::string& wave, int volume);
    // Silences the sound and drops the one that waits.
    void Silence();

    // Called on SDL's audio thread.
    void Fill(std::uint8_t* stream, int length);

  private:
    struct Sound;

    void OpenOrReopen();
    void Close();
    // The device says it plays, but the server has stopped asking for buffers.
    bool Stalled() const;
    // Swaps in `next` under the device's lock and drops the one that waits; the sounds it
    // replaces are freed outside the lock.
    void Replace(std::unique_ptr<Sound> next);

    std::uint32_t device_ = 0;
    // The device's rate, which every sound is converted to.
    int rate_ = 0;
    std::unique_ptr<Sound> sound_;
    // The sound that follows sound_, and the one it replaced once that ended: the audio thread
    // moves sounds between the slots but never frees one.
    std::unique_ptr<Sound> next_;
    std::unique_ptr<Sound> ended_;
    std::chrono::steady_clock::time_point next_attempt_{};
    // When the server last asked for a buffer (or the output opened), on the steady clock.
    std::atomic<std::chrono::steady_clock::rep> last_fill_{0};
};

} // namespace platform::sound
