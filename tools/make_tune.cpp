// Writes the About tune: a little waltz in D major, eight bars, a music box over a piano's
// oom-pah-pah, slowing down into the last chord. A Standard MIDI File, format 0, General MIDI.
// Usage: make_tune <path>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kTicksPerBeat = 480;
constexpr int kBeatsPerBar = 3;

constexpr int kMelody = 0;
constexpr int kPiano = 1;
constexpr int kMusicBox = 10;
constexpr int kGrandPiano = 0;

struct Event {
    int tick;
    int order; // at one tick: meta events, note-offs, note-ons, end of track
    std::string bytes;
};

struct Note {
    int pitch;
    double beats;
};

class Track {
  public:
    void Meta(int tick, int type, const std::string& data, int order = 0) {
        std::string bytes{'\xff', static_cast<char>(type)};
        bytes += VarLen(static_cast<std::uint32_t>(data.size()));
        bytes += data;
        events_.push_back({tick, order, bytes});
    }

    void Tempo(int tick, int beats_per_minute) {
        const std::uint32_t us = 60'000'000 / beats_per_minute;
        Meta(tick, 0x51,
             {static_cast<char>(us >> 16), static_cast<char>((us >> 8) & 0xff),
              static_cast<char>(us & 0xff)});
    }

    void Channel(int tick, int status, int channel, int a, int b) {
        events_.push_back(
            {tick,
             1,
             {static_cast<char>(status | channel), static_cast<char>(a), static_cast<char>(b)}});
    }

    void Program(int channel, int program) {
        events_.push_back({0, 1, {static_cast<char>(0xc0 | channel), static_cast<char>(program)}});
    }

    void Play(int channel, int pitch, int velocity, int start, int length) {
        events_.push_back({start,
                           3,
                           {static_cast<char>(0x90 | channel), static_cast<char>(pitch),
                            static_cast<char>(velocity)}});
        events_.push_back(
            {start + length,
             2,
             {static_cast<char>(0x80 | channel), static_cast<char>(pitch), static_cast<char>(64)}});
    }

    int LastTick() const {
        int last = 0;
        for (const Event& e : events_) {
            last = std::max(last, e.tick);
        }
        return last;
    }

    std::string Bytes() {
        std::stable_sort(events_.begin(), events_.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });
        std::string out;
        int now = 0;
        for (const Event& e : events_) {
            out += VarLen(static_cast<std::uint32_t>(e.tick - now));
            out += e.bytes;
            now = e.tick;
        }
        return out;
    }

    static std::string VarLen(std::uint32_t value) {
        std::string out(1, static_cast<char>(value & 0x7f));
        while ((value >>= 7) != 0) {
            out.insert(out.begin(), static_cast<char>(0x80 | (value & 0x7f)));
        }
        return out;
    }

  private:
    std::vector<Event> events_;
};

std::string BigEndian(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
    return out;
}

// MIDI note numbers (middle C is 60); the melody keeps to the music box's sweet octave.
constexpr int E5 = 76, Fs5 = 78, G5 = 79, A5 = 81, B5 = 83, Cs6 = 85, D6 = 86, E6 = 88;

const std::vector<std::vector<Note>> kTune{
    {{Fs5, 1}, {A5, 1}, {D6, 1}},             // D
    {{Cs6, 1.5}, {B5, 0.5}, {A5, 1}},         // A7
    {{B5, 1}, {D6, 0.5}, {B5, 0.5}, {G5, 1}}, // G
    {{A5, 2}, {E5, 1}},                       // A
    {{Fs5, 1}, {A5, 1}, {D6, 1}},             // D
    {{E6, 1.5}, {D6, 0.5}, {B5, 1}},          // G
    {{A5, 1}, {Cs6, 1}, {E6, 1}},             // A7
    {{D6, 3}},                                // D
};

struct Harmony {
    int bass;
    std::vector<int> chord;
};

const std::vector<Harmony> kHarmony{
    {50, {54, 57, 62}},     // D: D3, then F#3 A3 D4
    {45, {55, 57, 61}},     // A7: A2, then G3 A3 C#4
    {43, {55, 59, 62}},     // G: G2, then G3 B3 D4
    {45, {52, 57, 61}},     // A: A2, then E3 A3 C#4
    {50, {54, 57, 62}},     // D
    {43, {55, 59, 62}},     // G
    {45, {55, 57, 61}},     // A7
    {38, {50, 54, 57, 62}}, // D, held to the end
};

int Ticks(double beats) {
    return static_cast<int>(beats * kTicksPerBeat + 0.5);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_tune <path>\n");
        return 2;
    }
    const std::filesystem::path path = argv[1];
    if (path.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
    }

    Track track;
    track.Meta(0, 0x03, "Velmorin");
    track.Meta(0, 0x58, {3, 2, 24, 8}); // 3/4
    track.Meta(0, 0x59, {2, 0});        // D major
    track.Tempo(0, 120);
    const int bar = kBeatsPerBar * kTicksPerBeat;
    // The last two bars slow down so the tune settles rather than stops.
    track.Tempo(6 * bar, 110);
    track.Tempo(7 * bar, 96);

    track.Program(kMelody, kMusicBox);
    track.Program(kPiano, kGrandPiano);
    track.Channel(0, 0xb0, kMelody, 7, 110);
    track.Channel(0, 0xb0, kPiano, 7, 90);
    track.Channel(0, 0xb0, kMelody, 10, 72);
    track.Channel(0, 0xb0, kPiano, 10, 54);
    track.Channel(0, 0xb0, kMelody, 91, 40);
    track.Channel(0, 0xb0, kPiano, 91, 40);

    const int bars = static_cast<int>(kTune.size());
    for (int b = 0; b < bars; ++b) {
        const int start = b * bar;
        const bool last = b == bars - 1;
        double beat = 0;
        for (const Note& n : kTune[b]) {
            // Notes that fall on the downbeat are leant on a little, as a dancer would.
            const int velocity = beat == 0 ? 100 : 88;
            const int length = last ? Ticks(n.beats) : Ticks(n.beats) * 9 / 10;
            track.Play(kMelody, n.pitch, velocity, start + Ticks(beat), length);
            beat += n.beats;
        }

        const Harmony& h = kHarmony[b];
        if (last) {
            track.Play(kPiano, h.bass, 72, start, bar);
            for (int pitch : h.chord) {
                track.Play(kPiano, pitch, 56, start, bar);
            }
            continue;
        }
        track.Play(kPiano, h.bass, 72, start, Ticks(0.9));
        for (int beat_in_bar : {1, 2}) {
            for (int pitch : h.chord) {
                track.Play(kPiano, pitch, 50, start + Ticks(beat_in_bar), Ticks(0.6));
            }
        }
    }
    // The track ends with its last note-off, so the player stops as soon as the chord is let go.
    track.Meta(track.LastTick(), 0x2f, "", 4);

    const std::string body = track.Bytes();
    std::string smf =
        "MThd" + BigEndian(6, 4) + BigEndian(0, 2) + BigEndian(1, 2) + BigEndian(kTicksPerBeat, 2);
    smf += "MTrk" + BigEndian(static_cast<std::uint32_t>(body.size()), 4) + body;

    std::ofstream file(path, std::ios::binary);
    file.write(smf.data(), static_cast<std::streamsize>(smf.size()));
    if (!file) {
        std::fprintf(stderr, "make_tune: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
