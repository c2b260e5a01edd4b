#include "shared/settings.h"

#include "platform/platform.h"
#include "shared/Module1.h"
#include "shared/number.h"
#include "shared/program_file.h"

#include <algorithm>
#include <cstring>

namespace {

bool WriteQuit(const char* value, const std::string& path = Module1::State().settings_path) {
    return platform::WritePrivateProfileStringA("Form", "Quit", value, path.c_str());
}

} // namespace

std::string SettingsPath(const std::string& folder) {
    return ProgramFileIn(folder, "Velmorin.ini");
}

bool ClearQuitRequest() {
    return WriteQuit("0");
}

bool RequestQuit() {
    return WriteQuit("1");
}

std::vector<std::string> RequestQuitOfEveryCopy() {
    std::vector<std::string> paths{Module1::State().settings_path};
    for (const std::string& folder : platform::RunningCopyFolders()) {
        // Copies started from one folder share one file: it is written once.
        if (std::string path = SettingsPath(folder);
            std::find(paths.begin(), paths.end(), path) == paths.end()) {
            paths.push_back(std::move(path));
        }
    }
    std::vector<std::string> failures;
    for (const std::string& path : paths) {
        if (!WriteQuit("1", path)) {
            failures.push_back(QuitFailureMessage(path));
        }
    }
    return failures;
}

std::string ReadQuitRequest() {
    char buffer[16] = {};
    platform::GetPrivateProfileStringA("Form", "Quit", "0", buffer, sizeof buffer,
                                       Module1::State().settings_path.c_str());
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

bool IsQuitRequest(const std::string& text) {
    const auto value = TextToNumber(text);
    return value && *value == 1;
}

std::string QuitFailureMessage(const std::string& path) {
    return "The time signal could not be stopped.\n\nThe quit request could not be written to "
           "the settings file\n" +
           path + "\n(" + platform::LastErrorText() +
           ").\n\nThe copies started from that folder go on chiming.";
}
