// The spoken hour on Windows: SAPI renders the words to memory with a voice of the language,
// and the image is played like a chime (SND_MEMORY, at the chime's volume) once the sound that
// plays has ended. Where no voice speaks the language (wine has none at all) nothing is said and
// the chimes are left as they are.

#include "platform/core/sample_volume.h"
#include "platform/sound/wave_file.h"
#include "platform/win32/win32_backend.h"

#include <objbase.h>
#include <sapi.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace win32 {

namespace {

// The stream format SAPI's SetBaseStream takes a WAVEFORMATEX for; mingw declares it but its
// libraries do not define it.
constexpr GUID kWaveFormatEx = {
    0xc31adbae, 0x527f, 0x4ff5, {0xa2, 0x30, 0xf6, 0x2b, 0xb6, 0x1f, 0xf7, 0x0c}};
constexpr DWORD kSpeechRate = 22050;
// The words for an hour are a few seconds; the header of a WAV file is in its first bytes.
constexpr DWORD kHeaderBytes = 4096;

template <class T> struct Released {
    T* pointer = nullptr;
    ~Released() {
        if (pointer != nullptr) {
            pointer->Release();
        }
    }
    T* operator->() const { return pointer; }
};

// How long the WAV file plays, from its header; 0 when it cannot be read as one.
ULONGLONG WaveLengthMs(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::uint8_t header[kHeaderBytes];
    DWORD read = 0;
    if (!ReadFile(file, header, sizeof header, &read, nullptr)) {
        read = 0;
    }
    CloseHandle(file);
    const auto number = [&header](DWORD at) {
        return static_cast<DWORD>(header[at] | header[at + 1] << 8 | header[at + 2] << 16 |
                                  header[at + 3] << 24);
    };
    DWORD byte_rate = 0;
    for (DWORD at = 12; read >= 12 && at + 8 <= read;) {
        const DWORD length = number(at + 4);
        if (std::memcmp(header + at, "fmt ", 4) == 0 && at + 16 <= read) {
            byte_rate = number(at + 16);
        } else if (std::memcmp(header + at, "data", 4) == 0) {
            return byte_rate == 0 ? 0 : ULONGLONG{length} * 1000 / byte_rate;
        }
        at += 8 + length + (length & 1);
    }
    return 0;
}

// 16-bit mono samples of the words, spoken by the first voice of the language; empty when there
// is none or SAPI fails.
std::vector<std::int16_t> Render(std::string_view words, std::string_view language) {
    // The event thread's apartment; a second call only counts up.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return {};
    }
    Released<ISpVoice> voice;
    Released<ISpObjectTokenCategory> voices;
    Released<IEnumSpObjectTokens> found;
    Released<ISpObjectToken> token;
    ULONG count = 0;
    const wchar_t* wanted = language == "ja" ? L"Language=411" : L"Language=409";
    if (FAILED(CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice,
                                reinterpret_cast<void**>(&voice.pointer))) ||
        FAILED(CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL,
                                IID_ISpObjectTokenCategory,
                                reinterpret_cast<void**>(&voices.pointer))) ||
        FAILED(voices->SetId(SPCAT_VOICES, FALSE)) ||
        FAILED(voices->EnumTokens(wanted, nullptr, &found.pointer)) || found.pointer == nullptr ||
        FAILED(found->GetCount(&count)) || count == 0 || FAILED(found->Item(0, &token.pointer)) ||
        FAILED(voice->SetVoice(token.pointer))) {
        return {};
    }
    Released<IStream> memory;
    Released<ISpStream> stream;
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, kSpeechRate, kSpeechRate * 2, 2, 16, 0};
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &memory.pointer)) ||
        FAILED(CoCreateInstance(CLSID_SpStream, nullptr, CLSCTX_ALL, IID_ISpStream,
                                reinterpret_cast<void**>(&stream.pointer))) ||
        FAILED(stream->SetBaseStream(memory.pointer, kWaveFormatEx, &format)) ||
        FAILED(voice->SetOutput(stream.pointer, TRUE)) ||
        FAILED(voice->Speak(Wide(words).c_str(), SPF_DEFAULT, nullptr))) {
        return {};
    }
    HGLOBAL bytes = nullptr;
    if (FAILED(GetHGlobalFromStream(memory.pointer, &bytes))) {
        return {};
    }
    STATSTG stat{};
    memory->Stat(&stat, STATFLAG_NONAME);
    const auto size = static_cast<std::size_t>(stat.cbSize.QuadPart) / 2;
    std::vector<std::int16_t> samples(size);
    if (const void* data = GlobalLock(bytes)) {
        std::memcpy(samples.data(), data, size * 2);
        GlobalUnlock(bytes);
    }
    return samples;
}

void CALLBACK PlaySpeech(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (State().speech.empty()) {
        return;
    }
    ::PlaySoundW(nullptr, nullptr, 0);
    State().playing_wave = std::move(State().speech);
    State().speech.clear();
    ::PlaySoundW(reinterpret_cast<LPCWSTR>(State().playing_wave.data()), nullptr,
                 SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
}

} // namespace

} // namespace win32

void SpeakAfterSound(std::string_view words, std::string_view language) {
    std::vector<std::int16_t> samples = win32::Render(words, language);
    if (samples.empty()) {
        return;
    }
    const std::string wave = sound::WaveFile(samples, win32::kSpeechRate);
    std::vector<std::uint8_t>& speech = win32::State().speech;
    speech.assign(wave.begin(), wave.end());
    core::ScaleSamples(speech.data() + 44, speech.size() - 44, 16, win32::State().wave_volume);
    // The thread timer fires on the event thread, which plays every sound.
    const ULONGLONG ends =
        win32::State().sound_started_ms + win32::WaveLengthMs(win32::State().sound_path);
    const ULONGLONG now = GetTickCount64();
    SetTimer(nullptr, 0, static_cast<UINT>(std::max<ULONGLONG>(ends, now + 1) - now),
             win32::PlaySpeech);
}

bool UserLanguageIsJapanese() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

} // namespace platform
