#include "platform/linux/JournalSender.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {
namespace {

TEST(JournalSenderTest, JournalStreamMustNameTheDescriptorsOwnDeviceAndInode) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    struct stat st {};
    ASSERT_EQ(fstat(p[1], &st), 0);
    const std::string own = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const int other = open("/dev/null", O_WRONLY);
    const struct {
        std::string value;
        bool out;
    } rows[] = {{own, true},           {own + "x", false},  {std::to_string(st.st_dev) + ":1", false},
                {"", false},           {"garbage", false},  {":" + std::to_string(st.st_ino), false}};
    for (const auto& r : rows) {
        const JournalSender::Streams s = JournalSender::Connected(r.value.c_str(), p[1], other);
        EXPECT_EQ(s.out, r.out) << r.value;
        EXPECT_FALSE(s.err) << r.value;
    }
    EXPECT_FALSE(JournalSender::Connected(nullptr, p[1], p[1]).out);
    close(other);
    close(p[0]);
    close(p[1]);
}

}  // namespace
}  // namespace varnel
