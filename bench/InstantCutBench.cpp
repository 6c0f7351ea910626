// What instant cut costs: the CPU of `varnel --headless --autokill` on an idle machine with 10,000
// loopback sockets, with instant cut on and off (--no-instant-cut), beside the bare netlink dump
// every 500 ms; and the cost per kernel event, from the same two runs while connections come and
// go on a port no rule names; and what the program would save if its tick dumped the whole table
// only every 5 s instead of every 500 ms, events judged in between either way (IdleDumpEvery).
// Needs root (the BPF program) and a private network namespace:
//   bench/run-snapshot-bench.sh build/bench/InstantCutBench
// INSTANT_CUT_BENCH_SECONDS sets each idle window (default 20 s; 60 s for the full figure).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BareDump.h"
#include "app/cli/HeadlessCommand.h"
#include "integration/NetnsGuard.h"
#include "platform/linux/KernelConnectEvents.h"
#include "platform/linux/LinuxConnectionTable.h"
#include "platform/linux/NetlinkSocketDestroy.h"
#include "platform/linux/ProcProcessList.h"
#include "platform/linux/SockDiagReader.h"
#include "platform/linux/SystemClock.h"
#include "settings/ConfigLocation.h"
#include "support/LoopbackFleet.h"

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

int Seconds() {
    const char* s = std::getenv("INSTANT_CUT_BENCH_SECONDS");
    return s != nullptr && std::atoi(s) > 0 ? std::atoi(s) : 20;
}

// User plus system CPU of a process, in seconds.
double CpuOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::vector<std::string> fields;
    size_t at = close + 2;
    while (at < text.size()) {
        const size_t end = text.find(' ', at);
        fields.push_back(text.substr(at, end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    // Fields 14 and 15 of the file (utime, stime) are 11 and 12 after the command.
    return fields.size() > 12 ? (std::stod(fields[11]) + std::stod(fields[12])) / sysconf(_SC_CLK_TCK) : 0;
}

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double SelfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string gDir;
uint16_t gQuietPort = 0;  // a listener of this program; no rule names it

pid_t StartVarnel(bool instant) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        close_range(3, ~0U, 0);
        execl(VARNEL_BINARY, VARNEL_BINARY, "--headless", "--autokill", "--no-resolve", "--config-dir", gDir.c_str(),
              instant ? static_cast<char*>(nullptr) : "--no-instant-cut", static_cast<char*>(nullptr));
        _exit(91);
    }
    return pid;
}

void StopVarnel(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// The CPU of a bare dump every 500 ms, in this process.
void IdleBareDump(benchmark::State& state) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    std::vector<uint8_t> buffer(64 * 1024);
    uint32_t seq = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        const double cpu = SelfCpu();
        int dumps = 0;
        Clock::duration dumping{};
        const auto end = Clock::now() + std::chrono::seconds(Seconds());
        for (auto next = Clock::now(); next < end; next += std::chrono::milliseconds(500)) {
            const auto start = Clock::now();
            DumpOnce(fd, buffer, seq, bytes);
            dumping += Clock::now() - start;
            ++dumps;
            std::this_thread::sleep_until(next + std::chrono::milliseconds(500));
        }
        state.counters["cpu_pct"] = (SelfCpu() - cpu) / Seconds() * 100;
        state.counters["cpu_ms_per_dump"] = (SelfCpu() - cpu) * 1000 / dumps;
        state.counters["wall_ms_per_dump"] = Millis(dumping) / dumps;
        state.SetIterationTime(Seconds());
    }
    close(fd);
}

// The program's CPU on the idle table.
void IdleHeadless(benchmark::State& state) {
    const bool instant = state.range(0) != 0;
    for (auto _ : state) {
        const pid_t pid = StartVarnel(instant);
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));  // the first tick's owner search
        const double cpu = CpuOf(pid);
        std::this_thread::sleep_for(std::chrono::seconds(Seconds()));
        state.counters["cpu_pct"] = (CpuOf(pid) - cpu) / Seconds() * 100;
        StopVarnel(pid);
        state.SetIterationTime(Seconds());
    }
}

