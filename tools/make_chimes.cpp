// Makes the hour sounds 00.WAV to 11.WAV: a short phrase on four small bells, then one strike
// of a lower, heavier bell for every hour of the 12-hour dial (00.WAV strikes twelve times).
// Also the quarter sounds QUARTER1.WAV to QUARTER3.WAV: the Westminster quarters (a public domain
// tune) on small bells of the same kind, one, two and three changes of four notes, growing
// through the hour as a tower clock's do.
// Usage: make_chimes <program_dir>
//
// The bells are additive: every bell sounds the partials of a tuned church bell (hum, prime,
// tierce, quint, nominal and the ones above it), each with its own exponential decay, and each
// partial is a pair of slightly detuned tones so that the bell warbles as a real one does.

#include "platform/sound/wave_file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;

// The program restarts the sound eight seconds after the first start, so every file, ringing
// tail included, ends well before that.
constexpr double kMaxLength = 7.7;

// Timing of one announcement, in seconds from the start of the file.
constexpr double kPhraseStep = 0.28;
constexpr double kFirstStrike = 1.4;
constexpr double kStrikeGap = 0.9;
constexpr double kMinTail = 1.3;
constexpr double kMaxTail = 3.0;
constexpr double kFadeIn = 0.0015;
constexpr double kFadeOut = 0.35;

// Peak level after normalising: -1 dBFS.
const double kPeak = std::pow(10.0, -1.0 / 20.0);

struct Partial {
    double ratio;     // frequency relative to the nominal
    double amplitude; // relative to the nominal
    double decay;     // time constant of the exponential decay, seconds
};

// The partials of a well-tuned bell, with the slight inharmonicity measured on real ones.
// The small bells of the phrase are brighter and die sooner than the hour bell.
constexpr std::array kChimePartials{
    Partial{0.2505, 0.10, 1.8}, // hum
    Partial{0.5000, 0.25, 1.3}, // prime
    Partial{0.5985, 0.30, 1.0}, // tierce
    Partial{0.7515, 0.10, 0.7}, // quint
    Partial{1.0000, 1.00, 0.9}, // nominal
    Partial{1.2570, 0.20, 0.45}, Partial{1.3310, 0.12, 0.40}, Partial{1.5040, 0.30, 0.35},
    Partial{2.0380, 0.15, 0.25}, Partial{2.5200, 0.10, 0.16}, Partial{3.0100, 0.08, 0.10},
    Partial{3.5800, 0.06, 0.06}, Partial{4.5200, 0.04, 0.03},
};

constexpr std::array kHourPartials{
    Partial{0.2505, 0.45, 2.6}, // hum
    Partial{0.5000, 0.55, 1.9}, // prime
    Partial{0.5985, 0.50, 1.5}, // tierce
    Partial{0.7515, 0.18, 1.0}, // quint
    Partial{1.0000, 1.00, 1.2}, // nominal
    Partial{1.2570, 0.25, 0.60},  Partial{1.3310, 0.15, 0.50},  Partial{1.5040, 0.35, 0.45},
    Partial{2.0380, 0.20, 0.30},  Partial{2.4700, 0.12, 0.22},  Partial{2.6600, 0.10, 0.18},
    Partial{3.2600, 0.10, 0.12},  Partial{4.0300, 0.08, 0.08},  Partial{5.1000, 0.07, 0.05},
    Partial{6.2300, 0.05, 0.035}, Partial{7.4100, 0.04, 0.025},
};

// Nominal frequencies of the phrase (A5, F#5, G5, D5) and of the hour bell (D4).
constexpr std::array kPhrase{880.00, 739.99, 783.99, 587.33};
constexpr double kPhraseGain = 0.55;
constexpr double kHourNominal = 293.66;

// The Westminster quarters' four bells, highest first, in the hour bell's key (F#5, E5, D5, A4),
// and its five changes as bell numbers; a quarter plays changes 1; 2 3; 4 5 1.
constexpr std::array kQuarterBells{739.99, 659.26, 587.33, 440.00};
constexpr std::array<std::array<int, 4>, 5> kChanges{{
    {1, 2, 3, 4},
    {3, 1, 2, 4},
    {3, 2, 1, 3},
    {1, 3, 2, 4},
    {4, 2, 1, 3},
}};
constexpr std::array<std::array<int, 3>, 3> kQuarterChanges{{{1, 0, 0}, {2, 3, 0}, {4, 5, 1}}};
// A note every 0.45 s and a rest of one note after each change; the last rings out.
constexpr double kQuarterStep = 0.45;
constexpr double kQuarterTail = 2.5;

