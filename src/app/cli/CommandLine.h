#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnel {

// The program's command line. Parse never exits or prints; it fills the options or says what is
// wrong in `error`.
struct CommandLine {
    enum class Mode { kWindow, kList, kCheckRules, kHeadless, kHelp };

    Mode mode = Mode::kWindow;
    bool noResolve = false;
    bool autokill = false;
    bool all = false;                 // --list --all: every kept connection, not only the rows the list shows
    bool ipv6 = false;                // --list --ipv6: IPv6 connections are listed too
    std::optional<std::string> lang;  // "EN" or "JP", upper case
    std::optional<std::string> configDir;  // --config-dir
    std::optional<std::string> rulesFile;  // --check-rules FILE
    std::vector<std::string> positional;   // what is left (for the restart hand-over "/w PID")

    // argv[0] is the program name. Returns false with `error` set on a bad command line.
    bool Parse(int argc, const char* const* argv, std::string& error);

    static const char* HelpText();
    // The one-line synopsis printed after a refused command line, ending in a line feed.
    static const char* UsageLine();
};

}  // namespace varnel
