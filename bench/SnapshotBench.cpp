// The cost of one poll of the connection table with many sockets, against the kernel's own dump
// and against `ss -tanp`. Run through bench/run-snapshot-bench.sh: it needs a private network
// namespace (it opens thousands of loopback connections) and a raised open-file limit.
//
// For each table size (about 10,000 and about 600 sockets, held by 20 child processes):
//   BareDump       the netlink dump requests the reader sends, answered and received, nothing parsed
//   BareDumpPerFamily the same with one request per family (the reader's fallback: two walks)
//   ExtendedTable  LinuxConnectionTable::GetExtendedTcpTable in a steady table (rows with PIDs)
//   FromStackTable the same from /proc/net/tcp(6)
//   ColdOwners     the first read of a fresh table: every socket's owner searched in /proc
//   SteadyTick     one SessionMonitor tick (snapshot with PIDs, sort, 599 row texts)
//   ChurnTick      the same while one process opens 10 connections and closes 10 per tick
//   ChurnSpread    the same with the churn moving to another process at every tick
//   SsTanp         `ss -tanp` run (spawned) on the same table, output to /dev/null
//   PairedSteady   BareDump, SteadyTick and SsTanp taken in turns, for ratios drift cannot bend
//   PairedChurn    the same with ChurnTick
//   PairedKillPass BareDump and the auto-kill pass (599 rows, 1,023 rules, none matching) in
//                  turns: the first pass of a freshly loaded rule set, then a second pass
//   PairedAutoKillTick20Rules   BareDump, a steady tick, and a steady tick with auto kill on
//                  (AutoKill hooked in, 20 typical rules from a rule file, none matching) in turns
//   PairedAutoKillTick1023Rules the same with the 1,023 rules of PairedKillPass
//   PairedMetricsTick  BareDump, a steady tick, and a steady tick with the metrics of
//                  --metrics-file on (observed every tick, rendered and written every 20th) in turns
// Allocations are counted by the replaced global operator new and reported per iteration.
// SNAPSHOT_BENCH_SOCKETS=N takes one table size only; SNAPSHOT_BENCH_HALF_CLOSED=1 makes half of the
// children half-close their connections (half of the sockets in FIN-WAIT-2 and CLOSE-WAIT).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "BareDump.h"
#include "KillPassWorkload.h"
#include "MonitorRig.h"
#include "PairedAutoKillTick.h"
#include "RatioReporter.h"
#include "settings/UiLanguage.h"
#include "autokill/RuleEvaluator.h"
#include "autokill/RuleFileParser.h"
#include "CountingAllocator.h"
#include "integration/NetnsGuard.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/SockDiagReader.h"
#include "report/MetricsFileWriter.h"
#include "report/MetricsRegistry.h"
#include "session/SessionMonitor.h"
#include "support/LoopbackFleet.h"


namespace varnel {
namespace {

using testing::LoopbackFleet;

constexpr int kChildren = 20;
// SNAPSHOT_BENCH_HALF_CLOSED=1: half of the children half-close every connection they hold, so
// that half of the sockets are half-closed (FIN-WAIT-2 and CLOSE-WAIT): not shown, kept for auto kill.
bool gHalfClosed = false;
constexpr uint32_t kChurnPerTick = 10;

uint64_t Allocations() {
    return gAllocations.load(std::memory_order_relaxed);
}

void BareDump(benchmark::State& state, SockDiagReader::Walk walk) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) {
        state.SkipWithError("netlink socket");
        return;
    }
    std::vector<uint8_t> buffer(SockDiagReader::kReceiveBufferSize);
    uint32_t seq = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        if (!DumpOnce(fd, buffer, seq, bytes, walk)) {
            state.SkipWithError("recv");
            break;
        }
    }
    close(fd);
    state.counters["bytes"] =
        benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}

void ReadTable(benchmark::State& state, bool extended) {
    LinuxConnectionTable table;
    std::vector<TcpRow> rows;
    auto read = [&] {
        return extended ? table.GetExtendedTcpTable(rows) : table.GetTcpExTableFromStack(rows);
    };
    if (!read() || !read()) {
        state.SkipWithError("table read failed");
        return;
    }
    const uint64_t searches = table.ownerStats().searches;
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = Allocations();
        benchmark::DoNotOptimize(read());
        allocations += Allocations() - before;
    }
    state.counters["rows"] = static_cast<double>(rows.size());
    state.counters["allocs/iter"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
    state.counters["searches"] = static_cast<double>(table.ownerStats().searches - searches);
}

