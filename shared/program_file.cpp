#include "shared/program_file.h"

#include "platform/platform.h"

std::string ProgramFile(std::string_view name) {
    return platform::ProgramFolder() + std::string(platform::PathSeparator()) + std::string(name);
}
