#include "app/command_line.h"

#include "app/frmMain.h"

#include "forms/frmAbout.h"
#include "forms/frmOptions.h"
#include "platform/platform.h"

#include <algorithm>

namespace {

// The exit status of a command line that cannot be read, as command-line programs have it.
constexpr int kUsageStatus = 2;

std::string HelpText() {
    return "Usage: velmorin [--help | --version | --settings]\n"
           "\n"
           "Velmorin announces the hour. Started without options, it runs hidden and plays\n"
           "the hour's sound twice at the top of every hour. Started again while it runs,\n"
           "it opens its control window, whose Alarm Quit stops every running copy.\n"
           "\n"
           "Options:\n"
           "  -h, --help        print this text and end\n"
           "  -V, --version     print the version and end\n"
           "      --settings    open the settings window (quiet hours, busy, volume, quarter\n"
           "                    chimes, the spoken hour) without starting the time signal\n"
           "\n"
           "Its files are in its program folder, " +
           platform::ProgramFolder() +
           ":\n"
           "  Velmorin.ini      the quit request ([Form] Quit=1 ends the copies started\n"
           "                    from this folder) and the [Chime] keys Quiet, Busy,\n"
           "                    Volume, Quarters, Speak\n"
           "  00.WAV to 11.WAV  the hour sounds\n"
           "  QUARTER1.WAV to QUARTER3.WAV\n"
           "                    the quarter sounds (Quarters=1 or 30)\n"
           "  ABOUT.MID         the About tune";
}

std::string VersionText() {
    return "Velmorin " VELMORIN_VERSION " (its About window: " + std::string(kAboutTitle) + ")";
}

// Windows options are read without regard to case.
bool IsSlashOption(std::string_view argument, std::string_view option) {
    return argument.size() == option.size() &&
           std::equal(argument.begin(), argument.end(), option.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
           });
}

CommandLine ReadArguments(int argc, char** argv) {
    return ReadCommandLine(std::vector<std::string_view>(argv + (argc > 0 ? 1 : 0), argv + argc),
                           platform::PathSeparator() == "\\");
}

} // namespace

CommandLine ReadCommandLine(const std::vector<std::string_view>& arguments, bool slash_options) {
    CommandLine line;
    for (const std::string_view argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version" || argument == "-V") {
            line.version = true;
        } else if (argument == "--settings" ||
                   (slash_options && IsSlashOption(argument, "/settings"))) {
            line.settings = true;
        } else if (!line.unknown) {
            line.unknown = argument;
        }
    }
    return line;
}

std::optional<int> AnswerCommandLine(int argc, char** argv) {
    const CommandLine line = ReadArguments(argc, argv);
    if (line.unknown) {
        const bool option = line.unknown->starts_with('-');
        platform::Tell((option ? "unknown option '" : "unexpected argument '") + *line.unknown +
                           "'; velmorin --help lists the options",
                       platform::Notice::Mistake);
        return kUsageStatus;
    }
    if (line.help || line.version) {
        platform::Tell(line.help ? HelpText() : VersionText(), platform::Notice::Answer);
        return 0;
    }
    return std::nullopt;
}

int StartProgram(int argc, char** argv) {
    // Answered before the platform starts, so --help and --version need no display and touch
    // neither the settings file nor a running copy.
    if (const std::optional<int> status = AnswerCommandLine(argc, argv)) {
        return *status;
    }
    // The settings window needs no time signal: no start-up steps, no running-copy record.
    const CommandLine line = ReadArguments(argc, argv);
    if (line.settings) {
        return platform::RunAlone(frmOptions, argc, argv);
    }
    return platform::Run(frmMain, argc, argv);
}