void ColdOwners(benchmark::State& state) {
    uint64_t links = 0;
    uint64_t processes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto table = std::make_unique<LinuxConnectionTable>();
        std::vector<TcpRow> rows;
        rows.reserve(16384);
        state.ResumeTiming();
        table->GetExtendedTcpTable(rows);
        state.PauseTiming();
        links += table->ownerStats().linksRead;
        processes += table->ownerStats().processesRead;
        table.reset();
        state.ResumeTiming();
    }
    state.counters["links"] =
        benchmark::Counter(static_cast<double>(links), benchmark::Counter::kAvgIterations);
    state.counters["processes"] =
        benchmark::Counter(static_cast<double>(processes), benchmark::Counter::kAvgIterations);
}

// churn: 0 none, 1 one process, 2 moving from process to process.
void Tick(benchmark::State& state, LoopbackFleet& fleet, int churn) {
    auto rig = std::make_unique<MonitorRig>();
    rig->monitor.Start();
    rig->monitor.Tick();  // the first tick finds every owner and every process name
    rig->monitor.Tick();
    // One churn before timing, so the churning process is a recent owner as it is in a running
    // monitor; the first churn after a cold start is what ColdOwners and ChurnSpread show.
    if (churn == 1) {
        if (!fleet.Churn(0, kChurnPerTick)) {
            state.SkipWithError(fleet.error().c_str());
            return;
        }
        rig->monitor.Tick();
    }
    const uint64_t searches = rig->table.ownerStats().searches;
    const uint64_t links = rig->table.ownerStats().linksRead;
    uint64_t allocations = 0;
    size_t next = 0;
    for (auto _ : state) {
        if (churn != 0) {
            state.PauseTiming();
            if (!fleet.Churn(churn == 1 ? 0 : next++ % fleet.children().size(), kChurnPerTick)) {
                state.SkipWithError(fleet.error().c_str());
                break;
            }
            state.ResumeTiming();
        }
        const uint64_t before = Allocations();
        rig->monitor.Tick();
        allocations += Allocations() - before;
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["rows"] = rig->monitor.rowCount();
    state.counters["allocs/tick"] = static_cast<double>(allocations) / iterations;
    state.counters["searches/tick"] =
        static_cast<double>(rig->table.ownerStats().searches - searches) / iterations;
    state.counters["links/tick"] =
        static_cast<double>(rig->table.ownerStats().linksRead - links) / iterations;
}

// Runs `ss -tanp` once with its output thrown away; false when it fails. posix_spawn (a vfork and
// exec) rather than fork: a fork would make every page of this process copy-on-write, and the
// next tick would pay a page fault per page it writes, which is no cost of the tick.
bool RunSs() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    char ss[] = "ss";
    char options[] = "-tanp";
    char* argv[] = {ss, options, nullptr};
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, "ss", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void SsTanp(benchmark::State& state) {
    for (auto _ : state) {
        if (!RunSs()) {
            state.SkipWithError("ss -tanp failed");
            break;
        }
    }
}

// The bare dump, a tick and `ss -tanp` taken in turns and timed one by one, so that their ratios
// are not bent by the machine getting faster or slower between separate benchmarks (other work
// on a small shared machine moves single figures by a factor of two). With `churn`, one process
// opens and closes kChurnPerTick connections before each tick.
void Paired(benchmark::State& state, LoopbackFleet& fleet, bool churn) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    std::vector<uint8_t> buffer(SockDiagReader::kReceiveBufferSize);
    uint32_t seq = 0;
    uint64_t bytes = 0;
    auto rig = std::make_unique<MonitorRig>();
    rig->monitor.Start();
    rig->monitor.Tick();
    if (churn && fleet.Churn(0, kChurnPerTick)) rig->monitor.Tick();  // the churner becomes a recent owner
    rig->monitor.Tick();
    double dump = 0, tick = 0, ss = 0;
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    for (auto _ : state) {
        if (churn && !fleet.Churn(0, kChurnPerTick)) {
            state.SkipWithError(fleet.error().c_str());
            break;
        }
        const auto t0 = Clock::now();
        if (fd < 0 || !DumpOnce(fd, buffer, seq, bytes)) {
            state.SkipWithError("netlink dump");
            break;
        }
        const auto t1 = Clock::now();
        rig->monitor.Tick();
        const auto t2 = Clock::now();
        if (!RunSs()) {
            state.SkipWithError("ss -tanp failed");
            break;
        }
        const auto t3 = Clock::now();
        dump += seconds(t0, t1);
        tick += seconds(t1, t2);
        ss += seconds(t2, t3);
    }
    if (fd >= 0) close(fd);
    const double n = static_cast<double>(state.iterations());
    state.counters["dump_us"] = dump / n * 1e6;
    state.counters["tick_us"] = tick / n * 1e6;
    state.counters["ss_us"] = ss / n * 1e6;
    state.counters["tick/dump"] = dump > 0 ? tick / dump : 0;
    state.counters["tick/ss"] = ss > 0 ? tick / ss : 0;
}

