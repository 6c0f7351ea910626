#include "report/JournalEventSink.h"

namespace varnel {

std::vector<std::string> JournalEventSink::Fields(const MonitorEvent& e) {
    const bool out = MonitorEvent::OnStandardOutput(e.kind);
    std::vector<std::string> f = {
        "MESSAGE=" + std::string(out ? "" : "varnel: ") + std::string(e.message),
        "PRIORITY=" + std::to_string(MonitorEvent::Priority(e.kind)),
        "SYSLOG_IDENTIFIER=varnel",
        std::string("VARNEL_EVENT=") + MonitorEvent::Name(e.kind),
    };
    if (e.ruleLine > 0) f.push_back("VARNEL_RULE_LINE=" + std::to_string(e.ruleLine));
    const std::pair<const char*, std::string_view> texts[] = {{"VARNEL_LOCAL=", e.local},   {"VARNEL_REMOTE=", e.remote},
                                                              {"VARNEL_HOST1=", e.host1},   {"VARNEL_HOST2=", e.host2},
                                                              {"VARNEL_PROCESS=", e.process}};
    for (const auto& [key, value] : texts)
        if (!value.empty()) f.push_back(key + std::string(value));
    if (e.pid != 0) f.push_back("VARNEL_PID=" + std::to_string(e.pid));
    if (e.reason != nullptr) f.push_back(std::string("VARNEL_REASON=") + e.reason);
    return f;
}

void JournalEventSink::Tell(const MonitorEvent& e) {
    if (e.message.empty()) return;
    const bool journal = MonitorEvent::OnStandardOutput(e.kind) ? out_ : err_;
    if (!journal || !send_(Fields(e))) fallback_.Tell(e);
}

}  // namespace varnel
