#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/CommandLine.h"

namespace varnel {
namespace {

// Parses `args` (without the program name); returns whether it was accepted.
bool Accepts(std::vector<const char*> args, CommandLine& cl, std::string& error) {
    args.insert(args.begin(), "varnel");
    return cl.Parse(static_cast<int>(args.size()), args.data(), error);
}

TEST(CommandLineTest, ASingleDashWordThatIsNoOptionIsRefusedNotTakenAsAnArgument) {
    for (std::vector<const char*> args : {std::vector<const char*>{"-list"},
                                          {"-"},
                                          {"--list", "-all"},
                                          {"-x", "12"},
                                          {"--lang", "JP", "-5"}}) {
        CommandLine cl;
        std::string error;
        EXPECT_FALSE(Accepts(args, cl, error)) << args[0];
        EXPECT_NE(error.find("unknown option"), std::string::npos) << error;
    }
}

TEST(CommandLineTest, OnlyTheRestartHandOverMayBePositional) {
    // "/w PID" followed by nothing but the program's own options: the hand-over, with them.
    struct HandOver {
        std::vector<const char*> args;
        std::vector<std::string> positional;  // empty: a normal start
        std::optional<std::string> configDir, lang;
        bool noResolve;
    };
    for (const HandOver& row : std::vector<HandOver>{
             {{"/w", "4242"}, {"/w", "4242"}, {}, {}, false},
             {{"/wait", "1"}, {"/wait", "1"}, {}, {}, false},  // only the first two characters count
             {{"/w", "-5"}, {"/w", "-5"}, {}, {}, false},      // a PID that names no process
             {{"/w", "7", "--config-dir", "/d", "--lang", "jp", "--no-resolve"},
              {"/w", "7"},
              "/d",
              "JP",
              true},
             // Anything else after "/w" is a normal start, never refused, and none of it is read.
             {{"/w"}, {}, {}, {}, false},
             {{"/w", "1", "2"}, {}, {}, {}, false},
             {{"/w", "1", "--no-resolve", "extra"}, {}, {}, {}, false},
             {{"/w", "1", "--bogus", "--no-resolve"}, {}, {}, {}, false},
             {{"/w", "1", "--lang", "XX"}, {}, {}, {}, false},
             {{"/w", "1", "--list"}, {}, {}, {}, false},
         }) {
        CommandLine cl;
        std::string error;
        ASSERT_TRUE(Accepts(row.args, cl, error)) << row.args.size() << " arguments: " << error;
        EXPECT_EQ(cl.positional, row.positional) << row.args.size() << " arguments";
        EXPECT_EQ(cl.mode, CommandLine::Mode::kWindow);
        EXPECT_EQ(cl.configDir, row.configDir);
        EXPECT_EQ(cl.lang, row.lang);
        EXPECT_EQ(cl.noResolve, row.noResolve);
    }

    for (std::vector<const char*> args : {std::vector<const char*>{"list"},
                                          {"--list", "/w", "1"},
                                          {"--no-resolve", "/w", "1"},
                                          {"/x", "1"},
                                          {"rules.txt", "/w"},
                                          {"--list", "--format", "xml"},
                                          {"--list", "--format"},
                                          {"--format", "json"},
                                          {"--list", "--metrics-file", "m.prom"},
                                          {"--headless", "--metrics-file", ""},
                                          {"--headless", "--format", "csv"}}) {
        CommandLine cl;
        std::string error;
        EXPECT_FALSE(Accepts(args, cl, error)) << args[0] << " (" << args.size() << " arguments)";
        EXPECT_FALSE(error.empty());
    }
}

TEST(CommandLineTest, TheSuccessorAfterAResumeGetsTheWindowsOptions) {
    CommandLine cl;
    std::string error;
    ASSERT_TRUE(Accepts({"--no-resolve", "--config-dir", "cfg", "--lang", "jp", "--no-instant-cut"}, cl, error))
        << error;
    const std::vector<std::string> args = cl.SuccessorArguments(4242);
    const std::string absolute = std::filesystem::current_path() / "cfg";
    EXPECT_EQ(args, (std::vector<std::string>{"/w", "4242", "--config-dir", absolute, "--lang", "JP",
                                              "--no-resolve", "--no-instant-cut"}));
    // Nothing given, nothing passed on: the successor finds the same environment.
    EXPECT_EQ(CommandLine().SuccessorArguments(1), (std::vector<std::string>{"/w", "1"}));
}

}  // namespace
}  // namespace varnel
