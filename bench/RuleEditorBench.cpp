// The rule editor's live explanation after a keystroke: RuleExplainer::Check on the whole text of
// 1,023 rules, then RuleExplainer::Count of the 599 shown rows against them, beside one tick of the
// session monitor. The explanation runs on the window's thread between ticks, so it is to cost no
// more than one tick (explain / tick <= 1).
//
//   RuleEditorBench [benchmark options]
//       ExplainAlone1023Rules    Check + Count alone, halves as counters
//       PairedExplainFakeTick    Check, Count and SessionMonitor::Tick() on a fake table of 600
//                                connections (599 shown), taken in turns
//   bench/run-snapshot-bench.sh build/bench/RuleEditorBench [benchmark options]
//       also PairedExplainKernelTick/600: the same against a tick of the machine's own table
//                                holding about 600 loopback sockets, in a private network namespace
//
// Count reads the 599 rows of the fake table's monitor in both: hosts named in several domains,
// a desktop's processes and ports. The loopback fleet's rows would all read "localhost".
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "InstantHostNames.h"
#include "MonitorRig.h"
#include "RatioReporter.h"
#include "autokill/RuleExplainer.h"
#include "integration/NetnsGuard.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/SessionMonitor.h"
#include "support/LoopbackFleet.h"

namespace varnel {
namespace {

constexpr int kRules = 1023;
constexpr int kHour = 12;

// Names hosts in a handful of domains; one remote address in nine has no name (the address itself).
class DesktopHostNames : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t outSize) override {
        static const char* const kSuffixes[] = {".example.com", ".example.net", ".example.org",
                                                ".example.co.jp", ".example.de",  ".example.jp"};
        unsigned sum = 0;
        for (const char* p = address; *p != '\0'; ++p) sum = sum * 31 + static_cast<unsigned char>(*p);
        if (sum % 9 == 0)
            std::snprintf(out, outSize, "%s", address);
        else
            std::snprintf(out, outSize, "srv%u%s", sum % 1000, kSuffixes[sum % 6]);
    }
};

struct DesktopProcess {
    uint32_t pid;
    const char* name;
    int port;  // the remote port it talks to
};
constexpr DesktopProcess kProcesses[] = {
    {1201, "firefox-esr", 443}, {1202, "firefox-esr", 80}, {1310, "thunderbird", 993},
    {1404, "ssh", 22},          {1520, "pidgin", 5222},    {1633, "syncthing", 22000},
    {1745, "chromium", 443},    {1850, "steam", 27036},    {1961, "apt-get", 80},
};
constexpr int kProcessCount = static_cast<int>(sizeof kProcesses / sizeof kProcesses[0]);

// A desktop's 600 connections on a fake table (599 shown), arrived one per 500 ms tick so their ages
// differ, every host name known at once.
struct DesktopRig {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    DesktopHostNames names;
    SessionMonitor monitor{table, processes, clock, UiLanguage::English()};
    std::vector<SessionRow> shown;

    DesktopRig() {
        for (const DesktopProcess& p : kProcesses) processes.processes[static_cast<int32_t>(p.pid)] = p.name;
        std::vector<TcpRow> all;
        for (int i = 0; i < 600; ++i) {
            const DesktopProcess& p = kProcesses[(i * 7) % kProcessCount];
            static const char* const kNets[] = {"93.184.", "151.101.", "142.250.", "52.84.", "185.199."};
            char remote[32];
            std::snprintf(remote, sizeof remote, "%s%d.%d", kNets[i % 5], (i * 13) % 250, i % 250 + 1);
            table.Add(i % 11 == 0 ? kTcpSynSent : kTcpEstablished, "192.168.1.5", 40000 + i, remote, p.port,
                      p.pid);
        }
        all = table.rows();
        monitor.SetHostNameSource(&names);
        monitor.Start();
        table.rows().clear();
        for (const TcpRow& row : all) {
            table.rows().push_back(row);
            clock.Advance(500);
            monitor.Tick();
        }
        TakeRows();
    }
    void Tick() {
        clock.Advance(500);
        monitor.Tick();
    }
    void TakeRows() {
        shown.assign(static_cast<size_t>(monitor.listCount()), SessionRow{});
        for (int i = 0; i < monitor.listCount(); ++i) shown[static_cast<size_t>(i)] = monitor.Row(i);
    }
};

