#include "autokill/BlockLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "session/FixedText.h"

namespace varnel {

namespace {

std::string Strftime(const char* format, const std::tm& t) {
    char buf[64];
    size_t n = std::strftime(buf, sizeof buf, format, &t);
    return std::string(buf, n);
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// A row text as one line may hold it: control characters become spaces.
std::string OneLine(const char* text) {
    std::string s(text);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return s;
}

}  // namespace

BlockLog::BlockLog(const SettingsFile& settings, std::string defaultFolder, Clock& clock)
    : settings_(settings), defaultFolder_(std::move(defaultFolder)), clock_(clock) {}

void BlockLog::RefreshSettings() {
    const std::tm now = clock_.LocalTime();
    std::string name = settings_.ReadString("Session", "AutoBlockLogFileName", kDefaultNameTemplate);
    const std::pair<const char*, const char*> placeholders[] = {
        {"$YYYY$", "%Y"}, {"$YY$", "%y"}, {"$MM$", "%m"}, {"$DD$", "%d"},
        {"$HH$", "%H"},   {"$MI$", "%M"}, {"$SS$", "%S"},
    };
    for (const auto& [placeholder, format] : placeholders) ReplaceAll(name, placeholder, Strftime(format, now));

    std::string folder = settings_.ReadString("Settings", "LogRootFolder", "");
    if (!folder.empty() && folder[0] == '/') {
        if (folder.back() != '/') folder += '/';
    } else {
        folder = defaultFolder_;
        if (!folder.empty() && folder.back() != '/') folder += '/';
    }
    path_ = folder + name;
    lineTemplate_ = settings_.ReadString("Session", "AutoBlockLogFormat", kDefaultLineTemplate);
}

std::string BlockLog::FormatLine(const SessionRow& row, bool processInfoAvailable, int ruleNumber,
                                 const std::tm& now) const {
    // Each placeholder's value by name; one pass over the template, so values are never scanned
    // for placeholders themselves.
    const std::pair<std::string_view, std::string> values[] = {
        {"$DATE$", Strftime("%Y/%m/%d", now)},
        {"$TIME$", Strftime("%H:%M:%S", now)},
        {"$IP1$", OneLine(row[kColLocalAddress])},
        {"$HOST1$", OneLine(row[kColLocalHost])},
        {"$PORT1$", OneLine(row[kColLocalPort])},
        {"$IP2$", OneLine(row[kColRemoteAddress])},
        {"$HOST2$", OneLine(row[kColRemoteHost])},
        {"$PORT2$", OneLine(row[kColRemotePort])},
        {"$STAT$", OneLine(row[kColStatus])},
        {"$TM$", OneLine(row[kColTime])},
        {"$PID$", processInfoAvailable ? OneLine(row[kColProcess]) : std::string()},
        {"$RULE$", std::to_string(ruleNumber)},
    };
    std::string line;
    const std::string& t = lineTemplate_;
    for (size_t i = 0; i < t.size();) {
        bool replaced = false;
        if (t[i] == '$') {
            for (const auto& [name, value] : values) {
                if (t.compare(i, name.size(), name) == 0) {
                    line += value;
                    i += name.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            char c = t[i++];
            line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
        }
    }
    line.resize(Utf8PrefixLength(line, kMaxLineBytes - 1));  // room for the line feed
    return line;
}

std::string BlockLog::Write(const SessionRow& row, bool processInfoAvailable, int ruleNumber) {
    const std::tm now = clock_.LocalTime();
    if (now.tm_hour != lastHour_) {
        lastHour_ = now.tm_hour;
        RefreshSettings();
    }
    std::string line = FormatLine(row, processInfoAvailable, ruleNumber, now);
    if (enabled_) AppendToFile(line);
    AddPaneLine(line);
    if (listener_) listener_(line);
    return line;
}

void BlockLog::AppendToFile(const std::string& line) {
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    std::string text = line + "\r\n";
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
}

void BlockLog::AddPaneLine(std::string_view line) {
    if (pane_.size() >= kPaneLines) pane_.clear();
    pane_.emplace_front(line);
}

std::string BlockLog::PaneText() const {
    std::string text;
    for (const std::string& line : pane_) {
        text += line;
        text += '\n';
    }
    return text;
}

}  // namespace varnel
