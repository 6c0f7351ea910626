#include "autokill/RuleEvaluator.h"

#include <algorithm>

#include "autokill/AgeText.h"
#include "autokill/RuleFileParser.h"
#include "text/AsciiCase.h"

namespace varnel {

namespace {

// The host text while its lookup is pending: exactly the address in parentheses. A resolved name
// that merely holds a parenthesis is a name like any other.
bool IsPendingHost(std::string_view host, std::string_view address) {
    return host.size() == address.size() + 2 && host.front() == '(' && host.back() == ')' &&
           host.substr(1, address.size()) == address;
}

uint8_t HostSides(const RuleConditions& c) {
    return static_cast<uint8_t>((c.host1.IsSet() ? 1 : 0) | (c.host2.IsSet() ? 2 : 0));
}

}  // namespace

RowTexts RowTexts::FromColumns(const char* const texts[9]) {
    auto at = [&](int i) { return texts[i] != nullptr ? std::string_view(texts[i]) : std::string_view(); };
    return RowTexts{at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8)};
}

RowTexts RowTexts::FromRow(const SessionRow& row) {
    const char* texts[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c) texts[c] = row[c];
    return FromColumns(texts);
}

RuleEvaluator::RuleEvaluator(const AutoKillRuleSet& rules, const UiLanguage& language) {
    Rebuild(rules, language);
}

void RuleEvaluator::AddStep(Op op, Subject subject, bool negate, std::string_view needle, uint32_t a,
                            uint32_t b) {
    std::string key;
    key.reserve(10 + needle.size());
    key += static_cast<char>(op);
    key += static_cast<char>(subject);
    key.append(reinterpret_cast<const char*>(&a), sizeof a);
    key.append(reinterpret_cast<const char*>(&b), sizeof b);
    key.append(needle);
    auto [it, added] = checkIndex_.try_emplace(std::move(key), static_cast<uint32_t>(checks_.size()));
    if (added) {
        const bool textCheck =
            op == Op::kPrefix || op == Op::kContains || op == Op::kSuffix || op == Op::kSuffixOrUnnamed;
        if (textCheck) {
            a = static_cast<uint32_t>(arena_.size());
            b = static_cast<uint32_t>(needle.size());
            arena_.append(needle);
        }
        checks_.push_back(Check{op, subject, a, b});
    }
    steps_.push_back(it->second * 2 + (negate ? 1 : 0));
}

void RuleEvaluator::AddPattern(const RulePattern& pattern, Subject subject, bool host, bool negate) {
    if (!pattern.IsSet()) return;
    Op op = pattern.containment()   ? Op::kContains
            : !host                 ? Op::kPrefix
            : pattern.unnamedHost() ? Op::kSuffixOrUnnamed
                                    : Op::kSuffix;
    // Host names compare without regard to case: the needle is stored folded, and Evaluate folds
    // the row's host texts once.
    AddStep(op, subject, negate, host ? pattern.foldedNeedle() : pattern.needle(), 0, 0);
    if (subject == kProcess) needProcess_ = true;
    if (host) needHost_[subject == kLocalHost ? 0 : 1] = true;
}

void RuleEvaluator::AddConditions(const RuleConditions& c, bool negate, CompiledRule& rule) {
    AddPattern(c.pid, kProcess, false, negate);
    AddPattern(c.host2, kRemoteHost, true, negate);
    if (c.port2.IsSet()) AddStep(Op::kPortRange, kRemotePort, negate, {}, c.port2.low, c.port2.high);
    AddPattern(c.ip2, kRemoteAddress, false, negate);
    AddPattern(c.host1, kLocalHost, true, negate);
    if (c.port1.IsSet()) AddStep(Op::kPortRange, kLocalPort, negate, {}, c.port1.low, c.port1.high);
    AddPattern(c.ip1, kLocalAddress, false, negate);
    if (c.time != 0) {
        AddStep(Op::kMinAge, kSubjectCount, negate, {}, c.time, 0);
        needAge_ = true;
    }
    if (c.stat != 0) {
        uint32_t index = c.stat % 3u;
        // Index 0 is the empty state name, which every status text contains: the plain test always
        // passes (no test needed) and the negated one never does.
        if (index != 0) {
            AddStep(Op::kStatus, kSubjectCount, negate, {}, index, 0);
            needStatus_ = true;
        } else if (negate) {
            rule.never = true;
        }
    }
    if (c.sysTime.IsSet()) AddStep(Op::kHours, kSubjectCount, negate, {}, c.sysTime.from, c.sysTime.to);
}