// The bare dump, a steady tick, and a steady tick with the metrics on, in turns: the tick as
// `--headless --metrics-file` runs it, the registry's observation of the tick (connections by family,
// the duration histogram) and, at every 20th tick (10 s of 500 ms ticks), the rendering of the
// metrics and their atomic write to a file, so that the write's cost is spread as in a real run.
void PairedMetricsTick(benchmark::State& state) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    std::vector<uint8_t> buffer(SockDiagReader::kReceiveBufferSize);
    uint32_t seq = 0;
    uint64_t bytes = 0;
    auto rig = std::make_unique<MonitorRig>();
    rig->monitor.Start();
    rig->monitor.Tick();
    rig->monitor.Tick();
    // The service writes into its runtime folder, /run/varnel, on tmpfs: so does this, on /dev/shm.
    char folder[] = "/dev/shm/varnel-metrics-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    MetricsRegistry metrics("bench");
    MetricsFileWriter file(std::string(folder) + "/varnel.prom");
    constexpr int kTicksPerWrite = MetricsFileWriter::kIntervalSeconds * 1000 / SessionMonitor::kTickMs;
    double dump = 0, tick = 0, withMetrics = 0, metricsWork = 0;
    int writes = 0;
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    int iteration = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (fd < 0 || !DumpOnce(fd, buffer, seq, bytes)) {
            state.SkipWithError("netlink dump");
            break;
        }
        const auto t1 = Clock::now();
        // The two ticks take turns at going first, so that neither gains from the other's warm caches.
        double plain = 0, metered = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const auto a = Clock::now();
            rig->monitor.Tick();
            if ((turn == 0) == (iteration % 2 == 0)) {
                plain = seconds(a, Clock::now());
                continue;
            }
            const auto ticked = Clock::now();
            metrics.ObserveTick(rig->monitor, 0, seconds(a, ticked), 1.0);
            if (iteration % kTicksPerWrite == 0) {
                metrics.CountConnections(rig->monitor);
                if (!file.Write(metrics.Render(), Clock::now()).empty()) state.SkipWithError("metrics file");
                ++writes;
            }
            metered = seconds(a, Clock::now());
            metricsWork += seconds(ticked, Clock::now());
        }
        ++iteration;
        dump += seconds(t0, t1);
        tick += plain;
        withMetrics += metered;
    }
    if (fd >= 0) close(fd);
    std::string remove = std::string("rm -rf ") + folder;
    if (std::system(remove.c_str()) != 0) std::perror("rm");
    const double n = static_cast<double>(state.iterations());
    state.counters["dump_us"] = dump / n * 1e6;
    state.counters["tick_us"] = tick / n * 1e6;
    state.counters["metrics_tick_us"] = withMetrics / n * 1e6;
    state.counters["writes"] = writes;
    state.counters["tick/dump"] = dump > 0 ? tick / dump : 0;
    state.counters["metrics/dump"] = dump > 0 ? withMetrics / dump : 0;
    state.counters["metrics/tick"] = tick > 0 ? withMetrics / tick : 0;
    state.counters["metrics_work_us"] = metricsWork / n * 1e6;
    state.counters["work/tick"] = tick > 0 ? metricsWork / tick : 0;
}

