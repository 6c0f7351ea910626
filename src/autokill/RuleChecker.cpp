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

// The IPv4 address (or part of one) of an IPv4-mapped IPv6 pattern in canonical form
// ("::ffff:10.1.2.3" gives "10.1.2.3"); empty when the pattern is no such one.
std::string_view MappedIpv4(std::string_view canonical) {
    constexpr std::string_view kMapped = "::ffff:";
    if (!canonical.starts_with(kMapped) || canonical.size() == kMapped.size()) return {};
    const std::string_view v4 = canonical.substr(kMapped.size());
    if (v4.find_first_not_of("0123456789.") != std::string_view::npos) return {};
    return v4;
}

// An IPv6 pattern (one holding ':') not written as the address texts are: it never matches. A
// connection between IPv4-mapped addresses is shown as IPv4, so such a pattern never matches
// either, in whatever form it is written: the IPv4 form is the one to give.
void Ipv6Warning(std::string_view key, const RulePattern& p, std::vector<std::string>& out) {
    if (!p.IsSet() || p.needle().find(':') == std::string::npos) return;
    const std::string fixed = CanonicalIpv6Pattern(p.needle(), p.containment());
    const std::string_view v4 = MappedIpv4(fixed);
    if (!v4.empty()) {
        const std::string write = p.containment() ? "/" + std::string(v4) + "/" : std::string(v4);
        out.push_back(std::string(key) + " " + std::string(p.text()) +
                      " never matches: connections of IPv4-mapped addresses are shown as IPv4; write " + write);
        return;
    }
    if (fixed == p.needle()) return;
    const std::string write = p.containment() ? "/" + fixed + "/" : fixed;
    out.push_back(std::string(key) + " " + std::string(p.text()) +
                  " never matches: IPv6 addresses are shown in canonical form; write " + write);
}

