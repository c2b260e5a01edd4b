// The data the build makes, checked as the program and its user meet it: hour sounds that can be
// counted and end before the restart, a tune that ends cleanly, pictures of the sizes the windows
// are laid out for. The tools are run into a scratch folder, twice, to see that they repeat.

#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DataTest : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("velmorin-data-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Tools take their output paths as arguments; Path() quotes one under the scratch folder.
    void Run(const std::string& tool, const std::string& args) {
        const std::string command = "'" + tool + "' " + args;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    std::string Path(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }

    void ExpectSameFiles(const fs::path& a, const fs::path& b) {
        for (const auto& entry : fs::recursive_directory_iterator(a)) {
            if (entry.is_regular_file()) {
                const fs::path other = b / fs::relative(entry.path(), a);
                EXPECT_EQ(ReadAll(entry.path()), ReadAll(other)) << other;
            }
        }
    }

    fs::path dir_;
};

struct Wave {
    int format = 0, channels = 0, rate = 0, bits = 0;
    std::vector<double> samples; // the first channel, full scale 1.0
};

std::uint32_t Le(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(s.at(at + static_cast<std::size_t>(i)));
    }
    return v;
}

Wave ReadWave(const fs::path& path) {
    const std::string s = ReadAll(path);
    Wave w;
    if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WAVE") != 0) {
        return w;
    }
    for (std::size_t at = 12; at + 8 <= s.size();) {
        const std::string id = s.substr(at, 4);
        const std::size_t size = Le(s, at + 4, 4);
        if (id == "fmt ") {
            w.format = static_cast<int>(Le(s, at + 8, 2));
            w.channels = static_cast<int>(Le(s, at + 10, 2));
            w.rate = static_cast<int>(Le(s, at + 12, 4));
            w.bits = static_cast<int>(Le(s, at + 22, 2));
        } else if (id == "data" && w.bits == 16 && w.channels > 0) {
            const std::size_t frame = 2 * static_cast<std::size_t>(w.channels);
            const std::size_t end = std::min(s.size(), at + 8 + size);
            const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
            for (std::size_t i = at + 8; i + frame <= end; i += frame) {
                const auto sample = static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8);
                w.samples.push_back(sample / 32768.0);
            }
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

// Counts strikes the way an ear does: a sudden jump in the brightness of the sound. The first
// difference of the signal stands for its high end; its energy is taken in 10 ms frames and a
// frame four times louder than the two before it, at least 150 ms after the last onset, is one.
int CountOnsets(const std::vector<double>& x, int rate) {
    const std::size_t frame = static_cast<std::size_t>(rate / 100);
    std::vector<double> energy;
    for (std::size_t start = 0; start + frame <= x.size(); start += frame) {
        double e = 0;
        for (std::size_t i = std::max<std::size_t>(start, 1); i < start + frame; ++i) {
            e += (x[i] - x[i - 1]) * (x[i] - x[i - 1]);
        }
        energy.push_back(e);
    }
    const double floor = *std::max_element(energy.begin(), energy.end()) * 1e-3;
    int onsets = 0;
    std::ptrdiff_t last = -100;
    for (std::size_t f = 0; f < energy.size(); ++f) {
        const double before = std::max(f >= 1 ? energy[f - 1] : 0.0, f >= 2 ? energy[f - 2] : 0.0);
        const auto here = static_cast<std::ptrdiff_t>(f);
        if (energy[f] > floor && energy[f] > 4 * before && here - last >= 15) {
            ++onsets;
            last = here;
        }
    }
    return onsets;
}

TEST_F(DataTest, HourSoundsStrikeTheHourAndEndBeforeTheRestart) {
    Run(MAKE_CHIMES, Path("a"));
    for (int hour = 0; hour < 12; ++hour) {
        const std::string name = (hour < 10 ? "0" : "") + std::to_string(hour) + ".WAV";
        SCOPED_TRACE(name);
        const Wave w = ReadWave(dir_ / "a" / name);
        ASSERT_EQ(w.format, 1);
        ASSERT_EQ(w.bits, 16);
        ASSERT_GT(w.rate, 0);
        ASSERT_FALSE(w.samples.empty());

        // The sound is started again eight seconds after the first start.
        EXPECT_LT(static_cast<double>(w.samples.size()) / w.rate, 7.8);

        double peak = 0, sum = 0;
        for (double v : w.samples) {
            peak = std::max(peak, std::abs(v));
            sum += v;
        }
        EXPECT_GT(peak, 0.7);
        EXPECT_LT(peak, 0.99) << "clipped";
        EXPECT_LT(std::abs(sum / static_cast<double>(w.samples.size())), 0.002) << "DC offset";

        // The chime is timed by its onset, so the strike is under way within the first audio
        // buffer; and it starts and ends at rest, without a click.
        double head = 0;
        for (std::size_t i = 0; i < 1024; ++i) {
            head = std::max(head, std::abs(w.samples[i]));
        }
        EXPECT_GT(head, 0.1 * peak);
        EXPECT_LT(std::abs(w.samples.front()), 0.01);
        EXPECT_LT(std::abs(w.samples.back()), 0.01);

        // A phrase of four notes, then one strike per hour of the dial: twelve at twelve.
        EXPECT_EQ(CountOnsets(w.samples, w.rate), 4 + (hour == 0 ? 12 : hour));
    }
    Run(MAKE_CHIMES, Path("b"));
    ExpectSameFiles(dir_ / "a", dir_ / "b");
}

struct Tune {
    double seconds = 0;      // to the last note-off
    double end_seconds = -1; // to the end-of-track event
    int notes = 0;
    int hanging = 0; // notes switched on and never off
    int programs = 0;
    bool tempo = false;
    bool events_after_end = false;
};

std::uint32_t Be(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v = (v << 8) | static_cast<unsigned char>(s.at(at + static_cast<std::size_t>(i)));
    }
    return v;
}

