#include <cstdio>
#include <iostream>
#include <string>

#include "app/cli/CommandLine.h"
#include "app/cli/ListCommand.h"
#include "app/core/UiLanguage.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/ProcProcessList.h"
#include "platform/linux/SystemClock.h"

using namespace varnel;

int main(int argc, char** argv) {
    CommandLine cl;
    std::string error;
    if (!cl.Parse(argc, argv, error)) {
        std::fprintf(stderr, "varnel: %s\nTry 'varnel --help'.\n", error.c_str());
        return 2;
    }
    UiLanguage lang = cl.lang ? UiLanguage(*cl.lang) : UiLanguage::FromEnvironment();

    switch (cl.mode) {
        case CommandLine::Mode::kHelp:
            std::fputs(CommandLine::HelpText(), stdout);
            return 0;
        case CommandLine::Mode::kList: {
            LinuxConnectionTable table;
            ProcProcessList processes;
            SystemClock clock;
            return ListCommand(table, processes, clock, lang).Run(std::cout);
        }
        default:
            break;
    }
    // The window and headless monitoring are not built yet: show the list instead.
    LinuxConnectionTable table;
    ProcProcessList processes;
    SystemClock clock;
    return ListCommand(table, processes, clock, lang).Run(std::cout);
}