// The bare dump and the auto-kill pass taken in turns and timed one by one: each iteration loads
// the rule set afresh (not timed, as a rule load is no part of a tick), then times the first pass
// over the rows, which sees every process text for the first time, and a second pass.
void PairedKillPass(benchmark::State& state) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    std::vector<uint8_t> buffer(SockDiagReader::kReceiveBufferSize);
    uint32_t seq = 0;
    uint64_t bytes = 0;
    const killpass::Rows rows = killpass::MakeRows();
    AutoKillRuleSet rules;
    RuleFileParser::Parse(killpass::NoMatchRules(), rules);
    double dump = 0, first = 0, again = 0;
    int killed = 0;
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    for (auto _ : state) {
        auto evaluator = std::make_unique<RuleEvaluator>(rules, UiLanguage::English());
        const auto t0 = Clock::now();
        if (fd < 0 || !DumpOnce(fd, buffer, seq, bytes)) {
            state.SkipWithError("netlink dump");
            break;
        }
        const auto t1 = Clock::now();
        for (const RowTexts& row : rows.rows) killed += evaluator->Evaluate(row, 12).verdict;
        const auto t2 = Clock::now();
        for (const RowTexts& row : rows.rows) killed += evaluator->Evaluate(row, 12).verdict;
        const auto t3 = Clock::now();
        benchmark::DoNotOptimize(killed);
        dump += seconds(t0, t1);
        first += seconds(t1, t2);
        again += seconds(t2, t3);
    }
    if (fd >= 0) close(fd);
    if (killed != 0) state.SkipWithError("a rule matched");
    const double n = static_cast<double>(state.iterations());
    state.counters["rules"] = rules.count();
    state.counters["dump_us"] = dump / n * 1e6;
    state.counters["first_us"] = first / n * 1e6;
    state.counters["again_us"] = again / n * 1e6;
    state.counters["first/dump"] = dump > 0 ? first / dump : 0;
    state.counters["again/dump"] = dump > 0 ? again / dump : 0;
}

void PrintRatio(const RatioReporter& r, const std::string& label, const std::string& a, const std::string& b,
                double target) {
    const auto x = r.micros.find(a);
    const auto y = r.micros.find(b);
    if (x == r.micros.end() || y == r.micros.end() || y->second <= 0) return;
    const double ratio = x->second / y->second;
    std::printf("  %-32s %8.3f   (target <= %.3f: %s)\n", label.c_str(), ratio, target,
                ratio <= target ? "met" : "MISSED");
}

benchmark::internal::Benchmark* Register(const std::string& name, std::function<void(benchmark::State&)> f) {
    return benchmark::RegisterBenchmark(name.c_str(), [f](benchmark::State& s) { f(s); })
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
}

