// The program as a process: what it says and the status it ends with when its command line cannot
// be used. Nothing here reaches the connection table.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace varnel {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string err;
};

// Runs varnel with `args` (shell words without quoting needs); standard output is dropped.
Outcome RunVarnel(const std::string& args) {
    Outcome o;
    std::string command = std::string(VARNEL_BINARY) + " " + args + " 2>&1 >/dev/null";
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return o;
    std::array<char, 512> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) o.err.append(buf.data(), n);
    int raw = ::pclose(p);
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return o;
}

class ProgramExitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/varnel-exit-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        file = dir + "/plain";
        std::ofstream(file) << "x";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string dir, file;
};

TEST_F(ProgramExitTest, AnUnknownSingleDashOptionEndsWithAUsageLine) {
    Outcome o = RunVarnel("-list");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "varnel: unknown option -list\nUsage: varnel [MODE] [OPTIONS]\nTry 'varnel --help'.\n");
    EXPECT_EQ(RunVarnel("list now").status, 2);
}

TEST_F(ProgramExitTest, AConfigDirThatIsAFileOrCannotBeMadeIsRefused) {
    Outcome notFolder = RunVarnel("--list --no-resolve --config-dir " + file);
    EXPECT_EQ(notFolder.status, 2);
    EXPECT_EQ(notFolder.err, "varnel: --config-dir " + file + ": not a folder\n");
    Outcome below = RunVarnel("--headless --config-dir " + file + "/sub");
    EXPECT_EQ(below.status, 2);
    EXPECT_NE(below.err.find("varnel: --config-dir " + file + "/sub: cannot be made ("), std::string::npos)
        << below.err;
    EXPECT_EQ(RunVarnel("--check-rules --config-dir " + file).status, 2);
}

TEST_F(ProgramExitTest, CheckRulesMakesNoFolder) {
    const std::string missing = dir + "/new/deep";
    Outcome o = RunVarnel("--check-rules --config-dir " + missing);
    EXPECT_EQ(o.status, 1) << "no rule file there: " << o.err;
    EXPECT_FALSE(fs::exists(dir + "/new"));
}

// A script can refuse rules that would not do what they say: mistyped values end with 1,
// warnings alone with 0.
TEST_F(ProgramExitTest, CheckRulesEndsWithOneOnlyForErrors) {
    const std::string rules = dir + "/rules.txt";
    std::ofstream(rules) << "PORT2=0\nIP2=10.1.2.0/24\n";
    EXPECT_EQ(RunVarnel("--check-rules " + rules).status, 0);
    std::ofstream(rules) << "PORT2=80\nTIME=5m\n";
    Outcome o = RunVarnel("--check-rules " + rules);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "");
}

}  // namespace
}  // namespace varnel
