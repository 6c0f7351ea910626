// One hour of monitoring in fast forward: 7,200 ticks of 500 ms on a full table with connections
// closing and opening at every tick, auto kill cutting some and failing on others, through the real
// page and its list. Memory in use after the hour must be where it was after the first minute.
#include <gtest/gtest.h>
#include <malloc.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QTimer>
#include <cstdint>
#include <cstdio>

#include "gui/PageTestSupport.h"

namespace varnel {
namespace {

using test::PageHarness;

// Names some addresses and leaves the rest pending, as a resolver part-way through would.
class SomeHostNames : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t outSize) override {
        unsigned a = 0, b = 0, c = 0, d = 0;
        std::sscanf(address, "%u.%u.%u.%u", &a, &b, &c, &d);
        if (d % 3 == 0)
            std::snprintf(out, outSize, "(%s)", address);
        else
            std::snprintf(out, outSize, "host%u-%u.example%s", c, d, d % 2 ? ".com" : ".co.jp");
    }
};

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;  // the sanitizer's heap is invisible to mallinfo2
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif
#else
constexpr bool kOwnAllocator = false;
#endif

TEST(LongRunMemoryTest, AnHourOfTicksWithChurnDoesNotGrowTheHeap) {
    if (kOwnAllocator) GTEST_SKIP() << "heap figures come from glibc's allocator, which a sanitizer replaces";
    PageHarness h;
    h.WriteRules("PORT2=8080\nPORT2=8443,NOLOG=1\n");
    h.settings.WriteInt("Session", "AutoBlock", 1);
    h.settings.WriteInt("Session", "AutoBlockLogView", 1);
    h.settings.WriteInt("Session", "ResetMaxConnections", 10);
    SomeHostNames names;
    MonitorPlatform platform{h.table, h.processes, h.reset, h.clock, &names, [] {}};
    SessionMonitorPage page(platform, h.settings, h.RulePath(), h.dir.path().toStdString(),
                            UiLanguage::English());
    page.SetWarn([](const QString&) {});
    page.resize(1024, 700);
    page.show();
    page.StartStop();
    page.timer()->stop();  // the test ticks; the event loop below must not add ticks of its own

    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    int nextPort = 20000;
    auto open = [&] {
        const uint32_t r = next();
        const int remotePort = (r >> 8) % 16 == 0 ? 8080 : ((r >> 8) % 16 == 1 ? 8443 : 443);
        char remote[32];
        std::snprintf(remote, sizeof remote, "203.0.%u.%u", (r >> 16) % 200, (r >> 24) % 250 + 1);
        h.table.Add((r & 1) ? kTcpEstablished : kTcpSynSent, "192.168.1.5", nextPort, remote, remotePort,
                    (r >> 4) % 2 ? 77 : 88);
        nextPort = nextPort >= 60000 ? 20000 : nextPort + 1;
    };
    for (int i = 0; i < 605; ++i) open();

    size_t afterFirstMinute = 0;
    for (int tick = 1; tick <= 7200; ++tick) {
        // Churn: five connections close, five open; every fourth tick the kernel refuses resets.
        for (int k = 0; k < 5; ++k) {
            auto& rows = h.table.rows();
            rows.erase(rows.begin() + static_cast<long>(next() % rows.size()));
            open();
        }
        h.reset.answer = tick % 4 == 0 ? ResetResult{ResetStatus::kPermissionDenied, EPERM}
                                       : ResetResult{ResetStatus::kOk, 0};
        h.reset.calls.clear();
        h.clock.Advance(500);
        page.OnMonitorTick();
        // What the event loop does between two ticks: posted events and deferred deletions.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        if (tick % 60 == 0) page.grab();  // paint the list and the pane now and then
        if (tick == 120) {
            malloc_trim(0);
            afterFirstMinute = HeapInUse();
        }
    }
    malloc_trim(0);
    const size_t afterHour = HeapInUse();

    // The run did what it is meant to exercise.
    EXPECT_GT(page.autoKill().blockedCount(), 0u);
    EXPECT_FALSE(page.logPane()->toPlainText().isEmpty());
    EXPECT_EQ(page.model().rowCount(), 599);

    const long long growth = static_cast<long long>(afterHour) - static_cast<long long>(afterFirstMinute);
    RecordProperty("heap_after_minute", std::to_string(afterFirstMinute));
    RecordProperty("heap_after_hour", std::to_string(afterHour));
    std::printf("heap in use: after 1 min %zu bytes, after 60 min %zu bytes (%+lld)\n", afterFirstMinute,
                afterHour, growth);
    EXPECT_LE(growth, 1 << 20) << "the heap grew by " << growth << " bytes over the hour";
}

}  // namespace
}  // namespace varnel