// 1,023 rules as a long hand-kept file: a few ALLOW rules first, then ports, host suffixes, address
// prefixes, process names, some with a second condition or NOLOG, comments between groups. None of
// them holds for a desktop row until the last three, so every row walks the whole file: the ALLOW
// for ssh (rule 1,021), then the remote .example.de hosts on port 80 and the XMPP port 5222 are cut.
std::string RuleText() {
    std::string text =
        "# never cut the updates or the backup box\n"
        "ALLOW=1,HOST2=.updates.example.org\n"
        "ALLOW=1,IP2=192.168.1.,PORT2=445\n"
        "ALLOW=1,PID=rsync,PORT2=873\n";
    int rules = 3;
    for (int i = 0; rules < kRules - 3; ++i) {
        if (i % 100 == 0) text += "\n; group " + std::to_string(i / 100 + 1) + "\n";
        std::string rule;
        switch (i % 8) {
            case 0: rule = "PORT2=" + std::to_string(6000 + i * 3); break;
            case 1: rule = "HOST2=.tracker" + std::to_string(i) + ".example.com"; break;
            case 2: rule = "IP2=203.0." + std::to_string(i / 8) + "."; break;
            case 3: rule = "PID=miner" + std::to_string(i); break;
            case 4: rule = "HOST2=.ads" + std::to_string(i) + ".example.net,PORT2=80,NOLOG=1"; break;
            case 5: rule = "IP2=198.51." + std::to_string(i / 8) + ".,PORT2=" + std::to_string(20 + i % 50); break;
            case 6: rule = "PORT2=" + std::to_string(7000 + i) + "-" + std::to_string(7005 + i) + ",PID!=firefox"; break;
            default: rule = "HOST2=/cdn" + std::to_string(i) + "-evil/,STAT=1"; break;
        }
        text += rule + "\n";
        ++rules;
    }
    text += "# the ones that do something\nALLOW=1,PID=ssh\nHOST2=.example.de,PORT2=80\nPORT2=5222\n";
    return text;
}

// What the last three rules should do to `rows`, read off the texts without the evaluator.
struct Expected {
    int spared = 0;
    int cut = 0;
};
Expected ExpectedOutcome(const std::vector<SessionRow>& rows) {
    Expected e;
    for (const SessionRow& row : rows) {
        const std::string_view process = row[kColProcess];
        const std::string_view host = row[kColRemoteHost];
        const std::string_view port = row[kColRemotePort];
        const std::string_view de = ".example.de";
        if (process.rfind("ssh", 0) == 0)
            ++e.spared;
        else if ((host.size() >= de.size() && host.substr(host.size() - de.size()) == de && port == "80") ||
                 port == "5222")
            ++e.cut;
    }
    return e;
}

// Fails the benchmark unless the explainer read every rule and counted what the texts say.
bool Verify(benchmark::State& state, const RuleExplainer& explainer, const std::vector<SessionRow>& rows) {
    const Expected e = ExpectedOutcome(rows);
    if (explainer.ruleCount() != kRules) {
        state.SkipWithError(("rules read: " + std::to_string(explainer.ruleCount())).c_str());
        return false;
    }
    if (explainer.rowsCounted() != static_cast<int>(rows.size()) || explainer.spared() != e.spared ||
        explainer.cut() != e.cut || e.spared == 0 || e.cut == 0 || explainer.held() != 0) {
        state.SkipWithError("counts differ from the row texts");
        return false;
    }
    return true;
}

// The text after each keystroke: the file with its middle rule retyped, a new text every time (as
// typing gives), so the explainer cannot answer that line from what it saw before.
class Keystrokes {
  public:
    explicit Keystrokes(const std::string& text) {
        size_t at = 0;
        for (int line = 0; line < 520; ++line) at = text.find('\n', at) + 1;
        while (text[at] == ';' || text[at] == '\n') at = text.find('\n', at) + 1;  // a rule line
        head_ = text.substr(0, at);
        tail_ = text.substr(text.find('\n', at) + 1);
    }
    const std::string& Next() {
        text_ = head_ + "HOST2=.typing" + std::to_string(++n_) + ".example.com\n" + tail_;
        return text_;
    }

  private:
    std::string head_, tail_, text_;
    uint64_t n_ = 0;
};

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void ExplainAlone(benchmark::State& state) {
    DesktopRig desk;
    Keystrokes typing(RuleText());
    RuleExplainer explainer(UiLanguage::English());
    explainer.Check(typing.Next());  // the dialog checks the whole file once when it opens
    double check = 0, count = 0;
    for (auto _ : state) {
        const std::string& text = typing.Next();
        const auto t0 = Clock::now();
        explainer.Check(text);
        const auto t1 = Clock::now();
        explainer.Count(desk.shown, kHour);
        const auto t2 = Clock::now();
        check += Seconds(t0, t1);
        count += Seconds(t1, t2);
    }
    if (!Verify(state, explainer, desk.shown)) return;
    const double n = static_cast<double>(state.iterations());
    state.counters["rules"] = explainer.ruleCount();
    state.counters["rows"] = explainer.rowsCounted();
    state.counters["lines"] = static_cast<double>(explainer.lines().size());
    state.counters["spared"] = explainer.spared();
    state.counters["cut"] = explainer.cut();
    state.counters["check_us"] = check / n * 1e6;
    state.counters["count_us"] = count / n * 1e6;
}

