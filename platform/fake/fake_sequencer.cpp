#include "platform/fake/fake_sequencer.h"

#include "platform/posix/path_case.h"
#include "platform/stand_ins/sequencer.h"

#include <sys/stat.h>

namespace fake {

namespace {

struct FakeSequencer {
    std::vector<std::string> calls;
    bool playing = false;
};

FakeSequencer& Sequencer() {
    static FakeSequencer sequencer;
    return sequencer;
}

} // namespace

std::vector<std::string>& SequencerCalls() {
    return Sequencer().calls;
}

} // namespace fake

namespace platform::sequencer {

std::uint32_t Open(const std::string& path) {
    fake::FakeSequencer& sequencer = fake::Sequencer();
    sequencer.calls.push_back("open " + path);
    sequencer.playing = false;
    // The file must be there, under whatever case, as for the real sequencer.
    struct stat info {};
    const std::string found = posix::ResolveCase(path);
    if (::stat(found.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return MCIERR_FILE_NOT_FOUND;
    }
    return 0;
}

std::uint32_t Play(bool wait) {
    fake::FakeSequencer& sequencer = fake::Sequencer();
    sequencer.calls.push_back(wait ? "play wait" : "play");
    // A waiting play returns at the end of the tune; one that does not wait leaves it playing.
    sequencer.playing = !wait;
    return 0;
}

void Stop() {
    fake::Sequencer().calls.push_back("stop");
    fake::Sequencer().playing = false;
}

bool Playing() {
    return fake::Sequencer().playing;
}

void Close() {
    fake::Sequencer().calls.push_back("close");
    fake::Sequencer().playing = false;
}

} // namespace platform::sequencer
