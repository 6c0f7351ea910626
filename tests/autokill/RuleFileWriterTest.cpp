#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "autokill/RuleFileWriter.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

class RuleFileWriterTest : public ::testing::Test {
  protected:
    RuleFileWriterTest() {
        char tmpl[] = "/tmp/varnel-rulewriter-XXXXXX";
        dir = mkdtemp(tmpl);
        path = dir + "/varnel_autoblock.txt";
    }
    ~RuleFileWriterTest() override { fs::remove_all(dir); }

    std::string Read() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    size_t Entries() const {
        return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    std::string dir;
    std::string path;
};

TEST_F(RuleFileWriterTest, SaveReplacesKeepsTheModeAndLoadGivesTheBytesBack) {
    std::string text;
    EXPECT_TRUE(RuleFileWriter::Load(path, text));  // missing: no rules
    EXPECT_EQ(text, "");

    const std::string bytes = std::string("HOST2=a\r\nPORT2=80\n\0x", 20) + std::string(70000, 'b');
    ASSERT_TRUE(RuleFileWriter::Save(path, bytes));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_TRUE(RuleFileWriter::Load(path, text));
    EXPECT_EQ(text, bytes);

    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    const ino_t before = st.st_ino;
    ASSERT_TRUE(RuleFileWriter::Save(path, "PORT2=1\n"));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(st.st_ino, before);  // a new file renamed over the old one
    EXPECT_EQ(Read(), "PORT2=1\n");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(RuleFileWriterTest, EmptyTextDeletesAndFailuresLeaveTheOldFile) {
    ASSERT_TRUE(RuleFileWriter::Save(path, "PORT2=1\n"));
    ASSERT_TRUE(RuleFileWriter::Save(path, ""));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(RuleFileWriter::Save(path, ""));  // nothing to delete is fine

    std::string error;
    EXPECT_FALSE(RuleFileWriter::Save(dir + "/no/such/folder/rules.txt", "PORT2=1\n", &error));
    EXPECT_NE(error.find("no/such/folder"), std::string::npos) << error;

    std::string text = "left over";
    EXPECT_FALSE(RuleFileWriter::Load(dir, text));  // a folder
    EXPECT_EQ(text, "");

    // A folder in the way of the rename fails it, also for root: the new file is removed again.
    const std::string blocked = dir + "/blocked.txt";
    ASSERT_TRUE(fs::create_directory(blocked));
    EXPECT_FALSE(RuleFileWriter::Save(blocked, "HOST2=new\n", &error));
    EXPECT_NE(error.find("blocked.txt"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(blocked));
    EXPECT_EQ(Entries(), 1u);
    fs::remove(blocked);

    // A read-only file is neither replaced nor deleted, also by root.
    ASSERT_TRUE(RuleFileWriter::Save(path, "HOST2=old\n"));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(RuleFileWriter::Save(path, "HOST2=new\n", &error));
    EXPECT_FALSE(RuleFileWriter::Save(path, "", &error));
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    EXPECT_EQ(Read(), "HOST2=old\n");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

    // A folder that takes no new file; root writes anywhere.
    ASSERT_EQ(::chmod(dir.c_str(), 0500), 0);
    const bool refused = !RuleFileWriter::Save(path, "HOST2=new\n", &error);
    ::chmod(dir.c_str(), 0700);
    EXPECT_EQ(refused, ::geteuid() != 0);
    if (refused) EXPECT_EQ(Read(), "HOST2=old\n");
    EXPECT_EQ(Entries(), 1u);
}

TEST(RuleFileWriterKillTest, AKilledSaveLeavesTheOldOrTheNewRulesWhole) {
    // Memory-backed storage makes each save quick, so many kills fit in the time; what is under
    // test is what a kill leaves, not the disk's own durability.
    const fs::path root = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path dir = root / ("varnel-rulekill-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "varnel_autoblock.txt").string();
    std::string a, b;
    for (int i = 0; i < 6000; ++i) {
        a += "PORT2=" + std::to_string(1000 + i) + ",HOST2=.a" + std::to_string(i) + ".example\r\n";
        b += "IP2=10." + std::to_string(i % 256) + ".,PID=b" + std::to_string(i) + "\r\n";
    }
    ASSERT_TRUE(RuleFileWriter::Save(path, "PORT2=1\r\n"));
    std::mt19937 rng(20261208);
    int kills = 0, seenNew = 0;
    const auto start = std::chrono::steady_clock::now();
    while (kills < 150 && std::chrono::steady_clock::now() - start < std::chrono::seconds(4)) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i) RuleFileWriter::Save(path, i % 2 ? a : b);
        }
        usleep(200 + rng() % 3000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ++kills;
        std::string text;
        ASSERT_TRUE(RuleFileWriter::Load(path, text));
        ASSERT_TRUE(text == "PORT2=1\r\n" || text == a || text == b)
            << "kill " << kills << " left " << text.size() << " bytes";
        seenNew += text == a || text == b;
    }
    EXPECT_GT(seenNew, 0);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace varnel
