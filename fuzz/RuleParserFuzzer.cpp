// Rule file parser: any bytes must parse without fault into a set that keeps its invariants, the
// checker must report on it, the canonical form of each rule must read back to the same rule, and
// the evaluator must take the set and agree with a plain evaluation, and the rule index must never
// pass over a connection the evaluator would cut.
#include <cstdint>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "autokill/AgeText.h"
#include "autokill/RuleChecker.h"
#include "autokill/RuleEvaluator.h"
#include "autokill/RuleFileParser.h"
#include "autokill/RuleIndex.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/SessionRow.h"

namespace {

using namespace varnel;

void Require(bool ok, const char* what, const std::string& detail = std::string()) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s %s\n", what, detail.c_str());
    std::abort();
}

void CheckPorts(const PortRange& r) {
    Require((r.low == 0 && r.high == 0) || (1 <= r.low && r.low <= r.high), "port range");
}

void CheckHours(const HourWindow& w) {
    Require((w.from == 24 && w.to == 24) || (w.from <= w.to && w.to < 24), "hour window");
}

void CheckConditions(const RuleConditions& c) {
    CheckPorts(c.port1);
    CheckPorts(c.port2);
    CheckHours(c.sysTime);
    for (const RulePattern* p : {&c.ip1, &c.host1, &c.ip2, &c.host2, &c.pid}) {
        Require(p->text().find_first_of(" *;\t\r\n=") == std::string::npos, "cleaned pattern", p->text());
        Require(p->text().find('\0') == std::string::npos, "pattern without NUL");
    }
}

// The evaluation written plainly from the rule's fields, to hold the compiled evaluator against.
bool Holds(const RuleConditions& c, const RowTexts& row, std::string_view process, int64_t age, int hour,
           const UiLanguage& lang, bool negated) {
    auto port = [](std::string_view t) {
        return static_cast<int64_t>(static_cast<int32_t>(RuleFileParser::ReadNumber(t).value));
    };
    const char* names[3] = {"", lang.Pick("接続中", "Connecting"), lang.Pick("接続待ち", "Waiting")};
    // Each set condition: does the row satisfy it?
    bool tests[10];
    bool set[10] = {c.pid.IsSet(),   c.host2.IsSet(), c.port2.IsSet(), c.ip2.IsSet(), c.host1.IsSet(),
                    c.port1.IsSet(), c.ip1.IsSet(),   c.time != 0,     c.stat != 0,   c.sysTime.IsSet()};
    tests[0] = c.pid.MatchesPrefix(process);
    tests[1] = c.host2.MatchesHost(row.remoteHost, row.remoteAddress);
    tests[2] = c.port2.Contains(port(row.remotePort));
    tests[3] = c.ip2.MatchesPrefix(row.remoteAddress);
    tests[4] = c.host1.MatchesHost(row.localHost, row.localAddress);
    tests[5] = c.port1.Contains(port(row.localPort));
    tests[6] = c.ip1.MatchesPrefix(row.localAddress);
    tests[7] = age >= static_cast<int64_t>(c.time);
    tests[8] = row.status.find(names[c.stat % 3]) != std::string_view::npos;
    tests[9] = c.sysTime.Contains(hour);
    for (int i = 0; i < 10; ++i) {
        if (set[i] && tests[i] == negated) return false;
    }
    return true;
}

bool Pending(std::string_view host, std::string_view address) {
    return host == "(" + std::string(address) + ")";
}

