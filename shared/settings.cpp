#include "shared/settings.h"

#include "platform/platform.h"
#include "shared/Module1.h"
#include "shared/number.h"

#include <cstring>

namespace {

bool WriteQuit(const char* value) {
    return platform::WritePrivateProfileStringA("Form", "Quit", value,
                                                Module1::settings_path.c_str());
}

} // namespace

void ClearQuitRequest() {
    WriteQuit("0");
}

bool RequestQuit() {
    return WriteQuit("1");
}

std::string ReadQuitRequest() {
    char buffer[16] = {};
    platform::GetPrivateProfileStringA("Form", "Quit", "0", buffer, sizeof buffer,
                                       Module1::settings_path.c_str());
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

bool IsQuitRequest(const std::string& text) {
    const auto value = TextToNumber(text);
    return value && *value == 1;
}

std::string QuitFailureMessage() {
    return "The time signal could not be stopped.\n\nThe quit request could not be written to "
           "the settings file\n" +
           Module1::settings_path + "\n(" + platform::LastErrorText() +
           ").\n\nOther running copies go on chiming.";
}
