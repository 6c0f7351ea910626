#include "autokill/RuleChecker.h"

#include <sstream>

#include "autokill/RuleFile.h"
#include "session/AddressText.h"

namespace varnel {

namespace {

bool IsNegated(RuleKeyword k) {
    return static_cast<int>(k) >= static_cast<int>(RuleKeyword::kNotIp1);
}

RuleKeyword Plain(RuleKeyword k) {
    if (!IsNegated(k)) return k;
    return static_cast<RuleKeyword>(static_cast<int>(k) - static_cast<int>(RuleKeyword::kNotIp1) +
                                    static_cast<int>(RuleKeyword::kIp1));
}

const RuleConditions& Side(const AutoKillRule& rule, RuleKeyword k) {
    return IsNegated(k) ? rule.mustNot : rule.must;
}

std::string Range(unsigned a, unsigned b) {
    return std::to_string(a) + "-" + std::to_string(b);
}

// A field away from its default, i.e. one that changes what the rule does.
bool IsSet(const AutoKillRule& rule, RuleKeyword k) {
    if (const RulePattern* p = rule.PatternFor(k)) return p->IsSet();
    if (const PortRange* p = rule.PortsFor(k)) return p->IsSet();
    if (const HourWindow* h = rule.HoursFor(k)) return h->IsSet();
    switch (Plain(k)) {
        case RuleKeyword::kAllow:
            return rule.allow != 0;
        case RuleKeyword::kNoLog:
            return rule.noLog != 0;
        case RuleKeyword::kStat:
            return Side(rule, k).stat != 0;
        default:
            return Side(rule, k).time != 0;
    }
}

// The pattern text with an '=' after the first byte of every occurrence of `key`, so that the
// parser's removal of the key text leaves the pattern whole.
std::string ProtectFromKeyRemoval(const std::string& pattern, std::string_view key) {
    if (pattern.find(key) == std::string::npos) return pattern;
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        out += pattern[i];
        if (std::string_view(pattern).substr(i).starts_with(key)) out += '=';
    }
    return out;
}

std::string ValueText(const AutoKillRule& rule, RuleKeyword k) {
    if (const RulePattern* p = rule.PatternFor(k))
        return ProtectFromKeyRemoval(p->text(), RuleKeywordText(k));
    if (const PortRange* p = rule.PortsFor(k)) return Range(p->low, p->high);
    if (const HourWindow* h = rule.HoursFor(k)) return Range(h->from, h->to);
    switch (Plain(k)) {
        case RuleKeyword::kAllow:
            return std::to_string(rule.allow);
        case RuleKeyword::kNoLog:
            return std::to_string(rule.noLog);
        case RuleKeyword::kStat:
            return std::to_string(Side(rule, k).stat);
        default:
            return std::to_string(Side(rule, k).time);
    }
}

std::string FieldText(const AutoKillRule& rule, RuleKeyword k) {
    std::string field = std::string(RuleKeywordText(k)) + "=" + ValueText(rule, k);
    if (field.find_first_of(",\" ") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}

bool IsDigits(std::string_view s) {
    if (s.empty() || s.size() > 3) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// An address pattern of one to four octets without a trailing '.', whose last octet can be
// followed by another digit in a real address: "192.168.1.1" also begins "192.168.1.10".
void AddressWarning(std::string_view key, const RulePattern& p, std::vector<std::string>& out) {
    if (!p.IsSet() || p.containment()) return;
    std::string_view text = p.text();
    int groups = 0;
    std::string_view last;
    for (size_t start = 0;;) {
        size_t dot = text.find('.', start);
        last = text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (!IsDigits(last)) return;
        ++groups;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (groups > 4 || last.front() == '0' || std::stoi(std::string(last)) > 25) return;
    std::string example = std::string(text) + "0";
    if (groups == 4) {
        out.push_back(std::string(key) + " " + std::string(text) + " also matches " + example + "...");
    } else {
        out.push_back(std::string(key) + " " + std::string(text) + " also matches " + example +
                      "...; write " + std::string(text) + ".");
    }
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The IPv6 pattern `text` as the canonical texts (RFC 5952, as inet_ntop writes them) could hold
// it: hexadecimal letters in lower case, no leading zeros in a group, no 0 group beside "::" (the
// "::" takes every zero group of its run), and a whole address in its canonical form. The first
// group of a containment, if shorter than four digits, may be the end of a longer group ("0d" of
// "a0d"), so its zeros stay.
std::string CanonicalIpv6Pattern(std::string_view text, bool containment) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    std::string out;
    for (size_t start = 0; start <= lower.size();) {
        size_t colon = lower.find(':', start);
        if (colon == std::string::npos) colon = lower.size();
        std::string_view group = std::string_view(lower).substr(start, colon - start);
        bool hex = !group.empty();
        for (char c : group) hex = hex && IsHexDigit(c);
        const bool keepZeros = containment && start == 0 && group.size() < 4;
        if (hex && !keepZeros)
            while (group.size() > 1 && group.front() == '0') group.remove_prefix(1);
        out.append(group);
        if (colon < lower.size()) out += ':';
        start = colon + 1;
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (const char* zeroBeside : {":0::", "::0:"}) {
            const size_t at = out.find(zeroBeside);
            if (at == std::string::npos) continue;
            out.replace(at, 4, "::");
            changed = true;
        }
        if (out.starts_with("0::") && !containment) {
            out.erase(0, 1);
            changed = true;
        }
        if (out.ends_with("::0") && !containment) {
            out.pop_back();
            changed = true;
        }
    }
    Ip6Address whole;
    char canonical[AddressText::kSize];
    if (AddressText::ParseIp6(out.c_str(), whole)) {
        AddressText::FormatIp6(whole, canonical);
        out = canonical;
    }
    return out;
}

// An IPv6 pattern (one holding ':') not written as the address texts are: it never matches.
void Ipv6Warning(std::string_view key, const RulePattern& p, std::vector<std::string>& out) {
    if (!p.IsSet() || p.needle().find(':') == std::string::npos) return;
    const std::string fixed = CanonicalIpv6Pattern(p.needle(), p.containment());
    if (fixed == p.needle()) return;
    const std::string write = p.containment() ? "/" + fixed + "/" : fixed;
    out.push_back(std::string(key) + " " + std::string(p.text()) +
                  " never matches: IPv6 addresses are shown in canonical form; write " + write);
}

void HostWarning(std::string_view key, const RulePattern& p, std::vector<std::string>& out) {
    if (!p.IsSet() || p.containment() || p.unnamedHost() || p.text().front() == '.') return;
    out.push_back(std::string(key) + " \"" + p.text() + "\" also matches bad" + p.text() + "; write ." +
                  p.text());
}

}  // namespace

std::string RuleChecker::CanonicalForm(const AutoKillRule& rule) {
    std::string out;
    auto add = [&](RuleKeyword k) {
        if (!out.empty()) out += ',';
        out += FieldText(rule, k);
    };
    for (int i = 0; i < kRuleKeywordCount; ++i) {
        if (IsSet(rule, static_cast<RuleKeyword>(i))) add(static_cast<RuleKeyword>(i));
    }
    if (!out.empty()) return out;
    for (int i = 0; i < kRuleKeywordCount; ++i) {
        if (rule.Has(static_cast<RuleKeyword>(i))) add(static_cast<RuleKeyword>(i));
    }
    return out;
}

std::vector<std::string> RuleChecker::Warnings(const AutoKillRule& rule, const RuleNotes& notes) {
    std::vector<std::string> out;
    for (int i = 0; i < kRuleKeywordCount; ++i) {
        const RuleKeyword k = static_cast<RuleKeyword>(i);
        const std::string_view key = RuleKeywordText(k);
        const RuleFieldNote& note = notes.field(k);
        out.insert(out.end(), note.warnings.begin(), note.warnings.end());
        const RulePattern* pattern = rule.PatternFor(k);
        if (pattern == nullptr) continue;
        if (note.given && !pattern->IsSet()) out.push_back(std::string(key) + " is empty: no condition");
        switch (Plain(k)) {
            case RuleKeyword::kHost1:
            case RuleKeyword::kHost2:
                HostWarning(key, *pattern, out);
                break;
            case RuleKeyword::kIp1:
            case RuleKeyword::kIp2:
                AddressWarning(key, *pattern, out);
                Ipv6Warning(key, *pattern, out);
                break;
            default:
                break;
        }
    }
    if (rule.mustNot.stat != 0 && rule.mustNot.stat % 3 == 0) {
        out.push_back("STAT! " + std::to_string(rule.mustNot.stat) +
                      " names every state: the rule never matches");
    }
    out.insert(out.end(), notes.ignoredKeys.begin(), notes.ignoredKeys.end());
    if (!rule.HasConditions()) {
        out.push_back(rule.allow != 0 ? "no conditions: exempts every session from the rules after it"
                                      : "no conditions: matches every session");
    }
    return out;
}

std::vector<std::string> RuleChecker::CandidateWarnings(bool isRule, const AutoKillRule& rule,
                                                        const RuleNotes& notes) {
    return isRule ? Warnings(rule, notes) : notes.ignoredKeys;
}

std::string RuleChecker::CheckedLine::Text() const {
    std::string out;
    switch (kind) {
        case Kind::kRule:
            out = CanonicalForm(*rule);
            break;
        case Kind::kIgnored:
            out = "ignored: no keyword";
            break;
        case Kind::kStopped:
            out = "reading stopped: at most " + std::to_string(RuleFileParser::kMaxCandidates) +
                  " rule lines are read; this line and the rest are ignored";
            break;
    }
    for (size_t i = 0; i < warnings.size(); ++i) {
        out += i == 0 ? "  # " : "; ";
        out += warnings[i];
    }
    return out;
}

void RuleChecker::CheckCandidate(std::string_view piece, int lineNumber, AutoKillRule& rule, RuleNotes& notes,
                                 CheckedLine& line) {
    const bool isRule = RuleFileParser::ParseCandidate(piece, rule, &notes);
    rule.lineNumber = lineNumber;
    line.kind = isRule ? CheckedLine::Kind::kRule : CheckedLine::Kind::kIgnored;
    line.lineNumber = lineNumber;
    line.rule = isRule ? &rule : nullptr;
    line.warnings = CandidateWarnings(isRule, rule, notes);
}

bool RuleChecker::StoppedLine(RuleLineReader& reader, CheckedLine& line) {
    const int stopped = RuleFileParser::FirstUnreadCandidateLine(reader);
    if (stopped == 0) return false;
    line.kind = CheckedLine::Kind::kStopped;
    line.lineNumber = stopped;
    line.rule = nullptr;
    line.warnings.clear();
    return true;
}

int RuleChecker::Walk(RuleLineReader& reader, const std::function<void(const CheckedLine&)>& visit) {
    int rules = 0;
    AutoKillRule rule;
    RuleNotes notes;
    CheckedLine line;
    const int candidates = RuleFileParser::ForEachCandidate(reader, [&](const RuleLinePiece& piece) {
        CheckCandidate(piece.text, piece.lineNumber, rule, notes, line);
        if (line.kind == CheckedLine::Kind::kRule) ++rules;
        visit(line);
    });
    if (candidates == RuleFileParser::kMaxCandidates && StoppedLine(reader, line)) visit(line);
    return rules;
}

void RuleChecker::Report(RuleLineReader& reader, std::ostream& out) {
    const int rules = Walk(reader, [&](const CheckedLine& line) {
        out << line.lineNumber << ": " << line.Text() << '\n';
    });
    out << rules << " rules\n";
}

void RuleChecker::Check(std::string_view text, std::ostream& out) {
    RuleLineReader reader(text);
    Report(reader, out);
}

void RuleChecker::Check(std::istream& in, std::ostream& out) {
    RuleLineReader reader(in);
    Report(reader, out);
}

bool RuleChecker::CheckFile(const std::string& path, std::ostream& out, std::string& error) {
    RuleFile file(path);
    if (file.status() != RuleFile::Status::kOpen) {
        error = file.error();
        return false;
    }
    // The report is built aside, so that a read error in the middle does not end in a count.
    std::ostringstream report;
    Check(file.stream(), report);
    if (!file.error().empty()) {
        error = file.error();
        return false;
    }
    out << report.str();
    return true;
}

}  // namespace varnel
