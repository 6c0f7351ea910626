#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "autokill/RuleChecker.h"
#include "autokill/RuleFile.h"
#include "autokill/RuleFileParser.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

class RuleFileLoadTest : public ::testing::Test {
  protected:
    RuleFileLoadTest() {
        char tmpl[] = "/tmp/varnel-rulefile-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~RuleFileLoadTest() override { fs::remove_all(dir); }

    std::string Write(const std::string& text) {
        const std::string path = dir + "/varnel_autoblock.txt";
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // LoadFile on a thread of its own, so that a load that blocks fails the test instead of
    // hanging it. False when it has not returned within two seconds.
    bool LoadWithin(const std::string& path) {
        struct Shared {
            std::mutex mutex;
            std::condition_variable done;
            bool finished = false;
            AutoKillRuleSet set;
            RuleLoadReport report;
            int candidates = 0;
        };
        auto shared = std::make_shared<Shared>();
        shared->report.rules = -1;  // LoadFile must fill it in
        std::thread([shared, path] {
            int candidates = RuleFileParser::LoadFile(path, shared->set, &shared->report);
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->candidates = candidates;
            shared->finished = true;
            shared->done.notify_all();
        }).detach();
        std::unique_lock<std::mutex> lock(shared->mutex);
        if (!shared->done.wait_for(lock, std::chrono::seconds(2), [&] { return shared->finished; }))
            return false;
        report = shared->report;
        candidates = shared->candidates;
        rules = shared->set.count();
        return true;
    }

    std::string dir;
    RuleLoadReport report;
    int candidates = -1;
    int rules = -1;
};

TEST_F(RuleFileLoadTest, AReadFileReportsCountsSuspectLinesAndLineNumbers) {
    const std::string text =
        "# rules\r\n"
        "HOST2=example.com\r\n"  // suspect: also matches badexample.com
        "\r\n"
        "PORT2=80\r\n"
        "just words\r\n"  // no rule, but no warning either
        "host2=x\r\n"     // no rule, with a warning
        "NOLOG=1,PORT2=443\r\n";
    const std::string path = Write(text);
    ASSERT_TRUE(LoadWithin(path));
    EXPECT_TRUE(report.read);
    EXPECT_FALSE(report.missing);
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.candidates, 5);
    EXPECT_EQ(report.rules, 3);
    EXPECT_EQ(rules, 3);
    EXPECT_EQ(report.capLine, 0);
    EXPECT_EQ(report.suspectLines, 2);

    // The count agrees with the lines the checker marks with warnings.
    std::ostringstream checked;
    RuleChecker::Check(text, checked);
    const std::string out = checked.str();
    int marked = 0;
    for (size_t at = out.find("  # "); at != std::string::npos; at = out.find("  # ", at + 1)) ++marked;
    EXPECT_EQ(marked, report.suspectLines) << out;

    // Rule numbers are the physical lines of the file.
    AutoKillRuleSet set;
    RuleFileParser::LoadFile(path, set);
    ASSERT_EQ(set.count(), 3);
    EXPECT_EQ(set.rule(0).lineNumber, 2);
    EXPECT_EQ(set.rule(1).lineNumber, 4);
    EXPECT_EQ(set.rule(2).lineNumber, 7);
}

TEST_F(RuleFileLoadTest, TheLimitReportsTheLineOfTheFirstCandidateLeftUnread) {
    std::string text = "# header\n";
    for (int i = 1; i <= 1023; ++i) text += "PORT2=" + std::to_string(i) + "\n";
    ASSERT_TRUE(LoadWithin(Write(text + "# only comments after the limit\n\n")));
    EXPECT_EQ(report.candidates, 1023);
    EXPECT_EQ(report.capLine, 0);
    ASSERT_TRUE(LoadWithin(Write(text + "# comment\n\nPORT2=9999\nPORT2=1\n")));
    EXPECT_EQ(report.capLine, 1027);
    EXPECT_EQ(report.rules, 1023);
}

TEST_F(RuleFileLoadTest, AMissingFileIsNoRulesAndNoError) {
    ASSERT_TRUE(LoadWithin(dir + "/none.txt"));
    EXPECT_TRUE(report.missing);
    EXPECT_FALSE(report.read);
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(report.rules, 0);
    EXPECT_EQ(candidates, 0);
}

TEST_F(RuleFileLoadTest, WhatIsNoRegularFileIsRefusedAtOnce) {
    // A FIFO without a writer blocks whoever opens it for reading; /dev/zero never ends.
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {fifo, fifo + " is a FIFO (named pipe), not a regular file"},
        {"/dev/zero", "/dev/zero is a character device, not a regular file"},
        {dir, dir + " is a folder, not a regular file"},
    };
    for (const auto& [path, error] : cases) {
        const bool returned = LoadWithin(path);
        if (!returned && path == fifo) {
            // Let the blocked reader go: a writer comes and leaves at once.
            int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
        ASSERT_TRUE(returned) << path << " blocked the load";
        EXPECT_EQ(report.error, error);
        EXPECT_FALSE(report.read);
        EXPECT_FALSE(report.missing);
        EXPECT_EQ(rules, 0);
        EXPECT_EQ(candidates, 0);
    }
}

TEST_F(RuleFileLoadTest, AnUnreadableFileIsAnError) {
    const std::string path = Write("PORT2=80\n");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    // Root reads every file, so the load runs in a child that is nobody.
    auto load = [&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::exit(2);
        AutoKillRuleSet set;
        RuleFileParser::Parse("PORT2=1\n", set);
        RuleFileParser::LoadFile(path, set, &report);
        std::fprintf(stderr, "error \"%s\", %d rules", report.error.c_str(), set.count());
        std::exit(report.error == "cannot read " + path + ": Permission denied" && set.count() == 0 ? 0 : 1);
    };
    EXPECT_EXIT(load(), ::testing::ExitedWithCode(0), "");
}

TEST_F(RuleFileLoadTest, ALinkToARegularFileIsFollowed) {
    const std::string path = Write("PORT2=80\n");
    fs::create_symlink(path, dir + "/link.txt");
    RuleFile file(dir + "/link.txt");
    ASSERT_EQ(file.status(), RuleFile::Status::kOpen) << file.error();
    std::string text((std::istreambuf_iterator<char>(file.stream())), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "PORT2=80\n");
    EXPECT_EQ(file.error(), "");
}

}  // namespace
}  // namespace varnel
