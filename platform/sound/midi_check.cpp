#include "platform/sound/midi_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace platform::sound {

namespace {

class Reader {
  public:
    explicit Reader(std::span<const unsigned char> data) : data_(data) {}
    bool AtEnd() const { return at_ == data_.size(); }
    std::size_t Left() const { return data_.size() - at_; }
    bool Byte(unsigned& value) {
        if (AtEnd()) {
            return false;
        }
        value = data_[at_++];
        return true;
    }
    bool Skip(std::size_t count) {
        if (count > Left()) {
            return false;
        }
        at_ += count;
        return true;
    }
    bool BigEndian(int bytes, std::uint32_t& value) {
        value = 0;
        for (unsigned byte = 0; bytes-- > 0;) {
            if (!Byte(byte)) {
                return false;
            }
            value = value << 8 | byte;
        }
        return true;
    }
    bool LittleEndian32(std::uint32_t& value) {
        std::uint32_t big = 0;
        if (!BigEndian(4, big)) {
            return false;
        }
        value = (big >> 24) | ((big >> 8) & 0xFF00) | ((big << 8) & 0xFF0000) | (big << 24);
        return true;
    }
    bool Tag(const char (&tag)[5]) {
        if (Left() < 4 || !std::equal(tag, tag + 4, data_.begin() + at_)) {
            return false;
        }
        at_ += 4;
        return true;
    }
    // A MIDI variable-length number: at most four bytes of seven bits.
    bool VarLength(std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            unsigned byte = 0;
            if (!Byte(byte)) {
                return false;
            }
            value = value << 7 | (byte & 0x7F);
            if ((byte & 0x80) == 0) {
                return true;
            }
        }
        return false;
    }
    std::span<const unsigned char> Take(std::size_t count) {
        const auto part = data_.subspan(at_, std::min(count, Left()));
        at_ += part.size();
        return part;
    }

  private:
    std::span<const unsigned char> data_;
    std::size_t at_ = 0;
};

TuneCheck CheckTrack(std::span<const unsigned char> track, bool& has_note) {
    Reader in(track);
    unsigned running = 0;
    while (!in.AtEnd()) {
        std::uint32_t delta = 0;
        unsigned status = 0;
        if (!in.VarLength(delta) || !in.Byte(status)) {
            return TuneCheck::Broken;
        }
        // Under running status the byte read is already the message's first data byte.
        unsigned key = status;
        const bool repeated = status < 0x80;
        if (repeated) {
            if (running == 0) {
                return TuneCheck::Broken;
            }
            status = running;
        }
        std::uint32_t length = 0;
        unsigned kind = 0;
        if (status == 0xFF) {
            if (!in.Byte(kind) || !in.VarLength(length) || !in.Skip(length)) {
                return TuneCheck::Broken;
            }
            if (kind == 0x2F) {
                return TuneCheck::Playable;
            }
        } else if (status == 0xF0 || status == 0xF7) {
            running = 0;
            if (!in.VarLength(length) || !in.Skip(length)) {
                return TuneCheck::Broken;
            }
        } else if (status >= 0xF0) {
            return TuneCheck::Broken;
        } else {
            running = status;
            const unsigned type = status & 0xF0;
            unsigned velocity = 0;
            if ((!repeated && !in.Byte(key)) ||
                (type != 0xC0 && type != 0xD0 && !in.Byte(velocity))) {
                return TuneCheck::Broken;
            }
            if (type == 0x90 && velocity > 0) {
                has_note = true;
            }
        }
    }
    return TuneCheck::Playable;
}

} // namespace

TuneCheck CheckTune(std::span<const unsigned char>& smf) {
    Reader riff(smf);
    std::uint32_t size = 0;
    if (riff.Tag("RIFF")) {
        if (!riff.LittleEndian32(size) || !riff.Tag("RMID")) {
            return TuneCheck::Broken;
        }
        while (true) {
            const bool data = riff.Tag("data");
            if (!data && !riff.Skip(4)) {
                return TuneCheck::Broken;
            }
            if (!riff.LittleEndian32(size)) {
                return TuneCheck::Broken;
            }
            if (data) {
                smf = riff.Take(size);
                break;
            }
            if (!riff.Skip(std::size_t{size} + (size & 1))) {
                return TuneCheck::Broken;
            }
        }
    }

    Reader in(smf);
    std::uint32_t format = 0;
    std::uint32_t tracks = 0;
    std::uint32_t division = 0;
    if (!in.Tag("MThd") || !in.BigEndian(4, size) || size < 6 || !in.BigEndian(2, format) ||
        !in.BigEndian(2, tracks) || !in.BigEndian(2, division) || !in.Skip(size - 6) ||
        format > 2 || tracks == 0 || division == 0) {
        return TuneCheck::Broken;
    }
    bool has_note = false;
    for (std::uint32_t found = 0; found < tracks && !in.AtEnd();) {
        const bool track = in.Tag("MTrk");
        if (!track && !in.Skip(4)) {
            return TuneCheck::Broken;
        }
        if (!in.BigEndian(4, size) || size > in.Left()) {
            return TuneCheck::Broken;
        }
        const auto body = in.Take(size);
        if (track) {
            ++found;
            if (CheckTrack(body, has_note) == TuneCheck::Broken) {
                return TuneCheck::Broken;
            }
        }
    }
    return has_note ? TuneCheck::Playable : TuneCheck::Silent;
}

} // namespace platform::sound
