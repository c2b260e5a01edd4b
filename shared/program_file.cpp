#include "shared/program_file.h"

#include "platform/platform.h"

std::string ProgramFileIn(const std::string& folder, std::string_view name) {
    return folder + std::string(platform::PathSeparator()) + std::string(name);
}

std::string ProgramFile(std::string_view name) {
    return ProgramFileIn(platform::ProgramFolder(), name);
}

std::string HourSoundPath(int hour) {
    const int dial = hour > 11 ? hour - 12 : hour;
    const char name[] = {static_cast<char>('0' + dial / 10), static_cast<char>('0' + dial % 10),
                         '\0'};
    return ProgramFile(std::string(name) + ".WAV");
}

std::string QuarterSoundPath(int minute) {
    return ProgramFile("QUARTER" + std::to_string(minute / 15) + ".WAV");
}
