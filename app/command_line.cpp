#include "app/command_line.h"

#include "app/frmMain.h"

#include "forms/frmAbout.h"
#include "platform/platform.h"

namespace {

// The exit status of a command line that cannot be read, as command-line programs have it.
constexpr int kUsageStatus = 2;

std::string HelpText() {
    return "Usage: velmorin [--help | --version]\n"
           "\n"
           "Velmorin announces the hour. Started without options, it runs hidden and plays\n"
           "the hour's sound twice at the top of every hour. Started again while it runs,\n"
           "it opens its control window, whose Alarm Quit stops every running copy.\n"
           "\n"
           "Options:\n"
           "  -h, --help        print this text and end\n"
           "  -V, --version     print the version and end\n"
           "\n"
           "Its files are in its program folder, " +
           platform::ProgramFolder() +
           ":\n"
           "  Velmorin.ini      the quit request ([Form] Quit=1 ends the copies started\n"
           "                    from this folder) and the [Chime] keys Quiet, Busy, Volume\n"
           "  00.WAV to 11.WAV  the hour sounds\n"
           "  ABOUT.MID         the About tune";
}

std::string VersionText() {
    return "Velmorin " VELMORIN_VERSION " (its About window: " + std::string(kAboutTitle) + ")";
}

} // namespace

CommandLine ReadCommandLine(const std::vector<std::string_view>& arguments) {
    CommandLine line;
    for (const std::string_view argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version" || argument == "-V") {
            line.version = true;
        } else if (!line.unknown) {
            line.unknown = argument;
        }
    }
    return line;
}

std::optional<int> AnswerCommandLine(int argc, char** argv) {
    const CommandLine line =
        ReadCommandLine(std::vector<std::string_view>(argv + (argc > 0 ? 1 : 0), argv + argc));
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
    return platform::Run(frmMain, argc, argv);
}
