#include "platform/win32/win32_backend.h"

// Every running copy leaves a record of its program folder in the user's temporary folder, so
// that Alarm Quit in any copy reaches the copies started from other folders. The copy keeps the
// record open for its whole life, with delete-on-close and shared for reading only: the system
// deletes it with the last handle however the process ends, and nobody else can delete it
// meanwhile. A record that can be deleted therefore belongs to no running copy (a crash of the
// system left it): deleting it is the check.

namespace platform {

namespace {

// A record names a folder; anything longer is no record of ours.
constexpr DWORD kMaxRecord = 64 * 1024;

// Records of this session only, like the running-copy mutex.
std::wstring RecordPattern(const std::wstring& id) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    if (length == 0 || length > MAX_PATH) {
        return {};
    }
    return std::wstring(folder, length) + L"Velmorin-" + std::to_wstring(session) + L"-" + id +
           L".copy";
}

std::string ReadRecord(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) {
        return {};
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string text(kMaxRecord, '\0');
    DWORD length = 0;
    if (!ReadFile(file, text.data(), kMaxRecord, &length, nullptr)) {
        length = 0;
    }
    CloseHandle(file);
    text.resize(length);
    // A record is complete once its closing line end is there.
    return !text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : "";
}

} // namespace

namespace win32 {

void RecordRunningCopy() {
    const std::wstring path = RecordPattern(std::to_wstring(GetCurrentProcessId()));
    if (path.empty()) {
        return;
    }
    // A record that a crash left under this process id is taken over.
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string record = ProgramFolder() + "\n";
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    // The handle stays open, and with it the record, until the process ends.
}

} // namespace win32

std::vector<std::string> RunningCopyFolders() {
    std::vector<std::string> folders;
    const std::wstring pattern = RecordPattern(L"*");
    WIN32_FIND_DATAW found;
    const HANDLE search =
        pattern.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return folders;
    }
    const std::wstring folder = pattern.substr(0, pattern.find_last_of(L'\\') + 1);
    do {
        if (std::string path = ReadRecord(folder + found.cFileName); !path.empty()) {
            folders.push_back(std::move(path));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return folders;
}

} // namespace platform