void RuleEvaluator::Rebuild(const AutoKillRuleSet& rules, const UiLanguage& language) {
    rules_.clear();
    steps_.clear();
    checks_.clear();
    checkIndex_.clear();
    arena_.clear();
    needAge_ = needProcess_ = needStatus_ = false;
    needHost_[0] = needHost_[1] = false;
    language_ = language;
    stateNames_[0] = "";
    stateNames_[1] = language.Pick("接続中", "Connecting");
    stateNames_[2] = language.Pick("接続待ち", "Waiting");
    rules_.reserve(static_cast<size_t>(rules.count()));
    for (int i = 0; i < rules.count(); ++i) {
        const AutoKillRule& r = rules.rule(i);
        const uint8_t sidesBefore = rules_.empty() ? 0 : rules_.back().hostSidesSoFar;
        CompiledRule compiled{static_cast<uint32_t>(steps_.size()),
                              0,
                              r.allow != 0,
                              r.noLog != 0,
                              false,
                              static_cast<uint8_t>(sidesBefore | HostSides(r.must) | HostSides(r.mustNot))};
        AddConditions(r.must, false, compiled);
        AddConditions(r.mustNot, true, compiled);
        compiled.stepCount = static_cast<uint32_t>(steps_.size()) - compiled.firstStep;
        rules_.push_back(compiled);
    }
    checkIndex_.clear();
    results_.assign(checks_.size(), 0);
    processScratch_.reserve(256);
    for (std::string& scratch : hostScratch_) scratch.reserve(256);
    BuildIndex();
}

void RuleEvaluator::SetIndexing(bool on) {
    indexing_ = on;
    BuildIndex();
}

void RuleEvaluator::BuildIndex() {
    everyRow_.clear();
    for (auto& ports : portRules_) ports.clear();
    for (TextAnchors& anchors : textRules_) anchors = TextAnchors();
    for (auto& rules : containRules_) rules.clear();
    for (auto& memo : containMemo_) memo.clear();
    candidates_.clear();
    anchored_.clear();
    if (!indexing_) return;
    candidates_.reserve(rules_.size());
    anchored_.reserve(rules_.size());
    for (uint32_t i = 0; i < rules_.size(); ++i) {
        const CompiledRule& rule = rules_[i];
        if (rule.never) continue;
        const Check* port = nullptr;
        const Check* text = nullptr;
        const Check* contained = nullptr;
        for (uint32_t s = rule.firstStep; s < rule.firstStep + rule.stepCount; ++s) {
            if ((steps_[s] & 1) != 0) continue;  // a negated condition names no text to look up
            const Check& c = checks_[steps_[s] >> 1];
            if (c.op == Op::kPortRange && c.b - c.a < 256 && port == nullptr) port = &c;
            if ((c.op == Op::kPrefix || c.op == Op::kSuffix) && c.b > 0 && (text == nullptr || c.b > text->b))
                text = &c;
            if (c.op == Op::kContains && c.b > 0 && (contained == nullptr || c.b > contained->b)) contained = &c;
        }
        if (port != nullptr) {
            auto& byPort = portRules_[port->subject == kLocalPort ? 0 : 1];
            for (uint32_t p = port->a; p <= port->b; ++p) byPort[p].push_back(i);
        } else if (text != nullptr) {
            TextAnchors& anchors = textRules_[text->subject];
            anchors.suffix = text->op == Op::kSuffix;
            anchors.rules[std::string(arena_, text->a, text->b)].push_back(i);
            if (std::find(anchors.lengths.begin(), anchors.lengths.end(), text->b) == anchors.lengths.end())
                anchors.lengths.push_back(text->b);
        } else if (contained != nullptr) {
            containRules_[contained->subject].push_back(
                Contained{std::string_view(arena_.data() + contained->a, contained->b), i});
        } else {
            everyRow_.push_back(i);
        }
    }
    for (TextAnchors& anchors : textRules_) std::sort(anchors.lengths.begin(), anchors.lengths.end());
}

