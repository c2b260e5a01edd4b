#pragma once

#include <string>
#include <string_view>

// A file beside the program: the program folder, the platform's separator and the name, as the
// program names it ("Velmorin.ini", "03.WAV", "ABOUT.MID"). The separator is always added, so a
// program folder at the root gives a doubled one, which names the same file.
std::string ProgramFile(std::string_view name);