Verdict Reference(const AutoKillRuleSet& rules, const RowTexts& row, int hour, const UiLanguage& lang) {
    std::string process;
    for (char ch : row.process)
        if (ch != ' ') process += ch;
    const int64_t age = ParseAgeText(row.time, lang);
    const bool localPending = Pending(row.localHost, row.localAddress);
    const bool remotePending = Pending(row.remoteHost, row.remoteAddress);
    bool localTested = false, remoteTested = false;  // by this rule or one before it
    for (int i = 0; i < rules.count(); ++i) {
        const AutoKillRule& r = rules.rule(i);
        localTested = localTested || r.must.host1.IsSet() || r.mustNot.host1.IsSet();
        remoteTested = remoteTested || r.must.host2.IsSet() || r.mustNot.host2.IsSet();
        if (!Holds(r.must, row, process, age, hour, lang, false) ||
            !Holds(r.mustNot, row, process, age, hour, lang, true)) {
            continue;
        }
        if ((localPending && localTested) || (remotePending && remoteTested))
            return Verdict{Verdict::kLeave, 0, true};
        if (r.allow) return Verdict{Verdict::kLeave, i + 1};
        return Verdict{r.noLog ? Verdict::kKillQuietly : Verdict::kKillAndLog, i + 1};
    }
    return Verdict{};
}

// Names 93.184.216.34; 198.51.100.7 is still being looked up; other addresses have no name.
class Hosts : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t n) override {
        if (std::string_view(address) == "93.184.216.34")
            std::snprintf(out, n, "shop.example.com");
        else if (std::string_view(address) == "198.51.100.7")
            std::snprintf(out, n, "(%s)", address);
        else
            std::snprintf(out, n, "%s", address);
    }
};

// A few connections of different kinds, polled twice (a minute apart) so that they have ages.
struct IndexRig {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    Hosts hosts;
    ProcessNameCache names{processes};
    ConnectionSnapshot snapshot{table, names, clock};
    SessionTable session;

