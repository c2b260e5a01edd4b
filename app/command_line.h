#pragma once

// The command line: read once, here, for every platform.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CommandLine {
    bool help = false;
    bool version = false;
    bool settings = false; // --settings: the settings window alone
    // The first argument that is none of the program's options.
    std::optional<std::string> unknown;
};

// Windows programs also take their options with a slash ("/settings").
CommandLine ReadCommandLine(const std::vector<std::string_view>& arguments,
                            bool slash_options = false);

// Answers what the command line asks for that ends the program before it starts (--help,
// --version, an argument it cannot read), through platform::Tell: the exit status then, and
// nothing when the program is to start. Nothing else is touched: no settings file, no lock.
std::optional<int> AnswerCommandLine(int argc, char** argv);

// What every program's main does: answers the command line, or starts the program with its
// hidden host window, or opens the settings window alone.
int StartProgram(int argc, char** argv);
