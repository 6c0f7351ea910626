// The steady tick on a table of about 10,000 sockets of which half are IPv6 (20 child processes,
// 10 holding connections over 127.0.0.1 and 10 over ::1), against the bare netlink dump of both
// families, taken in turns in one run so that a busy machine bends neither figure alone. Run
// through bench/run-snapshot-bench.sh (a private network namespace, a raised open-file limit):
//   bench/run-snapshot-bench.sh build/bench/Ipv6TickBench
//
//   PairedMixed  per iteration: the bare dump (the reader's request, no filter: every IPv4 and IPv6
//                socket), a tick with ShowIPv6 off (IPv6 kept for auto kill, not shown) and a tick
//                with ShowIPv6 on; each timed on its own, allocations of the ticks counted.
// Target: each tick at most 1.5 times the dump, no allocation per connection in a steady tick.
#include <benchmark/benchmark.h>
#include <linux/netlink.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "BareDump.h"
#include "MonitorRig.h"
#include "RatioReporter.h"
#include "CountingAllocator.h"
#include "integration/NetnsGuard.h"
#include "support/LoopbackFleet.h"


namespace varnel {
namespace {

constexpr int kChildren = 20;
constexpr int kIpv6Children = 10;
constexpr int kSockets = 10000;

uint64_t Allocations() {
    return gAllocations.load(std::memory_order_relaxed);
}

void PairedMixed(benchmark::State& state) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    std::vector<uint8_t> buffer(SockDiagReader::kReceiveBufferSize);
    uint32_t seq = 0;
    uint64_t bytes = 0;
    auto hidden = std::make_unique<MonitorRig>();
    auto shown = std::make_unique<MonitorRig>();
    shown->monitor.SetShowIpv6(true);
    for (MonitorRig* rig : {hidden.get(), shown.get()}) {
        rig->monitor.Start();
        rig->monitor.Tick();  // the first tick finds every owner and process name
        rig->monitor.Tick();
    }
    double dump = 0, tickHidden = 0, tickShown = 0;
    uint64_t allocations = 0;
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (fd < 0 || !DumpOnce(fd, buffer, seq, bytes)) {
            state.SkipWithError("netlink dump");
            break;
        }
        const auto t1 = Clock::now();
        const uint64_t before = Allocations();
        hidden->monitor.Tick();
        const auto t2 = Clock::now();
        shown->monitor.Tick();
        const auto t3 = Clock::now();
        allocations += Allocations() - before;
        dump += seconds(t0, t1);
        tickHidden += seconds(t1, t2);
        tickShown += seconds(t2, t3);
    }
    if (fd >= 0) close(fd);
    const double n = static_cast<double>(state.iterations());
    size_t v6 = 0;
    for (const KeptConnection& k : hidden->monitor.kept()) v6 += k.key.v6;
    state.counters["dump_us"] = dump / n * 1e6;
    state.counters["tick_us"] = tickHidden / n * 1e6;
    state.counters["tick6_us"] = tickShown / n * 1e6;
    state.counters["tick/dump"] = dump > 0 ? tickHidden / dump : 0;
    state.counters["tick6/dump"] = dump > 0 ? tickShown / dump : 0;
    state.counters["allocs/tick"] = static_cast<double>(allocations) / n / 2;
    state.counters["kept"] = static_cast<double>(hidden->monitor.kept().size());
    state.counters["kept6"] = static_cast<double>(v6);
    state.counters["rows"] = hidden->monitor.rowCount();
    state.counters["rows6"] = shown->monitor.rowCount();
}

}  // namespace
}  // namespace varnel

int main(int argc, char** argv) {
    using varnel::kChildren;
    using varnel::kIpv6Children;
    using varnel::kSockets;
    benchmark::Initialize(&argc, argv);
    if (!InPrivateNetworkNamespace()) {
        std::fprintf(stderr,
                     "Ipv6TickBench opens thousands of connections: run it through "
                     "bench/run-snapshot-bench.sh (a private network namespace)\n");
        return 2;
    }
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    {
        const varnel::SockDiagReader reader;
        if (reader.walk() == varnel::SockDiagReader::Walk::kUndecided) {
            std::fprintf(stderr, "no netlink dump: errno %d\n", reader.lastError());
            return 1;
        }
        varnel::gPlan.walk = reader.walk();
        varnel::gPlan.filter = reader.kernelFilter();
    }
    varnel::testing::LoopbackFleet fleet;
    if (!fleet.Start(kChildren, kSockets / 2 / kChildren, kIpv6Children)) {
        std::fprintf(stderr, "cannot start the fleet: %s\n", fleet.error().c_str());
        return 1;
    }
    std::printf("== %d sockets: %zu connections (both ends), half over ::1, + %d listeners\n", kSockets,
                fleet.connectionCount(), kChildren);
    benchmark::RegisterBenchmark("PairedMixed/10000", varnel::PairedMixed)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime()
        ->Iterations(20);
    varnel::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& k = reporter.counters["PairedMixed/10000"];
    for (const auto& [label, key] : {std::pair{"tick, ShowIPv6 off / bare dump", "tick/dump"},
                                     std::pair{"tick, ShowIPv6 on / bare dump", "tick6/dump"}})
        std::printf("  %-32s %6.3f   (target <= 1.5: %s)\n", label, k[key], k[key] <= 1.5 ? "met" : "MISSED");
    std::printf(
        "  dump %.0f us, ticks %.0f / %.0f us; %.0f connections kept, %.0f of them IPv6; rows shown "
        "%.0f / %.0f; allocations per tick %.2f\n",
        k["dump_us"], k["tick_us"], k["tick6_us"], k["kept"], k["kept6"], k["rows"], k["rows6"],
        k["allocs/tick"]);
    return 0;
}