// Detuning of the two tones of a partial, as a fraction of its frequency.
constexpr double kWarble = 0.0012;

// A fixed-seed generator keeps the strike noise, and so every file, the same from build to build.
class Noise {
  public:
    double Next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state_ >> 11) / static_cast<double>(1ULL << 53) * 2.0 - 1.0;
    }

  private:
    std::uint64_t state_ = 0x5eed;
};

template <std::size_t N>
std::vector<double> RenderBell(double nominal, const std::array<Partial, N>& partials,
                               double length) {
    const auto frames = static_cast<std::size_t>(length * kRate);
    std::vector<double> out(frames, 0.0);
    for (const Partial& p : partials) {
        for (int side : {-1, 1}) {
            // One decaying complex rotation per tone: cheap, and it starts at zero phase so the
            // strike itself makes no click.
            const double freq = nominal * p.ratio * (1.0 + side * kWarble);
            const double w = 2.0 * std::numbers::pi * freq / kRate;
            const double damping = std::exp(-1.0 / (p.decay * kRate));
            const double step_re = damping * std::cos(w);
            const double step_im = damping * std::sin(w);
            const double amp = p.amplitude * (side < 0 ? 0.6 : 0.4);
            // A tone is followed only until it has fallen 120 dB, far below the last bit.
            const auto audible = static_cast<std::size_t>(p.decay * std::log(amp * 1e6) * kRate);
            double re = 1.0;
            double im = 0.0;
            for (std::size_t i = 0; i < std::min(frames, audible); ++i) {
                out[i] += amp * im;
                const double next_re = re * step_re - im * step_im;
                im = re * step_im + im * step_re;
                re = next_re;
            }
        }
    }
    // The hammer: a short burst of high-passed noise, loudest at the very start.
    Noise noise;
    const std::size_t burst = std::min<std::size_t>(frames, kRate / 50);
    double previous = 0.0;
    for (std::size_t i = 0; i < burst; ++i) {
        const double n = noise.Next();
        out[i] += 0.25 * (n - previous) * std::exp(-static_cast<double>(i) / (0.003 * kRate));
        previous = n;
    }
    // A soft attack of a millisecond and a half, so the strike is felt but not clicked.
    const auto ramp = static_cast<std::size_t>(kFadeIn * kRate);
    for (std::size_t i = 0; i < std::min(ramp, frames); ++i) {
        out[i] *= 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / ramp);
    }
    return out;
}

void MixAt(std::vector<double>& mix, const std::vector<double>& sound, double at, double gain) {
    const auto start = static_cast<std::size_t>(std::lround(at * kRate));
    if (start >= mix.size()) {
        return;
    }
    const std::size_t count = std::min(sound.size(), mix.size() - start);
    double* to = mix.data() + start;
    const double* from = sound.data();
    for (std::size_t i = 0; i < count; ++i) {
        to[i] += gain * from[i];
    }
}

// Takes out the hums' DC, fades the end and normalises the peak.
void Finish(std::vector<double>& mix) {
    // The hums start in phase and decay slowly, which leaves a little DC; a gentle high-pass
    // at 10 Hz takes it out without touching anything a speaker can play.
    const double pole = 1.0 - 2.0 * std::numbers::pi * 10.0 / kRate;
    double last_in = 0.0;
    double last_out = 0.0;
    for (double& v : mix) {
        last_out = v - last_in + pole * last_out;
        last_in = v;
        v = last_out;
    }

    const auto fade = static_cast<std::size_t>(kFadeOut * kRate);
    for (std::size_t i = 0; i < fade; ++i) {
        mix[mix.size() - 1 - i] *= 0.5 - 0.5 * std::cos(std::numbers::pi * i / fade);
    }
    double peak = 0.0;
    for (double v : mix) {
        peak = std::max(peak, std::abs(v));
    }
    for (double& v : mix) {
        v *= kPeak / peak;
    }
}

