#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

#include "FakeProcTree.h"
#include "platform/linux/ProcProcessList.h"

namespace varnel {
namespace {

std::map<int32_t, std::string> Collect(ProcessList& list, bool* ok = nullptr) {
    std::map<int32_t, std::string> seen;
    const bool result =
        list.Enumerate([&](int32_t pid, std::string_view name) { seen[pid] = std::string(name); });
    if (ok != nullptr) *ok = result;
    return seen;
}

TEST(ProcProcessListTest, NamesComeFromTheExeLinkElseFromComm) {
    FakeProcTree proc;
    proc.SetExe(10, "/usr/bin/firefox-esr");
    proc.SetComm(10, "firefox\n");
    proc.SetExe(11, "/opt/tool/old binary (deleted)");
    proc.SetComm(12, "kworker/0:1\n");  // no exe link: a kernel thread
    proc.SetExe(13, "plain");
    proc.AddDirectory("14");  // gone between listing and reading
    proc.AddDirectory("self");
    proc.AddDirectory("net");
    proc.AddDirectory("1x");
    ProcProcessList list(proc.root());
    bool ok = false;
    const auto seen = Collect(list, &ok);
    EXPECT_TRUE(ok);
    const std::map<int32_t, std::string> expected = {
        {10, "firefox-esr"}, {11, "old binary"}, {12, "kworker/0:1"}, {13, "plain"}};
    EXPECT_EQ(seen, expected);
}

TEST(ProcProcessListTest, UnreadableRootIsAFailure) {
    ProcProcessList list("/nonexistent-proc-root");
    int calls = 0;
    EXPECT_FALSE(list.Enumerate([&](int32_t, std::string_view) { ++calls; }));
    EXPECT_EQ(calls, 0);
}

TEST(ProcProcessListTest, TheRealListHoldsThisProgramUnderItsFileName) {
    ProcProcessList list;
    const auto seen = Collect(list);
    const auto self = seen.find(static_cast<int32_t>(getpid()));
    ASSERT_NE(self, seen.end());
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    const std::string path(exe, static_cast<size_t>(n));
    EXPECT_EQ(self->second, path.substr(path.rfind('/') + 1));
    EXPECT_NE(seen.find(1), seen.end());
}

}  // namespace
}  // namespace varnel
