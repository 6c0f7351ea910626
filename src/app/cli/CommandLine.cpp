#include "app/cli/CommandLine.h"

#include <cstring>
#include <filesystem>
#include <string_view>

namespace varnel {

namespace {

std::string Upper(std::string_view v) {
    std::string s(v);
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

const char* CommandLine::UsageLine() {
    return "Usage: varnel [MODE] [OPTIONS]\n";
}

const char* CommandLine::HelpText() {
    return "Usage: varnel [MODE] [OPTIONS]\n"
           "Monitor this machine's TCP connections and cut them by rule.\n"
           "\n"
           "Modes (default: the window):\n"
           "  --list               take one snapshot, print the session list (TAB-separated) and exit\n"
           "  --check-rules [FILE] parse a rule file (default: the program's own) and print each rule;\n"
           "                       exit status 1 when the file is missing, unreadable or no regular file\n"
           "  --headless           monitor without a window; block-log lines go to standard output;\n"
           "                       SIGHUP reloads the rule file and the settings, SIGINT/SIGTERM end it\n"
           "  --help               show this text and exit\n"
           "\n"
           "Options:\n"
           "  --all                with --list: every connection, not only the 599 rows the list shows\n"
           "  --ipv6               with --list: list IPv6 connections too (the window: ShowIPv6=1)\n"
           "  --no-resolve         show addresses instead of host names\n"
           "  --autokill           with --headless: switch auto kill on whatever the settings say\n"
           "  --format text|json|csv\n"
           "                       with --list: the list as text (default), JSON lines or CSV;\n"
           "                       with --headless: events as text (default) or JSON lines\n"
           "  --metrics-file PATH  with --headless: write Prometheus metrics to PATH every 10 s\n"
           "                       (overrides MetricsFile= in the settings)\n"
           "  --no-instant-cut     cut ruled connections at each 500 ms tick only, not the moment the\n"
           "                       kernel reports them (the InstantCut setting, for this run)\n"
           "  --lang EN|JP         language of the texts (default: from LC_ALL, LC_MESSAGES, LANG)\n"
           "  --config-dir DIR     folder of the settings file, the rule file and the block log; made\n"
           "                       when missing (not by --check-rules, which only reads); a DIR that\n"
           "                       is no folder or cannot be made ends the program with status 2\n"
           "\n"
           "The list shows at most 599 connections; auto kill is not bound by that: its rules are tested\n"
           "against every connection at every tick, shown or not, IPv4 and IPv6 alike.\n";
}

std::vector<std::string> CommandLine::SuccessorArguments(unsigned long pid) const {
    std::vector<std::string> args{"/w", std::to_string(pid)};
    if (configDir) {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(*configDir, ec);
        args.insert(args.end(), {"--config-dir", ec ? *configDir : absolute.string()});
    }
    if (lang) args.insert(args.end(), {"--lang", *lang});
    if (noResolve) args.emplace_back("--no-resolve");
    if (noInstantCut) args.emplace_back("--no-instant-cut");
    return args;
}

bool CommandLine::Parse(int argc, const char* const* argv, std::string& error) {
    if (argc >= 2 && std::strncmp(argv[1], "/w", 2) == 0) {
        // The PID stands where the program name would: what follows it parses as a command line.
        CommandLine rest;
        std::string ignored;
        if (argc >= 3 && rest.Parse(argc - 2, argv + 2, ignored) && rest.positional.empty() &&
            rest.mode == Mode::kWindow) {
            *this = std::move(rest);
            positional = {argv[1], argv[2]};
        } else {
            *this = CommandLine();
        }
        return true;
    }
    bool modeSet = false;
    auto setMode = [&](Mode m, std::string_view flag) {
        if (modeSet && mode != m) {
            error = "only one of --list, --check-rules, --headless, --help may be given (got " +
                    std::string(flag) + ")";
            return false;
        }
        mode = m;
        modeSet = true;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (arg == "--list") {
            if (!setMode(Mode::kList, arg)) return false;
        } else if (arg == "--headless") {
            if (!setMode(Mode::kHeadless, arg)) return false;
        } else if (arg == "--help" || arg == "-h") {
            if (!setMode(Mode::kHelp, arg)) return false;
        } else if (arg == "--check-rules") {
            if (!setMode(Mode::kCheckRules, arg)) return false;
            if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) rulesFile = argv[++i];
        } else if (arg == "--no-resolve") {
            noResolve = true;
        } else if (arg == "--autokill") {
            autokill = true;
        } else if (arg == "--no-instant-cut") {
            noInstantCut = true;
        } else if (arg == "--all") {
            all = true;
        } else if (arg == "--ipv6") {
            ipv6 = true;
        } else if (arg == "--lang") {
            std::string v;
            if (!value(v)) return false;
            v = Upper(v);
            if (v != "EN" && v != "JP") {
                error = "--lang takes EN or JP, not " + v;
                return false;
            }
            lang = v;
        } else if (arg == "--format") {
            std::string v;
            if (!value(v)) return false;
            if (!ParseOutputFormat(v, format)) {
                error = "--format takes text, json or csv, not " + v;
                return false;
            }
        } else if (arg == "--metrics-file") {
            std::string v;
            if (!value(v)) return false;
            if (v.empty()) {
                error = "--metrics-file needs a file name";
                return false;
            }
            metricsFile = v;
        } else if (arg == "--config-dir") {
            std::string v;
            if (!value(v)) return false;
            if (v.empty()) {
                error = "--config-dir needs a folder";
                return false;
            }
            configDir = v;
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + std::string(arg);
            return false;
        } else {
            positional.emplace_back(arg);
        }
    }
    if (metricsFile && mode != Mode::kHeadless) {
        error = "--metrics-file is for --headless";
        return false;
    }
    const bool formatFits = format == OutputFormat::kText || mode == Mode::kList ||
                            (mode == Mode::kHeadless && format == OutputFormat::kJson);
    if (!formatFits) {
        error = "--format json and csv are for --list; --headless takes json";
        return false;
    }
    // The one positional form is the restart hand-over, taken above.
    if (!positional.empty()) {
        error = "unexpected argument " + positional[0];
        return false;
    }
    return true;
}

}  // namespace varnel