// The headless program's loop (HeadlessCommand, instant cut on, the same rule and settings) run in
// this process with its tick every 500 ms, as shipped, or every 5,000 ms: the CPU an idle program
// would use if a tick skipped the full dump whenever no event came and a reconciling dump ran every
// 5 s. Between ticks the events are waited for and judged in both. The longer interval is set
// through the command's test hook (SetTickMs); the program itself has no such setting.
void IdleDumpEvery(benchmark::State& state) {
    const int tickMs = static_cast<int>(state.range(0));
    const ConfigLocation location({"/usr/bin/varnel", {}, {}, {}}, gDir);
    for (auto _ : state) {
        LinuxConnectionTable table;
        ProcProcessList processes;
        NetlinkSocketDestroy reset;
        SystemClock clock;
        KernelConnectEvents events;
        HeadlessCommand headless({table, processes, reset, clock, &events}, location, UiLanguage::English());
        headless.SetForceAutoKill(true);
        headless.SetTickMs(tickMs);
        std::atomic<bool> stop{false};
        std::atomic<bool> reload{false};
        std::ostringstream out;
        std::ostringstream err;
        std::thread run([&] { headless.Run(out, err, stop, reload); });
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));  // the first tick's owner search
        const double cpu = SelfCpu();
        std::this_thread::sleep_for(std::chrono::seconds(Seconds()));
        const double used = SelfCpu() - cpu;
        stop = true;
        run.join();
        if (err.str().find("instant cut on") == std::string::npos) {
            state.SkipWithError(("instant cut did not start: " + err.str()).c_str());
            return;
        }
        state.counters["cpu_pct"] = used / Seconds() * 100;
        state.counters["cpu_ms_per_s"] = used * 1000 / Seconds();
        state.SetIterationTime(Seconds());
    }
}

// The program's CPU while connections to a port no rule names come and go (closed with a reset,
// so no TIME_WAIT piles up), with the events counted by a BPF program of this bench's own.
void Churn(benchmark::State& state) {
    const bool instant = state.range(0) != 0;
    KernelConnectEvents counter;
    std::string reason;
    if (!counter.Open(reason)) {
        state.SkipWithError(("no kernel events: " + reason).c_str());
        return;
    }
    const sockaddr_in to{AF_INET, htons(gQuietPort), {htonl(INADDR_LOOPBACK)}, {}};
    constexpr int kSeconds = 10;
    constexpr int kPerSecond = 1000;
    for (auto _ : state) {
        const pid_t pid = StartVarnel(instant);
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        const double cpu = CpuOf(pid);
        uint64_t events = 0;
        const auto start = Clock::now();
        for (int i = 0; i < kSeconds * kPerSecond; ++i) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(i * (1000000 / kPerSecond)));
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
                const linger hard{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
            close(fd);
            events += counter.Drain([](const ConnectEvent&) {});
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        events += counter.Drain([](const ConnectEvent&) {});
        const double used = CpuOf(pid) - cpu;
        StopVarnel(pid);
        state.counters["cpu_pct"] = used / (Millis(Clock::now() - start) / 1000) * 100;
        state.counters["events"] = static_cast<double>(events);
        state.counters["us_per_event"] = used * 1e6 / static_cast<double>(events);
        state.SetIterationTime(kSeconds);
    }
}

}  // namespace
}  // namespace varnel

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!InPrivateNetworkNamespace() || getuid() != 0) {
        std::fprintf(stderr, "InstantCutBench loads a BPF program and opens thousands of connections: run it as "
                             "root through bench/run-snapshot-bench.sh (a private network namespace)\n");
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
    }
    char tmpl[] = "/tmp/varnel-instant-bench-XXXXXX";
    varnel::gDir = mkdtemp(tmpl);
    // One rule, on a port nothing uses: the kill pass and instant cut judge, and cut nothing.
    std::ofstream(varnel::gDir + "/varnel_autoblock.txt") << "PORT2=9\n";
    std::ofstream(varnel::gDir + "/varnel.ini") << "[Session]\nBlockedLog=0\n";

    varnel::testing::LoopbackFleet fleet;
    if (!fleet.Start(10, 500)) {
        std::fprintf(stderr, "fleet: %s\n", fleet.error().c_str());
        return 1;
    }
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any);
    listen(listener, 65535);
    socklen_t len = sizeof any;
    getsockname(listener, reinterpret_cast<sockaddr*>(&any), &len);
    varnel::gQuietPort = ntohs(any.sin_port);
    std::thread acceptor([listener] {
        for (;;) {
            const int fd = accept(listener, nullptr, nullptr);
            if (fd < 0) return;
            close(fd);
        }
    });
    acceptor.detach();
    std::printf("10,000 idle sockets (5,000 loopback connections in 10 processes); idle windows of %d s\n",
                varnel::Seconds());

    benchmark::RegisterBenchmark("IdleBareDump", varnel::IdleBareDump)->Iterations(1)->UseManualTime();
    benchmark::RegisterBenchmark("IdleHeadless/instant_cut", varnel::IdleHeadless)
        ->Arg(0)->Arg(1)->Iterations(1)->UseManualTime();
    benchmark::RegisterBenchmark("IdleDumpEvery/ms", varnel::IdleDumpEvery)
        ->Arg(500)->Arg(5000)->Iterations(1)->UseManualTime();
    benchmark::RegisterBenchmark("Churn1000PerSecond/instant_cut", varnel::Churn)
        ->Arg(0)->Arg(1)->Iterations(1)->UseManualTime();
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(varnel::gDir);
    return 0;
}