// An address pattern written as a network ("10.1.2.0/24"): the '/' asks for containment of the
// text without it, which no IPv4 address holds. Networks of whole octets are prefixes.
bool CidrWarning(std::string_view key, const RulePattern& p, std::vector<std::string>& out) {
    const std::string_view text = p.text();
    const size_t slash = text.find('/');
    if (slash == std::string_view::npos || slash == 0 || text.find('/', slash + 1) != std::string_view::npos)
        return false;
    const std::string_view address = text.substr(0, slash);
    const std::string_view bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const bool v4 = address.find_first_not_of("0123456789.") == std::string_view::npos &&
                    address.find('.') != std::string_view::npos;
    const bool v6 = address.find(':') != std::string_view::npos &&
                    address.find_first_not_of("0123456789abcdefABCDEF:.") == std::string_view::npos;
    if (!v4 && !v6) return false;
    std::string line = std::string(key) + " " + std::string(text) +
                       " is no network: a '/' asks for an address containing \"" + std::string(p.needle()) +
                       (v4 ? "\", which none does" : "\"");
    const int prefix = std::stoi(std::string(bits));
    if (v4 && prefix % 8 == 0 && prefix >= 8 && prefix <= 24) {
        // The first prefix/8 octets and their dot: "10.1.2.0/24" is "10.1.2.".
        int dots = 0;
        for (size_t i = 0; i < address.size(); ++i) {
            if (address[i] == '.' && ++dots == prefix / 8) {
                line += "; write " + std::string(address.substr(0, i + 1));
                break;
            }
        }
    }
    out.push_back(line);
    return true;
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

bool RuleChecker::MatchesEverySession(const AutoKillRule& rule) {
    if (rule.mustNot.AnySet()) return false;
    const RuleConditions& c = rule.must;
    for (const RulePattern* p : {&c.ip1, &c.host1, &c.ip2, &c.host2, &c.pid})
        if (p->IsSet() && !(p->containment() && p->needle().empty())) return false;
    for (const PortRange* r : {&c.port1, &c.port2})
        if (r->IsSet() && !(r->low <= 1 && r->high == 65535)) return false;
    if (c.stat % 3 != 0 || c.time != 0) return false;
    return !c.sysTime.IsSet() || (c.sysTime.from == 0 && c.sysTime.to == 23);
}

RuleChecker::Findings RuleChecker::CandidateFindings(bool isRule, const AutoKillRule& rule,
                                                     const RuleNotes& notes) {
    Findings f;
    std::vector<std::string>& out = f.warnings;
    if (!isRule) {
        out = notes.ignoredKeys;
        return f;
    }
    for (int i = 0; i < kRuleKeywordCount; ++i) {
        const RuleKeyword k = static_cast<RuleKeyword>(i);
        const std::string_view key = RuleKeywordText(k);
        const RuleFieldNote& note = notes.field(k);
        f.errors.insert(f.errors.end(), note.errors.begin(), note.errors.end());
        out.insert(out.end(), note.warnings.begin(), note.warnings.end());
        if (note.times > 1)
            out.push_back(std::string(key) + " given " + std::to_string(note.times) + " times: only the last counts");
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
                if (pattern->IsSet() && CidrWarning(key, *pattern, out)) break;
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
    if (MatchesEverySession(rule)) {
        const char* what = rule.HasConditions() ? "no condition a session can fail" : "no conditions";
        out.push_back(std::string(what) + (rule.allow != 0 ? ": exempts every session from the rules after it"
                                                           : ": matches every session"));
    }
    return f;
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
    const char* separator = "  # ";
    for (const std::string& error : errors) {
        out += separator;
        out += "error: " + error;
        separator = "; ";
    }
    for (const std::string& warning : warnings) {
        out += separator;
        out += warning;
        separator = "; ";
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
    Findings findings = CandidateFindings(isRule, rule, notes);
    line.errors = std::move(findings.errors);
    line.warnings = std::move(findings.warnings);
}

bool RuleChecker::StoppedLine(RuleLineReader& reader, CheckedLine& line) {
    const int stopped = RuleFileParser::FirstUnreadCandidateLine(reader);
    if (stopped == 0) return false;
    line.kind = CheckedLine::Kind::kStopped;
    line.lineNumber = stopped;
    line.rule = nullptr;
    line.errors.clear();
    line.warnings.clear();
    return true;
}

RuleChecker::Summary RuleChecker::Walk(RuleLineReader& reader,
                                       const std::function<void(const CheckedLine&)>& visit) {
    Summary summary;
    AutoKillRule rule;
    RuleNotes notes;
    CheckedLine line;
    const int candidates = RuleFileParser::ForEachCandidate(reader, [&](const RuleLinePiece& piece) {
        CheckCandidate(piece.text, piece.lineNumber, rule, notes, line);
        if (line.kind == CheckedLine::Kind::kRule) ++summary.rules;
        if (!line.errors.empty()) ++summary.errorLines;
        if (!line.warnings.empty()) ++summary.warningLines;
        visit(line);
    });
    if (candidates == RuleFileParser::kMaxCandidates && StoppedLine(reader, line)) {
        ++summary.warningLines;
        visit(line);
    }
    return summary;
}

std::string RuleChecker::SummaryText(const Summary& summary) {
    auto lines = [](int n) { return std::to_string(n) + (n == 1 ? " line" : " lines"); };
    return std::to_string(summary.rules) + " rules, " + lines(summary.errorLines) + " with errors, " +
           lines(summary.warningLines) + " with warnings";
}

RuleChecker::Summary RuleChecker::Report(RuleLineReader& reader, std::ostream& out) {
    const Summary summary = Walk(reader, [&](const CheckedLine& line) {
        out << line.lineNumber << ": " << line.Text() << '\n';
    });
    out << SummaryText(summary) << '\n';
    return summary;
}

RuleChecker::Summary RuleChecker::Check(std::string_view text, std::ostream& out) {
    RuleLineReader reader(text);
    return Report(reader, out);
}

RuleChecker::Summary RuleChecker::Check(std::istream& in, std::ostream& out) {
    RuleLineReader reader(in);
    return Report(reader, out);
}

bool RuleChecker::CheckFile(const std::string& path, std::ostream& out, std::string& error, Summary* summary) {
    RuleFile file(path);
    if (file.status() != RuleFile::Status::kOpen) {
        error = file.error();
        return false;
    }
    // The report is built aside, so that a read error in the middle does not end in a count.
    std::ostringstream report;
    const Summary counts = Check(file.stream(), report);
    if (!file.error().empty()) {
        error = file.error();
        return false;
    }
    out << report.str();
    if (summary != nullptr) *summary = counts;
    return true;
}

}  // namespace varnel
