#include "app/command_line.h"
#include "app/frmMain.h"

int main(int argc, char** argv) {
    // Answered before the platform starts, so --help and --version need no display and touch
    // neither the settings file nor a running copy.
    if (const std::optional<int> status = AnswerCommandLine(argc, argv)) {
        return *status;
    }
    return platform::Run(frmMain, argc, argv);
}