void RuleEvaluator::GatherCandidates(const Row& row) {
    // Each rule is filed once, and a row meets each filing at most once (one port per side, one
    // text per subject and length), so no rule is gathered twice.
    anchored_.clear();
    for (int side = 0; side < 2; ++side) {
        const auto& byPort = portRules_[side];
        if (byPort.empty()) continue;
        const int64_t port = row.port[side == 0 ? kLocalPort : kRemotePort];
        if (port < 0 || port > 65535) continue;
        auto it = byPort.find(static_cast<uint32_t>(port));
        if (it != byPort.end()) anchored_.insert(anchored_.end(), it->second.begin(), it->second.end());
    }
    for (int subject = 0; subject < kSubjectCount; ++subject) {
        const TextAnchors& anchors = textRules_[subject];
        if (anchors.lengths.empty()) continue;  // the row's text for it may not be worked out
        const std::string_view text = row.text[subject];
        for (size_t length : anchors.lengths) {
            if (length > text.size()) break;
            auto it = anchors.rules.find(anchors.suffix ? text.substr(text.size() - length) : text.substr(0, length));
            if (it != anchors.rules.end())
                anchored_.insert(anchored_.end(), it->second.begin(), it->second.end());
        }
    }
    for (int subject = 0; subject < kSubjectCount; ++subject) {
        const std::vector<Contained>& rules = containRules_[subject];
        if (rules.empty()) continue;
        // Many rows share a host, an address or a process: each distinct text is searched for
        // the needles once.
        auto& memo = containMemo_[subject];
        const std::string_view text = row.text[subject];
        auto it = memo.find(text);
        if (it == memo.end()) {
            if (memo.size() >= kContainMemoSize) memo.clear();
            std::vector<uint32_t> hits;
            for (const Contained& c : rules)
                if (text.find(c.needle) != std::string_view::npos) hits.push_back(c.rule);
            it = memo.emplace(std::string(text), std::move(hits)).first;
        }
        anchored_.insert(anchored_.end(), it->second.begin(), it->second.end());
    }
    std::sort(anchored_.begin(), anchored_.end());
    candidates_.resize(everyRow_.size() + anchored_.size());
    std::merge(everyRow_.begin(), everyRow_.end(), anchored_.begin(), anchored_.end(), candidates_.begin());
}

bool RuleEvaluator::Passes(const Check& test, const Row& row) const {
    switch (test.op) {
        case Op::kPrefix:
            return row.text[test.subject].starts_with(std::string_view(arena_.data() + test.a, test.b));
        case Op::kContains:
            return row.text[test.subject].find(std::string_view(arena_.data() + test.a, test.b)) !=
                   std::string_view::npos;
        case Op::kSuffix:
            return row.text[test.subject].ends_with(std::string_view(arena_.data() + test.a, test.b));
        case Op::kSuffixOrUnnamed:
            return row.unnamed[test.subject] ||
                   row.text[test.subject].ends_with(std::string_view(arena_.data() + test.a, test.b));
        case Op::kPortRange:
            return test.a <= row.port[test.subject] && row.port[test.subject] <= test.b;
        case Op::kMinAge:
            return row.age >= static_cast<int64_t>(test.a);
        case Op::kStatus:
            return row.statusHas[test.a];
        case Op::kHours:
            return static_cast<int>(test.a) <= row.hour && row.hour <= static_cast<int>(test.b);
    }
    return false;
}

