#pragma once
// SnapshotBench's tick with auto kill on every connection: the bare dump, a steady tick and a
// steady tick with an AutoKill hooked in, taken in turns.

#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AutoKillTickRig.h"
#include "BareDump.h"
#include "InstantHostNames.h"
#include "MonitorRig.h"

namespace varnel {

// The bare dump, a steady tick and a steady tick with auto kill on, taken in turns and timed one
// by one. Two monitors on the same table, both with every host name known at once: one plain,
// one with an AutoKill hooked in that has loaded `rules` from a rule file and is switched on.
// Nothing matches, so nothing is reset. `allocationsSoFar()` gives the process's count of
// allocations; the auto-kill tick's are reported per tick.
template <typename CountAllocations>
void PairedAutoKillTick(benchmark::State& state, const std::string& rules,
                        CountAllocations allocationsSoFar) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    std::vector<uint8_t> buffer(SockDiagReader::kReceiveBufferSize);
    uint32_t seq = 0;
    uint64_t bytes = 0;
    InstantHostNames names;
    auto plain = std::make_unique<MonitorRig>();
    auto killing = std::make_unique<MonitorRig>();
    AutoKillTickRig autokill(killing->monitor, rules);
    if (!autokill.ok()) {
        state.SkipWithError("rules not loaded");
        return;
    }
    for (MonitorRig* rig : {plain.get(), killing.get()}) {
        rig->monitor.SetHostNameSource(&names);
        rig->monitor.Start();
        rig->monitor.Tick();  // every owner and process name found
        rig->monitor.Tick();
    }
    double dump = 0, tick = 0, killTick = 0;
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
        plain->monitor.Tick();
        const auto t2 = Clock::now();
        const uint64_t before = allocationsSoFar();
        killing->monitor.Tick();
        const auto t3 = Clock::now();
        allocations += allocationsSoFar() - before;
        dump += seconds(t0, t1);
        tick += seconds(t1, t2);
        killTick += seconds(t2, t3);
    }
    if (fd >= 0) close(fd);
    if (autokill.resets() != 0 || autokill.blocked() != 0) state.SkipWithError("a rule matched");
    const double n = static_cast<double>(state.iterations());
    state.counters["rules"] = autokill.rules();
    state.counters["rows"] = killing->monitor.rowCount();
    state.counters["kept"] = static_cast<double>(killing->monitor.kept().size());
    size_t halfClosed = 0;
    for (const KeptConnection& k : killing->monitor.kept()) halfClosed += IsHalfClosedState(k.state);
    state.counters["halfClosed"] = static_cast<double>(halfClosed);
    state.counters["dump_us"] = dump / n * 1e6;
    state.counters["tick_us"] = tick / n * 1e6;
    state.counters["autokill_tick_us"] = killTick / n * 1e6;
    state.counters["autokill/dump"] = dump > 0 ? killTick / dump : 0;
    state.counters["tick/dump"] = dump > 0 ? tick / dump : 0;
    state.counters["allocs/tick"] = static_cast<double>(allocations) / n;
}

}  // namespace varnel
