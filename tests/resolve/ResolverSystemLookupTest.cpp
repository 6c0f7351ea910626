#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/linux/AresReverseLookup.h"
#include "platform/linux/SystemReverseLookup.h"
#include "resolve/ResolverPool.h"
#include "resolve/ResolverTestSupport.h"

namespace varnel {
namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// What this machine's resolver says for 127.0.0.1, asked directly; the address text when it has
// no name for it.
std::string DirectNameOfLoopback() {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = kLoopback;
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0) {
        return "127.0.0.1";
    }
    return host;
}

TEST(ResolverSystemLookupTest, NameInfoAgreesWithGetnameinfo) {
    SystemReverseLookup system;
    AresReverseLookup ares;
    EXPECT_TRUE(ares.Asynchronous());
    for (ReverseLookup* lookup : {static_cast<ReverseLookup*>(&system), static_cast<ReverseLookup*>(&ares)}) {
        std::string name;
        std::string direct = DirectNameOfLoopback();
        if (direct == "127.0.0.1") {
            EXPECT_FALSE(lookup->NameInfo(kLoopback, name));
        } else {
            ASSERT_TRUE(lookup->NameInfo(kLoopback, name));
            EXPECT_EQ(name, direct);
        }
    }
}

TEST(ResolverSystemLookupTest, HostByAddrAgreesWithGethostbyaddr) {
    SystemReverseLookup lookup;
    in_addr addr{};
    addr.s_addr = kLoopback;
    const hostent* entry = gethostbyaddr(&addr, sizeof addr, AF_INET);  // this thread alone asks
    std::string expected = entry && entry->h_name ? entry->h_name : "";
    std::string name;
    EXPECT_EQ(lookup.HostByAddr(kLoopback, name), !expected.empty());
    if (!expected.empty()) {
        EXPECT_EQ(name, expected);
    }
}

TEST(ResolverSystemLookupTest, LoopbackNameAppearsOnALaterPoll) {
    for (bool ares : {false, true}) {
        SCOPED_TRACE(ares ? "c-ares" : "C library");
        const std::string expected = DirectNameOfLoopback();
        std::shared_ptr<ReverseLookup> lookup;
        if (ares)
            lookup = std::make_shared<AresReverseLookup>();
        else
            lookup = std::make_shared<SystemReverseLookup>();
        ResolverPool pool(std::make_shared<HostNameCache>(), lookup);
        char buf[256];
        pool.LookupHostName("127.0.0.1", buf, sizeof buf);
        EXPECT_STREQ(buf, "(127.0.0.1)");

        std::string shown;
        for (int poll = 0; poll < 100; ++poll) {  // every 50 ms, up to 5 s
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pool.LookupHostName("127.0.0.1", buf, sizeof buf);
            shown = buf;
            if (shown != "(127.0.0.1)") break;
        }
        EXPECT_EQ(shown, expected);
        EXPECT_TRUE(testing::WaitUntil([&] { return pool.BusySlots() == 0; }));
    }
}

}  // namespace
}  // namespace varnel
