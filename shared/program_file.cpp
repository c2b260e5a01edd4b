#include "shared/program_file.h"

#include "platform/platform.h"

std::string ProgramFileIn(const std::string& folder, std::string_view name) {
    return folder + std::string(platform::PathSeparator()) + std::string(name);
}

std::string ProgramFile(std::string_view name) {
    return ProgramFileIn(platform::ProgramFolder(), name);
}
