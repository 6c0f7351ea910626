#pragma once

// What the headless end-to-end tests share: this test's own loopback connections, and a fixture
// with a temporary configuration folder and the rule that names one such connection. Inside the
// private network namespace only (the fixture skips elsewhere).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "integration/NetnsGuard.h"

namespace varnel_test {

struct Pair {
    int server = -1, client = -1, accepted = -1;
    int serverPort = 0, clientPort = 0;
    ~Pair() {
        for (int fd : {server, client, accepted})
            if (fd >= 0) close(fd);
    }
};

inline int PortOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A connection from `from` to a new listener on `to`:`port` (any free port when 0), all loopback.
inline void Connect(Pair& p, const char* from = nullptr, const char* to = "127.0.0.1", int port = 0) {
    p.server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, to, &a.sin_addr);
    a.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(bind(p.server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(p.server, 4), 0);
    p.serverPort = PortOf(p.server);
    a.sin_port = htons(static_cast<uint16_t>(p.serverPort));
    p.client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (from != nullptr) inet_pton(AF_INET, from, &local.sin_addr);
    ASSERT_TRUE(from == nullptr || bind(p.client, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0);
    ASSERT_EQ(connect(p.client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    p.accepted = accept(p.server, nullptr, nullptr);
    ASSERT_GE(p.accepted, 0);
    p.clientPort = PortOf(p.client);
}

class HeadlessEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_PRIVATE_NETNS();
        char tmpl[] = "/tmp/varnel-headless-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
    void WriteRules(const Pair& p) {
        // Only the client end of this test's connection: its remote port is the server's.
        std::ofstream(dir + "/varnel_autoblock.txt") << "# test rule\r\nIP2=127.0.0.1,PORT2=" << p.serverPort << "\r\n";
    }
    std::string dir;
};

}  // namespace varnel_test