// Check, Count and `tick` taken in turns and timed one by one, so the ratio does not follow the
// shared machine's load from one benchmark to the next.
template <typename Tick>
void Paired(benchmark::State& state, DesktopRig& desk, Tick&& tick) {
    Keystrokes typing(RuleText());
    RuleExplainer explainer(UiLanguage::English());
    explainer.Check(typing.Next());
    double check = 0, count = 0, ticks = 0;
    for (auto _ : state) {
        const std::string& text = typing.Next();
        const auto t0 = Clock::now();
        explainer.Check(text);
        const auto t1 = Clock::now();
        explainer.Count(desk.shown, kHour);
        const auto t2 = Clock::now();
        tick();
        const auto t3 = Clock::now();
        check += Seconds(t0, t1);
        count += Seconds(t1, t2);
        ticks += Seconds(t2, t3);
    }
    if (!Verify(state, explainer, desk.shown)) return;
    const double n = static_cast<double>(state.iterations());
    state.counters["check_us"] = check / n * 1e6;
    state.counters["count_us"] = count / n * 1e6;
    state.counters["explain_us"] = (check + count) / n * 1e6;
    state.counters["tick_us"] = ticks / n * 1e6;
    state.counters["explain/tick"] = ticks > 0 ? (check + count) / ticks : 0;
    state.counters["check/tick"] = ticks > 0 ? check / ticks : 0;
    state.counters["count/tick"] = ticks > 0 ? count / ticks : 0;
}

void PairedFakeTick(benchmark::State& state) {
    DesktopRig desk;
    Paired(state, desk, [&desk] { desk.Tick(); });
    state.counters["tick_rows"] = desk.monitor.listCount();
}

void PairedKernelTick(benchmark::State& state) {
    DesktopRig desk;
    InstantHostNames names;
    auto rig = std::make_unique<MonitorRig>();
    rig->monitor.SetHostNameSource(&names);
    rig->monitor.Start();
    rig->monitor.Tick();  // every owner and process name found: the steady tick
    rig->monitor.Tick();
    Paired(state, desk, [&rig] { rig->monitor.Tick(); });
    state.counters["tick_rows"] = rig->monitor.rowCount();
}

// The target holds against the window's real tick, which reads the kernel's table; the fake
// table's tick, without the dump, is printed for comparison.
void PrintRatios(RatioReporter& reporter, const std::string& name, const char* tick, bool target) {
    if (reporter.counters.count(name) == 0) return;
    auto& k = reporter.counters[name];
    const double ratio = k["explain/tick"];
    std::printf("  %-34s %6.3f   %s\n", ("explain / " + std::string(tick)).c_str(), ratio,
                !target ? "(for comparison)" : ratio <= 1.0 ? "(target <= 1: met)" : "(target <= 1: MISSED)");
    std::printf("    check %.0f us (%.3f of the tick), count %.0f us (%.3f), explain %.0f us, tick %.0f us\n",
                k["check_us"], k["check/tick"], k["count_us"], k["count/tick"], k["explain_us"], k["tick_us"]);
}

}  // namespace
}  // namespace varnel

int main(int argc, char** argv) {
    using namespace varnel;
    benchmark::Initialize(&argc, argv);
    auto reg = [](const char* name, void (*f)(benchmark::State&)) {
        return benchmark::RegisterBenchmark(name, f)->Unit(benchmark::kMicrosecond)->UseRealTime();
    };
    reg("ExplainAlone1023Rules", ExplainAlone);
    reg("PairedExplainFakeTick", PairedFakeTick)->Iterations(100);
    // The kernel's table needs connections that belong to nobody: only in a private namespace.
    testing::LoopbackFleet fleet;
    const bool kernel = InPrivateNetworkNamespace();
    if (kernel) {
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
        if (!fleet.Start(20, 600 / 2 / 20)) {
            std::fprintf(stderr, "cannot start the fleet: %s\n", fleet.error().c_str());
            return 1;
        }
        std::printf("Kernel table: %zu loopback connections (both ends) + 20 listeners in 20 processes\n",
                    fleet.connectionCount());
        reg("PairedExplainKernelTick/600", PairedKernelTick)->Iterations(100);
    } else {
        std::printf("Not in a private network namespace: the kernel-table tick is left out "
                    "(run through bench/run-snapshot-bench.sh for it)\n");
    }
    std::fflush(stdout);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("Rule editor, 1,023 rules, 599 rows, taken in turns with a tick:\n");
    PrintRatios(reporter, "PairedExplainFakeTick", "tick (fake table, 599 rows)", false);
    if (kernel) PrintRatios(reporter, "PairedExplainKernelTick/600", "tick (kernel table, 600 sockets)", true);
    if (reporter.counters.count("ExplainAlone1023Rules") != 0) {
        auto& k = reporter.counters["ExplainAlone1023Rules"];
        std::printf("  alone: %.0f us (check %.0f us, count %.0f us), %.0f rules, %.0f rows, %.0f exempted, "
                    "%.0f cut\n",
                    reporter.micros["ExplainAlone1023Rules"], k["check_us"], k["count_us"], k["rules"],
                    k["rows"], k["spared"], k["cut"]);
    }
    return 0;
}