int RunSize(int sockets) {
    const int pairsPerChild = sockets / 2 / kChildren;
    LoopbackFleet fleet;
    if (!fleet.Start(kChildren, pairsPerChild, 0, gHalfClosed ? kChildren / 2 : 0)) {
        std::fprintf(stderr, "cannot start the fleet: %s\n", fleet.error().c_str());
        return 1;
    }
    const std::string n = "/" + std::to_string(sockets);
    std::printf("\n== %d sockets: %zu connections (both ends) + %d listeners in %d processes%s\n", sockets,
                fleet.connectionCount(), kChildren, kChildren,
                gHalfClosed ? "; the connections of half of them half-closed" : "");
    std::fflush(stdout);
    Register("BareDump" + n, [](benchmark::State& s) { BareDump(s, gPlan.walk); });
    if (gPlan.walk == SockDiagReader::Walk::kSingle)
        Register("BareDumpPerFamily" + n,
                 [](benchmark::State& s) { BareDump(s, SockDiagReader::Walk::kPerFamily); });
    Register("ExtendedTable" + n, [](benchmark::State& s) { ReadTable(s, true); });
    Register("FromStackTable" + n, [](benchmark::State& s) { ReadTable(s, false); });
    Register("ColdOwners" + n, ColdOwners)->Iterations(5);
    Register("SteadyTick" + n, [&fleet](benchmark::State& s) { Tick(s, fleet, 0); });
    Register("ChurnTick" + n, [&fleet](benchmark::State& s) { Tick(s, fleet, 1); });
    Register("ChurnSpread" + n, [&fleet](benchmark::State& s) { Tick(s, fleet, 2); });
    Register("SsTanp" + n, SsTanp);
    Register("PairedSteady" + n, [&fleet](benchmark::State& s) { Paired(s, fleet, false); })->Iterations(20);
    Register("PairedChurn" + n, [&fleet](benchmark::State& s) { Paired(s, fleet, true); })->Iterations(20);
    Register("PairedKillPass" + n, PairedKillPass)->Iterations(50);
    Register("PairedAutoKillTick20Rules" + n, [](benchmark::State& s) {
        PairedAutoKillTick(s, killpass::TypicalRules(), Allocations);
    })->Iterations(20);
    Register("PairedAutoKillTick1023Rules" + n, [](benchmark::State& s) {
        PairedAutoKillTick(s, killpass::NoMatchRules(), Allocations);
    })->Iterations(20);
    Register("PairedMetricsTick" + n, PairedMetricsTick)->Iterations(100);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::ClearRegisteredBenchmarks();
    std::printf("Ratios, %d sockets, taken in turns (PairedSteady, PairedChurn):\n", sockets);
    auto paired = [&](const char* label, const std::string& name, const char* key, double target) {
        if (reporter.counters.count(name) == 0) return;
        const double ratio = reporter.counters[name][key];
        std::printf("  %-32s %8.3f   (target <= %.3f: %s)\n", label, ratio, target,
                    ratio <= target ? "met" : "MISSED");
    };
    paired("(b) steady tick / (d) ss -tanp", "PairedSteady" + n, "tick/ss", 1.0 / 8);
    paired("(b) steady tick / (a) bare dump", "PairedSteady" + n, "tick/dump", 1.5);
    paired("(c) churn tick / (d) ss -tanp", "PairedChurn" + n, "tick/ss", 1.0 / 3);
    std::printf("Kill pass, %d sockets, taken in turns with the bare dump (PairedKillPass):\n", sockets);
    if (sockets >= 10000) {
        paired("first kill pass / (a) bare dump", "PairedKillPass" + n, "first/dump", 1.0);
    } else if (reporter.counters.count("PairedKillPass" + n) != 0) {
        std::printf("  %-32s %8.3f   (the target is for 10,000 sockets)\n", "first kill pass / (a) bare dump",
                    reporter.counters["PairedKillPass" + n]["first/dump"]);
    }
    if (reporter.counters.count("PairedKillPass" + n) != 0) {
        auto& k = reporter.counters["PairedKillPass" + n];
        std::printf("  %-32s %8.3f   (dump %.0f us, first pass %.0f us, second pass %.0f us)\n",
                    "second kill pass / (a) bare dump", k["again/dump"], k["dump_us"], k["first_us"],
                    k["again_us"]);
    }
    if (reporter.counters.count("PairedMetricsTick" + n) != 0) {
        auto& k = reporter.counters["PairedMetricsTick" + n];
        std::printf("Metrics on, %d sockets, taken in turns with the bare dump (PairedMetricsTick):\n", sockets);
        std::printf("  %-32s %8.3f   (dump %.0f us, tick %.0f us, with metrics %.0f us, %.0f writes)\n",
                    "steady tick / (a) bare dump", k["tick/dump"], k["dump_us"], k["tick_us"], k["metrics_tick_us"],
                    k["writes"]);
        std::printf("  %-32s %8.3f\n", "tick with metrics / (a) bare dump", k["metrics/dump"]);
        const double over = k["metrics/tick"];
        std::printf("  %-32s %8.3f   (target <= 1.020: %s)\n", "tick with metrics / steady tick", over,
                    over <= 1.02 ? "met" : "MISSED");
        std::printf("  %-32s %8.4f   (%.1f us a tick: the observation, and the write every 20th tick)\n",
                    "metrics work alone / steady tick", k["work/tick"], k["metrics_work_us"]);
    }
    std::printf(
        "Tick with auto kill on, %d sockets, taken in turns with the bare dump (PairedAutoKillTick):\n",
        sockets);
    for (const auto& [label, name, target] :
         {std::tuple{"(a) 20 typical rules", "PairedAutoKillTick20Rules", 1.3},
          std::tuple{"(b) 1,023 rules", "PairedAutoKillTick1023Rules", 2.0}}) {
        if (reporter.counters.count(name + n) == 0) continue;
        auto& k = reporter.counters[name + n];
        const double ratio = k["autokill/dump"];
        char verdict[64];
        if (sockets >= 10000)
            std::snprintf(verdict, sizeof verdict, "target <= %.1f: %s", target,
                          ratio <= target ? "met" : "MISSED");
        else
            std::snprintf(verdict, sizeof verdict, "the target is for 10,000 sockets");
        std::printf(
            "  %-32s %8.3f   (%s; dump %.0f us, tick %.0f us (%.3f of the dump), tick with auto kill "
            "%.0f us; allocations per tick %.2f; %.0f connections kept, %.0f of them half-closed, %.0f rows "
            "shown)\n",
            label, ratio, verdict, k["dump_us"], k["tick_us"], k["tick/dump"], k["autokill_tick_us"],
            k["allocs/tick"], k["kept"], k["halfClosed"], k["rows"]);
    }
    std::printf("Ratios, %d sockets, from the separate benchmarks:\n", sockets);
    PrintRatio(reporter, "(b) steady tick / (d) ss -tanp", "SteadyTick" + n, "SsTanp" + n, 1.0 / 8);
    PrintRatio(reporter, "(b) steady tick / (a) bare dump", "SteadyTick" + n, "BareDump" + n, 1.5);
    PrintRatio(reporter, "(c) churn tick / (d) ss -tanp", "ChurnTick" + n, "SsTanp" + n, 1.0 / 3);
    PrintRatio(reporter, "    churn spread / (d) ss -tanp", "ChurnSpread" + n, "SsTanp" + n, 1.0 / 3);
    PrintRatio(reporter, "    extended table / bare dump", "ExtendedTable" + n, "BareDump" + n, 1.5);
    const auto one = reporter.micros.find("BareDump" + n);
    const auto two = reporter.micros.find("BareDumpPerFamily" + n);
    if (one != reporter.micros.end() && two != reporter.micros.end() && two->second > 0)
        std::printf("  bare dump: single walk %.0f us, per family (two walks) %.0f us, %.2f of it\n",
                    one->second, two->second, one->second / two->second);
    const auto cold = reporter.micros.find("ColdOwners" + n);
    if (cold != reporter.micros.end()) {
        const double links = reporter.counters["ColdOwners" + n]["links"];
        std::printf("  first read (every owner searched): %.0f us, %.0f fd links, %.2f us per link\n",
                    cold->second, links, links > 0 ? cold->second / links : 0.0);
    }
    for (const char* tick : {"SteadyTick", "ChurnTick", "ChurnSpread"}) {
        auto& c = reporter.counters[tick + n];
        std::printf("  %-12s allocations per tick %.2f, fd links read per tick %.0f, rows %.0f\n", tick,
                    c["allocs/tick"], c["links/tick"], c["rows"]);
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace
}  // namespace varnel

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!InPrivateNetworkNamespace()) {
        std::fprintf(stderr,
                     "SnapshotBench opens thousands of connections: run it through "
                     "bench/run-snapshot-bench.sh (a private network namespace)\n");
        return 2;
    }
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    {
        const varnel::SockDiagReader reader;
        varnel::gPlan.walk = reader.walk();
        varnel::gPlan.filter = reader.kernelFilter();
        if (reader.walk() == varnel::SockDiagReader::Walk::kUndecided) {
            std::fprintf(stderr, "no netlink dump: errno %d\n", reader.lastError());
            return 1;
        }
        std::printf("Dump requests: %s, IPv4-mapped filter %s\n",
                    reader.walk() == varnel::SockDiagReader::Walk::kSingle ? "one walk for both families"
                                                                           : "one per family",
                    reader.kernelFilter() ? "in the kernel" : "none (every IPv6 socket is a row)");
    }
    varnel::gHalfClosed = std::getenv("SNAPSHOT_BENCH_HALF_CLOSED") != nullptr &&
                          std::atoi(std::getenv("SNAPSHOT_BENCH_HALF_CLOSED")) != 0;
    std::vector<int> sizes = {10000, 600};
    if (const char* only = std::getenv("SNAPSHOT_BENCH_SOCKETS")) sizes = {std::atoi(only)};
    for (int sockets : sizes)
        if (varnel::RunSize(sockets) != 0) return 1;
    return 0;
}
