#include "report/JournalEventSink.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "platform/linux/JournalSender.h"
#include "report/StreamEventSink.h"

namespace varnel {
namespace {

// Only the stream the journal holds is sent there; the other, and an entry the journal refuses,
// are printed as without it.
TEST(JournalEventSinkTest, OnlyTheJournalsStreamGoesThereAndARefusalFallsBackToText) {
    std::ostringstream out, err;
    StreamEventSink text(OutputFormat::kText, out, err);
    std::vector<std::vector<std::string>> sent;
    bool accept = true;
    JournalEventSink sink(text, true, false, [&](const std::vector<std::string>& fields) {
        sent.push_back(fields);
        return accept;
    });
    MonitorEvent cut;
    cut.message = "BLOCKED [x]";
    cut.ruleLine = 4;
    cut.local = "[::1]:5";
    cut.process = "a=b";
    cut.pid = 9;
    sink.Tell(cut);
    MonitorEvent loaded;
    loaded.kind = MonitorEvent::Kind::kRulesLoaded;
    loaded.message = "monitoring";
    sink.Tell(loaded);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::vector<std::string>{"MESSAGE=BLOCKED [x]", "PRIORITY=5", "SYSLOG_IDENTIFIER=varnel",
                                                 "VARNEL_EVENT=blocked", "VARNEL_RULE_LINE=4",
                                                 "VARNEL_LOCAL=[::1]:5", "VARNEL_PROCESS=a=b", "VARNEL_PID=9"}));
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "varnel: monitoring\n");
    accept = false;
    sink.Tell(cut);
    EXPECT_EQ(out.str(), "BLOCKED [x]\n");
}

TEST(JournalEventSinkTest, JournalStreamMustNameTheDescriptorsOwnDeviceAndInode) {
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
