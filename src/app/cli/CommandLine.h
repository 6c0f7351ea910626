#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/ConnectionListFormatter.h"

namespace varnel {

// The program's command line. Parse never exits or prints; it fills the options or says what is
// wrong in `error`.
struct CommandLine {
    enum class Mode { kWindow, kList, kCheckRules, kHeadless, kHelp };

    Mode mode = Mode::kWindow;
    bool noResolve = false;
    bool autokill = false;
    bool noInstantCut = false;        // --no-instant-cut: cut at each tick only, whatever InstantCut says
    bool all = false;                 // --list --all: every kept connection, not only the rows the list shows
    bool ipv6 = false;                // --list --ipv6: IPv6 connections are listed too
    std::optional<std::string> lang;  // "EN" or "JP", upper case
    std::optional<std::string> configDir;  // --config-dir
    std::optional<std::string> rulesFile;  // --check-rules FILE
    OutputFormat format = OutputFormat::kText;  // --format, for --list and --headless
    std::optional<std::string> metricsFile;     // --metrics-file PATH, for --headless
    // The restart hand-over: {"/w", PID} when asked for, else empty.
    std::vector<std::string> positional;

    // argv[0] is the program name. Returns false with `error` set on a bad command line.
    //
    // A command line whose first argument begins with "/w" is the restart hand-over, written by
    // the program itself: "/w PID" followed by nothing but this program's options asks for it,
    // with those options. Any other form ("/w" alone, "/w PID" and anything else) is a normal
    // start of the window, with nothing of it read; it is never refused.
    bool Parse(int argc, const char* const* argv, std::string& error);

    // The command line (without the program name) of the copy that takes over from this one after
    // a resume: "/w PID" and the options of this one that the window uses (--config-dir made
    // absolute, --lang, --no-resolve).
    std::vector<std::string> SuccessorArguments(unsigned long pid) const;

    static const char* HelpText();
    // The one-line synopsis printed after a refused command line, ending in a line feed.
    static const char* UsageLine();
};

}  // namespace varnel
