#include "autokill/BlockLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/FileKind.h"
#include "text/FixedText.h"

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

// The parts of a file name between its '/'s (empty parts of "a//b" included).
std::vector<std::string_view> Components(std::string_view name) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t slash = name.find('/', start);
        parts.push_back(name.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (slash == std::string_view::npos) return parts;
        start = slash + 1;
    }
}

// Why a file name (placeholders replaced) would not stay in the log folder, or empty.
std::string NameError(const std::string& name, const std::string& nameTemplate) {
    const std::string quoted = "the file name \"" + nameTemplate + "\"";
    if (name.empty()) return quoted + " is empty";
    if (name.front() == '/') return quoted + " is an absolute path; it must stay in the log folder";
    for (std::string_view part : Components(name))
        if (part == "..") return quoted + " has a \"..\" component; it must stay in the log folder";
    if (name.back() == '/') return quoted + " names a folder";
    return {};
}

// Why opening `part` (below the folder `dirFd`) failed with `error`: what is there when it is no
// regular file, else the system's text.
std::string OpenError(int dirFd, std::string_view part, int error) {
    struct stat st {};
    const std::string name(part);
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISLNK(st.st_mode)) return "a symbolic link, which is not followed";
        return std::string(FileKindText(st.st_mode)) + ", not a regular file";
    }
    return std::strerror(error);
}

bool OwnedByUsOrRoot(const struct stat& st) {
    return st.st_uid == ::geteuid() || st.st_uid == 0;
}

// The folder that the symbolic link `path` names, opened when the link itself was made by this
// user or root (systemd's LogsDirectory= of a DynamicUser= service is such a link), one level
// only; -1 with `why` set otherwise. The link is held open while it is read, so another link
// swapped in under its name is never the one followed.
int OpenThroughOwnLink(const std::string& path, std::string& why) {
    const size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const int parentFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int link = parentFd < 0 ? -1 : ::openat(parentFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    char target[4096];
    ssize_t length = -1;
    if (link < 0 || ::fstat(link, &st) != 0) {
        why = std::strerror(errno);
    } else if (!S_ISLNK(st.st_mode) || !OwnedByUsOrRoot(st)) {
        why = "a symbolic link made by user " + std::to_string(st.st_uid) + ", which is not followed";
    } else if ((length = ::readlinkat(link, "", target, sizeof target - 1)) < 0) {
        why = std::strerror(errno);
    }
    int dir = -1;
    if (length >= 0) {
        target[length] = '\0';
        dir = ::openat(parentFd, target, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir < 0) why = std::string("the folder its link names: ") + std::strerror(errno);
    }
    if (link >= 0) ::close(link);
    if (parentFd >= 0) ::close(parentFd);
    return dir;
}

}  // namespace

BlockLog::BlockLog(const SettingsFile& settings, std::string defaultFolder, Clock& clock, UiLanguage lang)
    : settings_(settings), defaultFolder_(std::move(defaultFolder)), clock_(clock), lang_(std::move(lang)) {}

void BlockLog::RefreshSettings() {
    const std::tm now = clock_.LocalTime();
    const std::string nameTemplate =
        settings_.Read(SettingsKeys::kAutoBlockLogFileName);
    std::string name = nameTemplate;
    const std::pair<const char*, const char*> placeholders[] = {
        {"$YYYY$", "%Y"}, {"$YY$", "%y"}, {"$MM$", "%m"}, {"$DD$", "%d"},
        {"$HH$", "%H"},   {"$MI$", "%M"}, {"$SS$", "%S"},
    };
    for (const auto& [placeholder, format] : placeholders)
        ReplaceAll(name, placeholder, Strftime(format, now));

    std::string folder = settings_.Read(SettingsKeys::kLogRootFolder);
    if (!folder.empty() && folder[0] == '/') {
        if (folder.back() != '/') folder += '/';
    } else {
        folder = defaultFolder_;
        if (!folder.empty() && folder.back() != '/') folder += '/';
    }
    folder_ = folder;
    name_ = name;
    nameError_ = NameError(name, nameTemplate);
    path_ = folder + name;
    lineTemplate_ = settings_.Read(SettingsKeys::kAutoBlockLogFormat);
}

