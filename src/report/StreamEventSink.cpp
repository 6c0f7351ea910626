#include "report/StreamEventSink.h"

#include <chrono>
#include <cstdio>

#include "text/JsonText.h"

namespace varnel {

std::string StreamEventSink::JsonLine(const MonitorEvent& e, double unixSeconds) {
    std::string s = "{\"event\":";
    AppendJsonString(s, MonitorEvent::Name(e.kind));
    char time[32];
    std::snprintf(time, sizeof time, ",\"time\":%.3f", unixSeconds);
    s += time;
    s += ",\"message\":";
    AppendJsonString(s, e.message);
    if (e.ruleLine > 0) s += ",\"rule_line\":" + std::to_string(e.ruleLine);
    const std::pair<const char*, std::string_view> texts[] = {
        {"local", e.local}, {"remote", e.remote}, {"host1", e.host1}, {"host2", e.host2}, {"process", e.process}};
    for (const auto& [key, value] : texts) {
        if (value.empty()) continue;
        s += ",\"";
        s += key;
        s += "\":";
        AppendJsonString(s, value);
    }
    if (e.pid != 0) s += ",\"pid\":" + std::to_string(e.pid);
    if (e.reason != nullptr) {
        s += ",\"reason\":";
        AppendJsonString(s, e.reason);
    }
    s += "}\n";
    return s;
}

void StreamEventSink::PutOut(const std::string& line) {
    if (outClosed_) return;
    out_ << line << std::flush;
    if (out_) return;
    outClosed_ = true;
    if (onOutClosed_) onOutClosed_();
}

void StreamEventSink::Tell(const MonitorEvent& e) {
    if (e.message.empty()) return;
    if (json_) {
        const double now =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        PutOut(JsonLine(e, now));
    } else if (MonitorEvent::OnStandardOutput(e.kind)) {
        PutOut(std::string(e.message) + '\n');
    } else {
        err_ << "varnel: " << e.message << '\n' << std::flush;
    }
}

}  // namespace varnel