Verdict RuleEvaluator::Evaluate(const RowTexts& texts, int hour) {
    lastHostSides_ = 0;
    if (rules_.empty()) return Verdict{};

    const uint8_t pending = static_cast<uint8_t>((IsPendingHost(texts.localHost, texts.localAddress) ? 1 : 0) |
                                                 (IsPendingHost(texts.remoteHost, texts.remoteAddress) ? 2 : 0));

    Row row;
    row.text[kLocalAddress] = texts.localAddress;
    row.text[kLocalHost] = texts.localHost;
    row.text[kRemoteAddress] = texts.remoteAddress;
    row.text[kRemoteHost] = texts.remoteHost;
    row.text[kLocalPort] = texts.localPort;
    row.text[kRemotePort] = texts.remotePort;
    row.unnamed[kLocalHost] = EqualsIgnoringAsciiCase(texts.localHost, texts.localAddress);
    row.unnamed[kRemoteHost] = EqualsIgnoringAsciiCase(texts.remoteHost, texts.remoteAddress);
    for (int side = 0; side < 2; ++side) {
        if (!needHost_[side]) continue;
        const Subject subject = side == 0 ? kLocalHost : kRemoteHost;
        std::string& folded = hostScratch_[side];
        folded.assign(row.text[subject]);
        for (char& c : folded) c = AsciiLower(c);
        row.text[subject] = folded;
    }
    row.port[kLocalPort] = static_cast<int32_t>(RuleFileParser::ReadNumber(texts.localPort).value);
    row.port[kRemotePort] = static_cast<int32_t>(RuleFileParser::ReadNumber(texts.remotePort).value);
    row.hour = hour;
    row.age = needAge_ ? ParseAgeText(texts.time, language_) : 0;
    if (needStatus_) {
        for (int i = 0; i < 3; ++i)
            row.statusHas[i] = texts.status.find(stateNames_[i]) != std::string_view::npos;
    }
    if (needProcess_) {
        processScratch_.clear();
        for (char c : texts.process)
            if (c != ' ') processScratch_ += c;
        row.text[kProcess] = processScratch_;
    }

    std::fill(results_.begin(), results_.end(), uint8_t{0});
    uint8_t* results = results_.data();
    const Check* checks = checks_.data();
    const uint32_t* steps = steps_.data();
    if (indexing_) GatherCandidates(row);
    const size_t count = indexing_ ? candidates_.size() : rules_.size();
    for (size_t n = 0; n < count; ++n) {
        const size_t i = indexing_ ? candidates_[n] : n;
        const CompiledRule& rule = rules_[i];
        if (rule.never) continue;
        const uint32_t* step = steps + rule.firstStep;
        const uint32_t* end = step + rule.stepCount;
        for (; step != end; ++step) {
            const uint32_t check = *step >> 1;
            uint8_t result = results[check];
            if (result == 0) results[check] = result = Passes(checks[check], row) ? 2 : 1;
            // A plain step fails when its check fails, a negated one when it passes.
            if ((result == 2) == ((*step & 1) != 0)) break;
        }
        if (step != end) continue;
        lastHostSides_ = rule.hostSidesSoFar;
        // Once the name is known this rule, or an earlier one that failed on the pending text, may
        // decide otherwise.
        if ((pending & rule.hostSidesSoFar) != 0) return Verdict{Verdict::kLeave, 0, true};
        const int index = static_cast<int>(i) + 1;
        if (rule.allow) return Verdict{Verdict::kLeave, index};
        return Verdict{rule.noLog ? Verdict::kKillQuietly : Verdict::kKillAndLog, index};
    }
    lastHostSides_ = rules_.back().hostSidesSoFar;
    return Verdict{};
}

}  // namespace varnel