std::string BlockLog::FormatLine(const RowTexts& row, bool processInfoAvailable, int ruleNumber,
                                 const std::tm& now) const {
    // Each placeholder's value by name; one pass over the template, so values are never scanned
    // for placeholders themselves.
    const std::string date = Strftime("%Y/%m/%d", now);
    const std::string time = Strftime("%H:%M:%S", now);
    const std::string rule = std::to_string(ruleNumber);
    const std::pair<std::string_view, std::string_view> values[] = {
        {"$DATE$", date},
        {"$TIME$", time},
        {"$IP1$", row.localAddress},
        {"$HOST1$", row.localHost},
        {"$PORT1$", row.localPort},
        {"$IP2$", row.remoteAddress},
        {"$HOST2$", row.remoteHost},
        {"$PORT2$", row.remotePort},
        {"$STAT$", row.status},
        {"$TM$", row.time},
        {"$PID$", processInfoAvailable ? row.process : std::string_view()},
        {"$RULE$", rule},
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
        if (!replaced) line += t[i++];
    }
    line = PrintableLine(line);
    line.resize(Utf8PrefixLength(line, kMaxLineBytes - 1));  // room for the line feed
    return line;
}

std::string BlockLog::Write(const SessionRow& row, bool processInfoAvailable, int ruleNumber) {
    return Write(RowTexts::FromRow(row), processInfoAvailable, ruleNumber);
}

std::string BlockLog::Write(const RowTexts& row, bool processInfoAvailable, int ruleNumber) {
    const std::tm now = clock_.LocalTime();
    const int date = (now.tm_year * 100 + now.tm_mon) * 100 + now.tm_mday;
    if (now.tm_hour != lastHour_ || date != lastDate_) {
        lastHour_ = now.tm_hour;
        lastDate_ = date;
        RefreshSettings();
    }
    std::string line = FormatLine(row, processInfoAvailable, ruleNumber, now);
    if (enabled_) AppendToFile(line);
    AddPaneLine(line);
    if (listener_) listener_(line);
    return line;
}

void BlockLog::AppendToFile(const std::string& line) {
    const std::string why = WriteToFile(line + "\r\n");
    if (why.empty()) {
        failureReported_ = false;
        return;
    }
    if (failureReported_) return;
    failureReported_ = true;
    const std::string report =
        PrintableLine(std::string(lang_.Pick("切断ログに書き込めません: ", "block log not written: ")) +
                      path_ + ": " + why);
    AddPaneLine(report);
    if (failureListener_) failureListener_(report);
}

std::string BlockLog::WriteToFile(const std::string& text) const {
    if (!nameError_.empty()) return nameError_;
    std::string why;
    int dir = OpenFolder(why);
    if (dir < 0) return "the log folder " + folder_ + ": " + why;
    // Folders inside the name are entered one by one without following links, so that the name
    // cannot be bent out of the log folder by a link planted in it.
    const std::vector<std::string_view> parts = Components(name_);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i].empty() || parts[i] == ".") continue;
        const std::string part(parts[i]);
        int fd = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            std::string why = "folder " + part + ": " + OpenError(dir, part, errno);
            ::close(dir);
            return why;
        }
        ::close(dir);
        dir = fd;
    }
    const std::string last(parts.back());
    int fd = ::openat(dir, last.c_str(),
                      O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0640);
    if (fd < 0) why = OpenError(dir, last, errno);
    ::close(dir);
    if (fd < 0) return why;

    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        why = std::string(FileKindText(st.st_mode)) + ", not a regular file";
    }
    for (size_t done = 0; why.empty() && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = std::string(n < 0 ? std::strerror(errno) : "nothing written") + " (" +
                  std::to_string(done) + " of " + std::to_string(text.size()) + " bytes written";
            // Part of a line would glue the next line to it: the file goes back to its size before.
            // O_APPEND wrote at the end, which was st_size unless another writer appended meanwhile.
            if (done > 0)
                why += ::ftruncate(fd, st.st_size) == 0
                           ? ", taken back"
                           : std::string(", not taken back: ") + std::strerror(errno);
            why += ")";
        }
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    if (::close(fd) != 0 && why.empty()) why = std::string("closing: ") + std::strerror(errno);
    return why;
}

int BlockLog::OpenFolder(std::string& why) const {
    // A trailing '/' would make the last component followed even with O_NOFOLLOW.
    std::string path = folder_.empty() ? std::string(".") : folder_;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        // A link fails as ELOOP or, with O_DIRECTORY, as ENOTDIR.
        const int error = errno;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            dir = OpenThroughOwnLink(path, why);
        else
            why = std::strerror(error);
        if (dir < 0) return -1;
    }
    // In a folder someone else owns, that someone could swap the file for a link or a FIFO
    // between our checks, or read the lines.
    struct stat st {};
    if (::fstat(dir, &st) != 0) {
        why = std::strerror(errno);
    } else if (!OwnedByUsOrRoot(st)) {
        why = "owned by user " + std::to_string(st.st_uid) + ", neither this user nor root";
    } else {
        return dir;
    }
    ::close(dir);
    return -1;
}

void BlockLog::AddPaneLine(std::string_view line) {
    if (pane_.size() >= kPaneLines) pane_.clear();
    pane_.emplace_front(PrintableLine(line));
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