    IndexRig() {
        processes.processes = {{42, "fire fox"}, {7, "curl"}};
        table.Add(kTcpEstablished, "192.168.1.5", 50123, "93.184.216.34", 443, 42);
        table.Add(kTcpSynSent, "192.168.1.5", 50124, "198.51.100.7", 80, 7);
        table.Add(kTcpEstablished, "127.0.0.1", 6667, "127.0.0.1", 40000, 0);
        table.Add(kTcpSynRcvd, "10.0.0.1", 22, "203.0.113.9", 61000, 7);
        snapshot.SetHostNameSource(&hosts);
        snapshot.TakeSnapshot(session);
        clock.Advance(61'000);
        snapshot.TakeSnapshot(session);
    }
};

void CheckIndex(const AutoKillRuleSet& set, RuleEvaluator& evaluator, const UiLanguage& lang, int hour) {
    static IndexRig* rig = new IndexRig;
    static RuleIndex* index = new RuleIndex;
    index->Rebuild(set, lang);
    index->BeginPass(rig->clock.TickMs(), hour);
    for (const KeptConnection& k : rig->snapshot.kept()) {
        SessionRecord record;
        SessionRow row;
        rig->snapshot.FillRecord(k, record);
        BuildSessionRow(record, rig->clock.TickMs(), true, lang, row);
        const char* texts[kColumnCount];
        for (int c = 0; c < kColumnCount; ++c) texts[c] = row[c];
        const Verdict v = evaluator.Evaluate(RowTexts::FromColumns(texts), hour);
        if (v.verdict != Verdict::kLeave)
            Require(index->CouldCut(k, rig->snapshot), "index lets a cut through", row[kColRemoteAddress]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Made once: a set is 1024 slots, and Parse clears what it used.
    static AutoKillRuleSet set;
    static AutoKillRuleSet fromStream;
    const int candidates = RuleFileParser::Parse(text, set);
    Require(candidates <= AutoKillRuleSet::kMaxRules && set.count() <= candidates, "rule count");

    // Stream reading must see the same rules as memory reading.
    std::istringstream in{std::string(text)};
    Require(RuleFileParser::Parse(in, fromStream) == candidates && fromStream.count() == set.count(),
            "stream count");

    for (int i = 0; i < set.count(); ++i) {
        const AutoKillRule& rule = set.rule(i);
        Require(rule.SameFields(fromStream.rule(i)) && rule.lineNumber == fromStream.rule(i).lineNumber,
                "stream rule");
        Require(rule.allow <= 1 && rule.noLog <= 1, "flags");
        Require(rule.keywords != 0 && rule.lineNumber >= 1, "origin");
        CheckConditions(rule.must);
        CheckConditions(rule.mustNot);

        const std::string canonical = RuleChecker::CanonicalForm(rule);
        // A canonical line longer than one read would be split by the reader, not the parser.
        if (canonical.size() < RuleLineReader::kMaxReadBytes) {
            AutoKillRule back;
            Require(RuleFileParser::ParseCandidate(canonical, back), "canonical is a rule", canonical);
            Require(back.SameFields(rule), "canonical reads back", canonical);
        }
    }

    std::ostringstream report;
    const RuleChecker::Summary summary = RuleChecker::Check(text, report);
    Require(summary.rules == set.count() && report.str().ends_with(RuleChecker::SummaryText(summary) + "\n"),
            "report count");
    // The load counts the same lines with errors as the report.
    static AutoKillRuleSet loaded;
    RuleLoadReport load;
    RuleFileParser::Parse(text, loaded, &load);
    Require(load.errorLines == summary.errorLines && load.errorLines + load.suspectLines <= load.candidates,
            "load error count");

    const UiLanguage lang = size % 2 == 0 ? UiLanguage::English() : UiLanguage::Japanese();
    RuleEvaluator evaluator(set, lang);
    RuleEvaluator indexed(set, lang);
    indexed.SetIndexing(true);
    RowTexts fixed;
    fixed.localAddress = "192.168.1.5";
    fixed.localHost = "desk.lan";
    fixed.localPort = "50123";
    fixed.remoteAddress = "93.184.216.34";
    fixed.remoteHost = "93.184.216.34";
    fixed.remotePort = "443";
    fixed.status = lang.Pick("接続中", "Connecting");
    fixed.time = lang.Pick("1時間 02分 03秒", "1h 02m 03s");
    fixed.process = "fire fox(42)";
    // Rows cut from the input, so that the rules' own texts can match them.
    const size_t n = size / 9;
    RowTexts cut;
    std::string_view* columns[9] = {&cut.localAddress,  &cut.localHost,  &cut.localPort,
                                    &cut.remoteAddress, &cut.remoteHost, &cut.remotePort,
                                    &cut.status,        &cut.time,       &cut.process};
    for (size_t i = 0; i < 9; ++i) *columns[i] = text.substr(i * n, n);
    RowTexts pending = fixed;
    pending.remoteHost = "(93.184.216.34)";
    RowTexts mixedCase = fixed;
    mixedCase.remoteHost = "Shop.EXAMPLE.Com";
    mixedCase.localHost = "DESK.lan";
    for (const RowTexts& row : {std::cref(fixed), std::cref(cut), std::cref(pending), std::cref(mixedCase)}) {
        for (int hour : {0, static_cast<int>(size % 24), 23}) {
            // A rule the checker says matches every session holds for every row a connection can
            // show (the row cut from the input may hold ports no connection has).
            for (int i = 0; i < set.count() && &row != &cut; ++i) {
                if (!RuleChecker::MatchesEverySession(set.rule(i))) continue;
                Require(Holds(set.rule(i).must, row, "", 0, hour, lang, false), "matches every session");
            }
            const Verdict v = evaluator.Evaluate(row, hour);
            Require(v.verdict >= 0 && v.verdict <= 2 && v.rule >= 0 && v.rule <= set.count(), "verdict");
            Require(v.verdict == Verdict::kLeave || v.rule >= 1, "kill names its rule");
            Require(v == Reference(set, row, hour, lang), "evaluator agrees with the plain evaluation");
            Require(indexed.Evaluate(row, hour) == v, "indexed evaluation agrees");
        }
    }
    CheckIndex(set, evaluator, lang, static_cast<int>(size % 24));
    (void)ParseAgeText(text, UiLanguage::Japanese());
    return 0;
}
