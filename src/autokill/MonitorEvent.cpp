#include "autokill/MonitorEvent.h"

namespace varnel {

const char* MonitorEvent::Name(Kind kind) {
    switch (kind) {
        case Kind::kBlocked: return "blocked";
        case Kind::kNotBlocked: return "not-blocked";
        case Kind::kRulesLoaded: return "rules-loaded";
        case Kind::kRuleError: return "rule-error";
        case Kind::kTableUnreadable: return "table-unreadable";
        case Kind::kLogWriteFailed: return "log-write-failed";
    }
    return "";
}

int MonitorEvent::Priority(Kind kind) {
    switch (kind) {
        case Kind::kBlocked:
        case Kind::kRulesLoaded: return 5;  // LOG_NOTICE
        case Kind::kNotBlocked:
        case Kind::kRuleError: return 4;  // LOG_WARNING
        case Kind::kTableUnreadable:
        case Kind::kLogWriteFailed: return 3;  // LOG_ERR
    }
    return 6;
}

}  // namespace varnel