std::vector<double> MakeHour(int strikes, const std::vector<std::vector<double>>& phrase,
                             const std::vector<double>& hour_bell) {
    // Twelve strikes at the natural pace would not fit before the restart, so long hours strike
    // a little faster; the pace stays even within an hour so the strikes can be counted.
    double gap = kStrikeGap;
    if (strikes > 1) {
        gap = std::min(kStrikeGap, (kMaxLength - kMinTail - kFirstStrike) / (strikes - 1));
    }
    const double last = kFirstStrike + gap * (strikes - 1);
    const double length = last + std::clamp(kMaxLength - last, kMinTail, kMaxTail);

    std::vector<double> mix(static_cast<std::size_t>(length * kRate), 0.0);
    for (std::size_t n = 0; n < phrase.size(); ++n) {
        MixAt(mix, phrase[n], kPhraseStep * static_cast<double>(n), kPhraseGain);
    }
    for (int s = 0; s < strikes; ++s) {
        MixAt(mix, hour_bell, kFirstStrike + gap * s, 1.0);
    }

    Finish(mix);
    return mix;
}

std::vector<double> MakeQuarter(int quarter, const std::vector<std::vector<double>>& bells) {
    const auto& changes = kQuarterChanges[static_cast<std::size_t>(quarter - 1)];
    const double length = kQuarterStep * (5 * quarter - 2) + kQuarterTail;
    std::vector<double> mix(static_cast<std::size_t>(length * kRate), 0.0);
    double at = 0.0;
    for (int change : changes) {
        if (change == 0) {
            break;
        }
        for (int bell : kChanges[static_cast<std::size_t>(change - 1)]) {
            MixAt(mix, bells[static_cast<std::size_t>(bell - 1)], at, 1.0);
            at += kQuarterStep;
        }
        at += kQuarterStep;
    }
    Finish(mix);
    return mix;
}

bool WriteWave(const std::filesystem::path& path, const std::vector<double>& samples) {
    std::vector<std::int16_t> pcm;
    pcm.reserve(samples.size());
    for (double v : samples) {
        pcm.push_back(
            static_cast<std::int16_t>(std::clamp(std::lround(v * 32767.0), -32767L, 32767L)));
    }
    const std::string bytes = platform::sound::WaveFile(pcm, kRate);
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_chimes <program_dir>\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);

    std::vector<std::vector<double>> phrase;
    for (std::size_t n = 0; n < kPhrase.size(); ++n) {
        // The last note of the phrase is left to ring into the first strike.
        phrase.push_back(RenderBell(kPhrase[n], kChimePartials, kMaxLength));
    }
    const std::vector<double> hour_bell = RenderBell(kHourNominal, kHourPartials, kMaxLength);

    std::vector<std::vector<double>> quarter_bells;
    for (double nominal : kQuarterBells) {
        quarter_bells.push_back(RenderBell(nominal, kChimePartials, kMaxLength));
    }

    for (int n = 0; n < 15; ++n) {
        char name[16];
        std::vector<double> sound;
        if (n < 12) {
            std::snprintf(name, sizeof name, "%02d.WAV", n);
            sound = MakeHour(n == 0 ? 12 : n, phrase, hour_bell);
        } else {
            std::snprintf(name, sizeof name, "QUARTER%d.WAV", n - 11);
            sound = MakeQuarter(n - 11, quarter_bells);
        }
        // Each hour's sound must be over before it is started again at hh:00:08, and every
        // sound must be heard at once.
        const auto first_tenth = std::min<std::size_t>(sound.size(), kRate / 10);
        if ((n < 12 && sound.size() > static_cast<std::size_t>(kMaxLength * kRate)) ||
            *std::max_element(sound.begin(), sound.begin() + first_tenth) < 0.1) {
            std::fprintf(stderr, "make_chimes: %s is too long or starts too softly\n", name);
            return 1;
        }
        if (!WriteWave(dir / name, sound)) {
            std::fprintf(stderr, "make_chimes: cannot write %s\n", (dir / name).c_str());
            return 1;
        }
    }
    return 0;
}