// Reads a format 0 or 1 file through its tempo map; any malformed byte throws out_of_range.
Tune ReadTune(const fs::path& path) {
    const std::string s = ReadAll(path);
    Tune t;
    if (s.compare(0, 4, "MThd") != 0) {
        return t;
    }
    const std::uint32_t division = Be(s, 12, 2);
    struct Timed {
        std::uint32_t tick;
        int kind; // 0 tempo, 1 note on, 2 note off, 3 end
        std::uint32_t value;
    };
    std::vector<Timed> events;
    for (std::size_t at = 8 + Be(s, 4, 4); at + 8 <= s.size();) {
        const std::size_t end = at + 8 + Be(s, at + 4, 4);
        if (s.compare(at, 4, "MTrk") != 0) {
            at = end;
            continue;
        }
        std::uint32_t tick = 0;
        int status = 0;
        bool ended = false;
        auto var = [&](std::size_t& i) {
            std::uint32_t v = 0;
            unsigned char c;
            do {
                c = static_cast<unsigned char>(s.at(i++));
                v = (v << 7) | (c & 0x7f);
            } while (c & 0x80);
            return v;
        };
        for (std::size_t i = at + 8; i < end;) {
            tick += var(i);
            if (ended) {
                t.events_after_end = true;
            }
            if (static_cast<unsigned char>(s.at(i)) & 0x80) {
                status = static_cast<unsigned char>(s.at(i++));
            }
            if (status == 0xff) {
                const int type = static_cast<unsigned char>(s.at(i++));
                const std::uint32_t length = var(i);
                if (type == 0x51) {
                    events.push_back({tick, 0, Be(s, i, 3)});
                    t.tempo = true;
                } else if (type == 0x2f) {
                    events.push_back({tick, 3, 0});
                    ended = true;
                }
                i += length;
            } else if (status == 0xf0 || status == 0xf7) {
                i += var(i);
            } else {
                const int kind = status & 0xf0;
                const int key = (status & 0x0f) << 8 | static_cast<unsigned char>(s.at(i));
                const int velocity =
                    kind == 0xc0 || kind == 0xd0 ? 0 : static_cast<unsigned char>(s.at(i + 1));
                if (kind == 0xc0) {
                    ++t.programs;
                } else if (kind == 0x90 && velocity > 0) {
                    events.push_back({tick, 1, static_cast<std::uint32_t>(key)});
                } else if (kind == 0x80 || kind == 0x90) {
                    events.push_back({tick, 2, static_cast<std::uint32_t>(key)});
                }
                i += kind == 0xc0 || kind == 0xd0 ? 1 : 2;
            }
        }
        at = end;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Timed& a, const Timed& b) { return a.tick < b.tick; });
    double seconds = 0, per_tick = 0.5 / division;
    std::uint32_t now = 0;
    std::map<std::uint32_t, int> sounding;
    for (const Timed& e : events) {
        seconds += (e.tick - now) * per_tick;
        now = e.tick;
        if (e.kind == 0) {
            per_tick = e.value / 1e6 / division;
        } else if (e.kind == 1) {
            ++sounding[e.value];
            ++t.notes;
        } else if (e.kind == 2 && sounding[e.value] > 0) {
            --sounding[e.value];
            t.seconds = seconds;
        } else if (e.kind == 3) {
            t.end_seconds = seconds;
        }
    }
    for (const auto& [key, count] : sounding) {
        t.hanging += count;
    }
    return t;
}

TEST_F(DataTest, AboutTuneIsShortAndEndsWithItsLastNote) {
    Run(MAKE_TUNE, Path("a/ABOUT.MID"));
    const Tune t = ReadTune(dir_ / "a" / "ABOUT.MID");
    EXPECT_TRUE(t.tempo);
    EXPECT_GE(t.programs, 1);
    EXPECT_GT(t.notes, 20);
    EXPECT_EQ(t.hanging, 0);
    EXPECT_FALSE(t.events_after_end);
    EXPECT_GE(t.seconds, 8.0);
    EXPECT_LE(t.seconds, 15.0);
    // The About window waits for the end of the track, so no silence may trail the last note.
    EXPECT_NEAR(t.end_seconds, t.seconds, 0.05);

    Run(MAKE_TUNE, Path("b/ABOUT.MID"));
    ExpectSameFiles(dir_ / "a", dir_ / "b");
}

TEST_F(DataTest, PicturesFitTheWindowsThatShowThem) {
    Run(MAKE_PICTURES, Path("a/pictures") + " " + Path("a"));
    const auto load = [&](const std::string& name) {
        return QImage(QString::fromStdString((dir_ / "a" / name).string()));
    };

    const QImage icon = load("pictures/icon.png");
    EXPECT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_LE(icon.colorCount(), 16);
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << "the icon's corners show the background";

    const QImage setting = load("pictures/setting.png");
    EXPECT_EQ(setting.size(), QSize(252, 250));
    EXPECT_EQ(setting.format(), QImage::Format_Indexed8);
    EXPECT_LE(setting.colorCount(), 256);

    const QImage desktop = load("velmorin.png");
    EXPECT_FALSE(desktop.isNull());
    EXPECT_EQ(desktop.width(), desktop.height());

    Run(MAKE_PICTURES, Path("b/pictures") + " " + Path("b"));
    ExpectSameFiles(dir_ / "a", dir_ / "b");
}

} // namespace
