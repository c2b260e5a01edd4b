#include "platform/sound/alert.h"

#include "platform/sound/wave_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace platform::sound {

const std::string& AlertWave() {
    static const std::string wave = [] {
        constexpr int kRateHz = 44100;
        constexpr double kNotes[] = {880.0, 1318.5};
        constexpr double kNoteSeconds = 0.18;
        constexpr double kDecaySeconds = 0.06;
        constexpr double kAttackSeconds = 0.004;
        constexpr double kPeak = 0.35 * 32767.0;
        const int note_frames = static_cast<int>(kNoteSeconds * kRateHz);
        std::vector<std::int16_t> samples;
        for (double frequency : kNotes) {
            for (int i = 0; i < note_frames; ++i) {
                const double t = static_cast<double>(i) / kRateHz;
                const double attack = std::min(1.0, t / kAttackSeconds);
                const double envelope = attack * std::exp(-t / kDecaySeconds);
                const double tone = std::sin(2.0 * std::numbers::pi * frequency * t) +
                                    0.25 * std::sin(4.0 * std::numbers::pi * frequency * t);
                samples.push_back(static_cast<std::int16_t>(kPeak * envelope * tone / 1.25));
            }
        }
        return WaveFile(samples, kRateHz);
    }();
    return wave;
}

} // namespace platform::sound
