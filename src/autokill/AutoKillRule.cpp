#include "autokill/AutoKillRule.h"

#include <algorithm>

#include "text/AsciiCase.h"

namespace varnel {

namespace {

constexpr const char* kKeywordTexts[kRuleKeywordCount] = {
    "ALLOW",   "NOLOG", "IP1",    "HOST1",  "PORT1", "IP2",    "HOST2",  "PORT2", "STAT",  "TIME", "PID",
    "SYSTIME", "IP1!",  "HOST1!", "PORT1!", "IP2!",  "HOST2!", "PORT2!", "STAT!", "TIME!", "PID!", "SYSTIME!",
};

}  // namespace

const char* RuleKeywordText(RuleKeyword keyword) {
    return kKeywordTexts[static_cast<int>(keyword)];
}

bool FindRuleKeyword(std::string_view key, RuleKeyword& keyword) {
    for (int i = 0; i < kRuleKeywordCount; ++i) {
        if (key == kKeywordTexts[i]) {
            keyword = static_cast<RuleKeyword>(i);
            return true;
        }
    }
    return false;
}

RulePattern::RulePattern(std::string text) : text_(std::move(text)) {
    containment_ = text_.find('/') != std::string::npos;
    needle_ = text_;
    if (containment_) needle_.erase(std::remove(needle_.begin(), needle_.end(), '/'), needle_.end());
    foldedNeedle_ = AsciiLowered(needle_);
}

bool RulePattern::MatchesPrefix(std::string_view text) const {
    if (containment_) return text.find(needle_) != std::string_view::npos;
    return text.starts_with(needle_);
}

bool RulePattern::MatchesHost(std::string_view host, std::string_view address) const {
    if (containment_) return ContainsFolded(host, foldedNeedle_);
    return EndsWithFolded(host, foldedNeedle_) || (unnamedHost() && EqualsIgnoringAsciiCase(host, address));
}

bool RuleConditions::AnySet() const {
    return ip1.IsSet() || host1.IsSet() || port1.IsSet() || ip2.IsSet() || host2.IsSet() || port2.IsSet() ||
           stat != 0 || time != 0 || pid.IsSet() || sysTime.IsSet();
}

RulePattern* AutoKillRule::PatternFor(RuleKeyword k) {
    switch (k) {
        case RuleKeyword::kIp1:
            return &must.ip1;
        case RuleKeyword::kHost1:
            return &must.host1;
        case RuleKeyword::kIp2:
            return &must.ip2;
        case RuleKeyword::kHost2:
            return &must.host2;
        case RuleKeyword::kPid:
            return &must.pid;
        case RuleKeyword::kNotIp1:
            return &mustNot.ip1;
        case RuleKeyword::kNotHost1:
            return &mustNot.host1;
        case RuleKeyword::kNotIp2:
            return &mustNot.ip2;
        case RuleKeyword::kNotHost2:
            return &mustNot.host2;
        case RuleKeyword::kNotPid:
            return &mustNot.pid;
        default:
            return nullptr;
    }
}

PortRange* AutoKillRule::PortsFor(RuleKeyword k) {
    switch (k) {
        case RuleKeyword::kPort1:
            return &must.port1;
        case RuleKeyword::kPort2:
            return &must.port2;
        case RuleKeyword::kNotPort1:
            return &mustNot.port1;
        case RuleKeyword::kNotPort2:
            return &mustNot.port2;
        default:
            return nullptr;
    }
}

HourWindow* AutoKillRule::HoursFor(RuleKeyword k) {
    switch (k) {
        case RuleKeyword::kSysTime:
            return &must.sysTime;
        case RuleKeyword::kNotSysTime:
            return &mustNot.sysTime;
        default:
            return nullptr;
    }
}

}  // namespace varnel
