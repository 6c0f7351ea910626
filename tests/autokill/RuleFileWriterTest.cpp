#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
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

    ASSERT_TRUE(RuleFileWriter::Save(path, "HOST2=old\n"));
    ASSERT_EQ(::chmod(dir.c_str(), 0500), 0);
    const bool refused = !RuleFileWriter::Save(path, "HOST2=new\n", &error);
    ::chmod(dir.c_str(), 0700);
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    EXPECT_TRUE(refused);
    EXPECT_EQ(Read(), "HOST2=old\n");
    EXPECT_EQ(Entries(), 1u);
}

}  // namespace
}  // namespace varnel
