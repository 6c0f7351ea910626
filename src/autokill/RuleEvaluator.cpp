#include "autokill/RuleEvaluator.h"

#include "autokill/AgeText.h"
#include "autokill/RuleFileParser.h"

namespace varnel {

RowTexts RowTexts::FromColumns(const char* const texts[9]) {
    auto at = [&](int i) { return texts[i] != nullptr ? std::string_view(texts[i]) : std::string_view(); };
    return RowTexts{at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8)};
}

RuleEvaluator::RuleEvaluator(const AutoKillRuleSet& rules, const UiLanguage& language) {
    Rebuild(rules, language);
}

void RuleEvaluator::AddPattern(const RulePattern& pattern, Subject subject, bool host, bool negate) {
    if (!pattern.IsSet()) return;
    Op op = pattern.containment()          ? Op::kContains
            : !host                        ? Op::kPrefix
            : pattern.unnamedHost()        ? Op::kSuffixOrUnnamed
                                           : Op::kSuffix;
    uint32_t offset = static_cast<uint32_t>(arena_.size());
    arena_.append(pattern.needle());
    tests_.push_back(Test{op, subject, negate, offset, static_cast<uint32_t>(pattern.needle().size())});
    if (subject == kProcess) needProcess_ = true;
}

void RuleEvaluator::AddConditions(const RuleConditions& c, bool negate, CompiledRule& rule) {
    AddPattern(c.pid, kProcess, false, negate);
    AddPattern(c.host2, kRemoteHost, true, negate);
    if (c.port2.IsSet()) tests_.push_back(Test{Op::kPortRange, kRemotePort, negate, c.port2.low, c.port2.high});
    AddPattern(c.ip2, kRemoteAddress, false, negate);
    AddPattern(c.host1, kLocalHost, true, negate);
    if (c.port1.IsSet()) tests_.push_back(Test{Op::kPortRange, kLocalPort, negate, c.port1.low, c.port1.high});
    AddPattern(c.ip1, kLocalAddress, false, negate);
    if (c.time != 0) {
        tests_.push_back(Test{Op::kMinAge, kSubjectCount, negate, c.time, 0});
        needAge_ = true;
    }
    if (c.stat != 0) {
        uint32_t index = c.stat % 3u;
        // Index 0 is the empty state name, which every status text contains: the plain test always
        // passes (no test needed) and the negated one never does.
        if (index != 0) {
            tests_.push_back(Test{Op::kStatus, kSubjectCount, negate, index, 0});
            needStatus_ = true;
        } else if (negate) {
            rule.never = true;
        }
    }
    if (c.sysTime.IsSet()) tests_.push_back(Test{Op::kHours, kSubjectCount, negate, c.sysTime.from, c.sysTime.to});
}

void RuleEvaluator::Rebuild(const AutoKillRuleSet& rules, const UiLanguage& language) {
    rules_.clear();
    tests_.clear();
    arena_.clear();
    needAge_ = needProcess_ = needStatus_ = false;
    language_ = language;
    stateNames_[0] = "";
    stateNames_[1] = language.Pick("接続中", "Connecting");
    stateNames_[2] = language.Pick("接続待ち", "Waiting");
    rules_.reserve(static_cast<size_t>(rules.count()));
    for (int i = 0; i < rules.count(); ++i) {
        const AutoKillRule& r = rules.rule(i);
        CompiledRule compiled{static_cast<uint32_t>(tests_.size()), 0, r.allow != 0, r.noLog != 0, false};
        AddConditions(r.must, false, compiled);
        AddConditions(r.mustNot, true, compiled);
        compiled.testCount = static_cast<uint32_t>(tests_.size()) - compiled.firstTest;
        rules_.push_back(compiled);
    }
    processScratch_.reserve(256);
}

bool RuleEvaluator::Passes(const Test& test, const Row& row) const {
    switch (test.op) {
        case Op::kPrefix: return row.text[test.subject].starts_with(std::string_view(arena_.data() + test.a, test.b));
        case Op::kContains:
            return row.text[test.subject].find(std::string_view(arena_.data() + test.a, test.b)) !=
                   std::string_view::npos;
        case Op::kSuffix: return row.text[test.subject].ends_with(std::string_view(arena_.data() + test.a, test.b));
        case Op::kSuffixOrUnnamed:
            return row.unnamed[test.subject] ||
                   row.text[test.subject].ends_with(std::string_view(arena_.data() + test.a, test.b));
        case Op::kPortRange: return test.a <= row.port[test.subject] && row.port[test.subject] <= test.b;
        case Op::kMinAge: return row.age >= static_cast<int64_t>(test.a);
        case Op::kStatus: return row.statusHas[test.a];
        case Op::kHours: return static_cast<int>(test.a) <= row.hour && row.hour <= static_cast<int>(test.b);
    }
    return false;
}

Verdict RuleEvaluator::Evaluate(const RowTexts& texts, int hour) {
    if (rules_.empty()) return Verdict{};

    // While a host name is still being looked up, no rule kills the row; only an ALLOW rule can
    // still end the search, so only those need testing.
    const bool pending = texts.localHost.find('(') != std::string_view::npos ||
                         texts.remoteHost.find('(') != std::string_view::npos;

    Row row;
    row.text[kLocalAddress] = texts.localAddress;
    row.text[kLocalHost] = texts.localHost;
    row.text[kRemoteAddress] = texts.remoteAddress;
    row.text[kRemoteHost] = texts.remoteHost;
    row.text[kLocalPort] = texts.localPort;
    row.text[kRemotePort] = texts.remotePort;
    row.unnamed[kLocalHost] = texts.localHost == texts.localAddress;
    row.unnamed[kRemoteHost] = texts.remoteHost == texts.remoteAddress;
    row.port[kLocalPort] = static_cast<int32_t>(RuleFileParser::ReadNumber(texts.localPort).value);
    row.port[kRemotePort] = static_cast<int32_t>(RuleFileParser::ReadNumber(texts.remotePort).value);
    row.hour = hour;
    row.age = needAge_ ? ParseAgeText(texts.time, language_) : 0;
    if (needStatus_) {
        for (int i = 0; i < 3; ++i) row.statusHas[i] = texts.status.find(stateNames_[i]) != std::string_view::npos;
    }
    if (needProcess_) {
        processScratch_.clear();
        for (char c : texts.process)
            if (c != ' ') processScratch_ += c;
        row.text[kProcess] = processScratch_;
    }

    const Test* tests = tests_.data();
    for (size_t i = 0; i < rules_.size(); ++i) {
        const CompiledRule& rule = rules_[i];
        if (rule.never || (pending && !rule.allow)) continue;
        const Test* test = tests + rule.firstTest;
        const Test* end = test + rule.testCount;
        while (test != end && Passes(*test, row) != test->negate) ++test;
        if (test != end) continue;
        const int index = static_cast<int>(i) + 1;
        if (rule.allow) return Verdict{Verdict::kLeave, index};
        return Verdict{rule.noLog ? Verdict::kKillQuietly : Verdict::kKillAndLog, index};
    }
    return Verdict{};
}

}  // namespace varnel
