#include <gtest/gtest.h>

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
    for (std::vector<const char*> args :
         {std::vector<const char*>{"-list"}, {"-"}, {"--list", "-all"}, {"-x", "12"}, {"/w", "-5"}}) {
        CommandLine cl;
        std::string error;
        EXPECT_FALSE(Accepts(args, cl, error)) << args[0];
        EXPECT_NE(error.find("unknown option"), std::string::npos) << error;
    }
}

TEST(CommandLineTest, OnlyTheRestartHandOverMayBePositional) {
    CommandLine handOver;
    std::string error;
    ASSERT_TRUE(Accepts({"/w", "4242"}, handOver, error)) << error;
    EXPECT_EQ(handOver.positional, (std::vector<std::string>{"/w", "4242"}));
    CommandLine wait;
    EXPECT_TRUE(Accepts({"/wait", "1"}, wait, error)) << "only the first two characters count";

    for (std::vector<const char*> args : {std::vector<const char*>{"list"},
                                          {"/w"},
                                          {"/w", "1", "2"},
                                          {"--list", "/w", "1"},
                                          {"/x", "1"},
                                          {"rules.txt", "/w"}}) {
        CommandLine cl;
        error.clear();
        EXPECT_FALSE(Accepts(args, cl, error)) << args[0] << " (" << args.size() << " arguments)";
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace varnel
