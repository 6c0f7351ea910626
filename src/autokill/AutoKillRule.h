#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

// The 22 keywords of the rule language, in the order the canonical form lists them: the two flags,
// the ten conditions, then the same ten conditions negated.
enum class RuleKeyword : uint8_t {
    kAllow,
    kNoLog,
    kIp1,
    kHost1,
    kPort1,
    kIp2,
    kHost2,
    kPort2,
    kStat,
    kTime,
    kPid,
    kSysTime,
    kNotIp1,
    kNotHost1,
    kNotPort1,
    kNotIp2,
    kNotHost2,
    kNotPort2,
    kNotStat,
    kNotTime,
    kNotPid,
    kNotSysTime,
};
inline constexpr int kRuleKeywordCount = 22;

// "ALLOW", "HOST2!" and so on.
const char* RuleKeywordText(RuleKeyword keyword);
// The keyword whose text is exactly `key` (case-sensitive); false when there is none.
bool FindRuleKeyword(std::string_view key, RuleKeyword& keyword);

// A text pattern of an address, host or process condition, kept ready to compare: whether it asks
// for containment (it holds '/') and the text to look for. Empty means "not set".
class RulePattern {
  public:
    RulePattern() = default;
    explicit RulePattern(std::string text);

    bool IsSet() const { return !text_.empty(); }
    // The pattern as written in the rule (after the field was cleaned).
    const std::string& text() const { return text_; }
    // True when the pattern holds '/': the text is searched anywhere instead of at one end.
    bool containment() const { return containment_; }
    // What is compared: the pattern with every '/' removed for containment, else the pattern.
    std::string_view needle() const { return needle_; }
    // The needle with A-Z folded to a-z: what a host pattern compares, without regard to case.
    std::string_view foldedNeedle() const { return foldedNeedle_; }
    // True for the host pattern "????", which also matches a host that has no name.
    bool unnamedHost() const { return text_ == "????"; }

    // Address and process patterns: containment, or `text` begins with the pattern.
    bool MatchesPrefix(std::string_view text) const;
    // Host patterns, without regard to ASCII case (DNS names have none): containment, or `host`
    // ends with the pattern; "????" also when host equals address.
    bool MatchesHost(std::string_view host, std::string_view address) const;

    bool operator==(const RulePattern& other) const { return text_ == other.text_; }

  private:
    std::string text_;
    std::string needle_;
    std::string foldedNeedle_;
    bool containment_ = false;
};

// A port range: 0,0 when not set, else 1 <= low <= high <= 65535.
struct PortRange {
    uint16_t low = 0;
    uint16_t high = 0;

    bool IsSet() const { return low != 0 && high != 0; }
    bool Contains(int64_t port) const { return low <= port && port <= high; }
    bool operator==(const PortRange&) const = default;
};

// An hour window, bounds included: 24,24 when not set (every parsed window with a bound of 24 or
// more is stored so), else from <= to <= 23. There is no window across midnight.
struct HourWindow {
    static constexpr uint16_t kUnset = 24;
    uint16_t from = kUnset;
    uint16_t to = kUnset;

    bool IsSet() const { return from < kUnset && to < kUnset; }
    bool Contains(int hour) const { return from <= hour && hour <= to; }
    bool operator==(const HourWindow&) const = default;
};

// The ten conditions of a rule; a rule holds them once as they are and once negated.
struct RuleConditions {
    RulePattern ip1;
    RulePattern host1;
    PortRange port1;
    RulePattern ip2;
    RulePattern host2;
    PortRange port2;
    uint16_t stat = 0;  // state code; taken modulo 3 when tested, 0 = not set
    uint32_t time = 0;  // minimum age in seconds, 0 = not set
    RulePattern pid;
    HourWindow sysTime;

    bool operator==(const RuleConditions&) const = default;
    bool AnySet() const;
};

// One rule of the rule file. A field at its default is a condition that is not set.
struct AutoKillRule {
    uint16_t allow = 0;  // 0 or 1: a matching session is exempt and the search ends
    uint16_t noLog = 0;  // 0 or 1: a matching session is killed without a block-log line
    RuleConditions must;
    RuleConditions mustNot;

    // Where the rule came from: the 1-based physical line of the rule file (0 when not from a
    // file) and the keywords its line named, one bit per RuleKeyword.
    int lineNumber = 0;
    uint32_t keywords = 0;

    bool Has(RuleKeyword k) const { return (keywords >> static_cast<int>(k)) & 1u; }
    // The field behind a keyword, or null when the keyword names a field of another kind.
    RulePattern* PatternFor(RuleKeyword k);
    const RulePattern* PatternFor(RuleKeyword k) const {
        return const_cast<AutoKillRule*>(this)->PatternFor(k);
    }
    PortRange* PortsFor(RuleKeyword k);
    const PortRange* PortsFor(RuleKeyword k) const { return const_cast<AutoKillRule*>(this)->PortsFor(k); }
    HourWindow* HoursFor(RuleKeyword k);
    const HourWindow* HoursFor(RuleKeyword k) const { return const_cast<AutoKillRule*>(this)->HoursFor(k); }
    // True when the flags and all conditions are equal (origin ignored).
    bool SameFields(const AutoKillRule& other) const {
        return allow == other.allow && noLog == other.noLog && must == other.must && mustNot == other.mustNot;
    }
    // True when at least one condition (plain or negated) is set; flags are no conditions.
    bool HasConditions() const { return must.AnySet() || mustNot.AnySet(); }
};

}  // namespace varnel
