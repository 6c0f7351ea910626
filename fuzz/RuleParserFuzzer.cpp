// Rule file parser: any bytes must parse without fault into a set that keeps its invariants, the
// checker must report on it, the canonical form of each rule must read back to the same rule, and
// the evaluator must take the set.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "autokill/AgeText.h"
#include "autokill/RuleChecker.h"
#include "autokill/RuleEvaluator.h"
#include "autokill/RuleFileParser.h"

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
    Require(RuleFileParser::Parse(in, fromStream) == candidates && fromStream.count() == set.count(), "stream count");

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
    RuleChecker::Check(text, report);
    Require(report.str().ends_with(std::to_string(set.count()) + " rules\n"), "report count");

    RuleEvaluator evaluator(set, size % 2 == 0 ? UiLanguage::English() : UiLanguage::Japanese());
    RowTexts row;
    row.localAddress = "192.168.1.5";
    row.localHost = text.substr(0, size / 3);
    row.localPort = "50123";
    row.remoteAddress = "93.184.216.34";
    row.remoteHost = "93.184.216.34";
    row.remotePort = text.substr(size / 3, 6);
    row.status = "Connecting";
    row.time = text.substr(size / 2);
    row.process = text.substr(size / 4);
    Verdict v = evaluator.Evaluate(row, static_cast<int>(size % 24));
    Require(v.verdict >= 0 && v.verdict <= 2 && v.rule >= 0 && v.rule <= set.count(), "verdict");
    Require(v.verdict == Verdict::kLeave || v.rule >= 1, "kill names its rule");
    (void)ParseAgeText(text, UiLanguage::Japanese());
    return 0;
}
