#include "settings/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/AtomicFileWriter.h"
#include "platform/FolderLock.h"
#include "settings/IniDocument.h"
#include "text/FixedText.h"

namespace varnel {

namespace {

enum class ReadResult { kOk, kMissing, kError };

// Reads the whole regular file at `path`. Anything that is not a regular file (a folder, a pipe)
// is an error, so it is neither parsed nor replaced.
ReadResult ReadWholeFile(const std::string& path, std::string& out, struct stat& st) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing : ReadResult::kError;
    ReadResult result = ReadResult::kOk;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result = ReadResult::kError;
    } else {
        out.reserve(static_cast<size_t>(st.st_size));
        char buf[16384];
        for (;;) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                out.append(buf, static_cast<size_t>(n));
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                result = ReadResult::kError;
                break;
            }
        }
    }
    ::close(fd);
    return result;
}

// Why the file at `target` could not be read for a write.
std::string UnreadableReason(const std::string& target, int error) {
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "the name is a folder";
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return "the name is no regular file";
    return std::string("it cannot be read (") + std::strerror(error) + ")";
}

}  // namespace

bool SettingsFile::ParseLeadingInt(std::string_view text, int& out) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    int64_t value = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT_MIN) : INT_MAX;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;  // saturate; further digits cannot bring it back
    }
    out = static_cast<int>(negative ? -value : value);
    return true;
}

SettingsFile::SettingsFile(std::string path)
    : path_(std::move(path)), baseline_(std::make_shared<Baseline>()) {}
SettingsFile::SettingsFile(const SettingsFile& other) : path_(other.path_), baseline_(other.baseline_) {}
SettingsFile::~SettingsFile() = default;

struct SettingsFile::Parsed {
    Stamp stamp;
    std::string text;
    IniDocument doc;
    // Lower-case "section\0key" -> the value read for it (the first occurrence, as IniDocument::Get);
    // views into `doc`.
    std::unordered_map<std::string, std::string_view> index;

    void BuildIndex() {
        index.clear();
        for (const IniDocument::Entry& e : doc.Entries()) index.emplace(IndexKey(e.section, e.key), e.value);
    }
};

std::string SettingsFile::IndexKey(std::string_view section, std::string_view key) {
    std::string k;
    k.reserve(section.size() + key.size() + 1);
    for (std::string_view part :
         {IniDocument::Trim(section), std::string_view("\0", 1), IniDocument::Trim(key)})
        for (char c : part) k += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return k;
}

SettingsFile::Stamp SettingsFile::StampOf(const struct stat& st) {
    return Stamp{static_cast<uint64_t>(st.st_dev),         static_cast<uint64_t>(st.st_ino),
                 static_cast<int64_t>(st.st_size),         static_cast<int64_t>(st.st_mtim.tv_sec),
                 static_cast<int64_t>(st.st_mtim.tv_nsec), static_cast<int64_t>(st.st_ctim.tv_sec),
                 static_cast<int64_t>(st.st_ctim.tv_nsec)};
}

SettingsFile::FileState SettingsFile::Load(const std::string& file, int& error) const {
    error = 0;
    struct stat st;
    if (parsed_ && ::stat(file.c_str(), &st) == 0 && StampOf(st) == parsed_->stamp) return FileState::kRead;
    parsed_.reset();
    auto parsed = std::make_unique<Parsed>();
    ReadResult read = ReadWholeFile(file, parsed->text, st);
    if (read != ReadResult::kOk) {
        error = errno;
        return read == ReadResult::kMissing ? FileState::kMissing : FileState::kUnreadable;
    }
    parsed->stamp = StampOf(st);
    parsed->doc = IniDocument::Parse(parsed->text);
    parsed->BuildIndex();
    ++parseCount_;
    parsed_ = std::move(parsed);
    return FileState::kRead;
}

std::optional<std::string> SettingsFile::Lookup(std::string_view section, std::string_view key) const {
    std::lock_guard<std::mutex> hold(mutex_);
    int error;
    if (Load(path_, error) != FileState::kRead) return std::nullopt;
    auto it = parsed_->index.find(IndexKey(section, key));
    if (it == parsed_->index.end()) return std::nullopt;
    return std::string(it->second);
}

size_t SettingsFile::parseCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return parseCount_;
}

int SettingsFile::ReadNumber(std::string_view section, std::string_view key, int defaultValue) const {
    std::optional<std::string> value = Lookup(section, key);
    int result = defaultValue;
    // A value that holds no number reads as 0, as an empty one does.
    if (value && !ParseLeadingInt(*value, result)) result = 0;
    return result;
}

int SettingsFile::ReadInt(std::string_view section, std::string_view key, int defaultValue) const {
    const int result = ReadNumber(section, key, defaultValue);
    Remember(section, key, std::to_string(result), false);
    return result;
}

int SettingsFile::Read(const IntKey& key) const {
    // The baseline is the clamped number: writing it back unchanged leaves the file alone.
    const int result = std::clamp(ReadNumber(key.section, key.name, key.defaultValue), key.min, key.max);
    Remember(key.section, key.name, std::to_string(result), false);
    return result;
}

bool SettingsFile::Read(const SwitchKey& key) const {
    const int value = ReadInt(key.section, key.name, key.defaultOn ? 1 : 0);
    return key.onlyOne ? value == 1 : value != 0;
}

std::string SettingsFile::Read(const TextKey& key) const {
    return ReadString(key.section, key.name, key.defaultText);
}

void SettingsFile::Remember(std::string_view section, std::string_view key, std::string_view value,
                            bool written) const {
    std::lock_guard<std::mutex> hold(baseline_->mutex);
    std::string& kept = baseline_->values.try_emplace(IndexKey(section, key), value).first->second;
    if (written) kept = value;
}

bool SettingsFile::IsBaseline(std::string_view section, std::string_view key, std::string_view value) const {
    std::lock_guard<std::mutex> hold(baseline_->mutex);
    auto it = baseline_->values.find(IndexKey(section, key));
    return it != baseline_->values.end() && it->second == value;
}

bool SettingsFile::ReadSwitch(std::string_view section, std::string_view key, bool defaultOn) const {
    return ReadInt(section, key, defaultOn ? 1 : 0) == 1;
}

std::string SettingsFile::ReadString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
    std::optional<std::string> value = Lookup(section, key);
    std::string_view chosen = value ? std::string_view(*value) : defaultValue;
    std::string result(chosen.substr(0, Utf8PrefixLength(chosen, kMaxStringBytes)));
    Remember(section, key, result, false);
    return result;
}

bool SettingsFile::WriteInt(std::string_view section, std::string_view key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool SettingsFile::WriteString(std::string_view section, std::string_view key, std::string_view text) {
    if (!IniDocument::IsValidSectionName(section) || !IniDocument::IsValidKeyName(key)) return false;
    return Apply({Edit{std::string(section), std::string(key), std::string(text), false}});
}

void SettingsFile::Batch::SetInt(std::string_view section, std::string_view key, int value) {
    SetString(section, key, std::to_string(value));
}

void SettingsFile::Batch::SetString(std::string_view section, std::string_view key, std::string_view text) {
    if (!IniDocument::IsValidSectionName(section) || !IniDocument::IsValidKeyName(key)) {
        invalid_ = true;
        return;
    }
    edits_.push_back(Edit{std::string(section), std::string(key), std::string(text), false});
}

bool SettingsFile::Batch::Commit() {
    std::vector<Edit> edits;
    edits.swap(edits_);
    const bool valid = !invalid_;
    invalid_ = false;
    if (edits.empty()) return valid;
    return file_.Apply(edits) && valid;
}

bool SettingsFile::Apply(const std::vector<Edit>& requested) {
    std::vector<Edit> edits = requested;
    for (Edit& e : edits) e.unchanged = IsBaseline(e.section, e.key, e.text);
    std::function<void(const std::string&)> listener;
    std::string reason;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        reason = Save(edits);
        if (reason.empty()) {
            failureReported_ = false;
            for (const Edit& e : edits) Remember(e.section, e.key, e.text, true);
            return true;
        }
        if (!failureReported_) {
            failureReported_ = true;
            listener = failureListener_;
        }
    }
    // Outside the lock: the listener may well write settings of its own.
    if (listener) listener(PrintableLine("settings not saved to " + path_ + ": " + reason));
    return false;
}

std::string SettingsFile::Save(const std::vector<Edit>& edits) {
    std::string target = AtomicFileWriter::Target(path_);
    FolderLock lock(target);
    int error = 0;
    // Under the folder lock the file is checked again, so another process's write is never lost.
    FileState state = Load(target, error);
    if (state == FileState::kUnreadable) return UnreadableReason(target, error);
    // What this program did not change stays as another copy may have changed it meanwhile.
    std::vector<const Edit*> changes;
    for (const Edit& e : edits)
        if (!e.unchanged || state != FileState::kRead || parsed_->index.count(IndexKey(e.section, e.key)) == 0)
            changes.push_back(&e);
    if (changes.empty()) return {};
    struct stat st;
    const bool exists = state == FileState::kRead;
    if (exists && ::stat(target.c_str(), &st) != 0) return std::strerror(errno);
    if (exists) {
        std::string refused = AtomicFileWriter::Refuses(target, st);
        if (!refused.empty()) return refused;
    }
    auto parsed = std::make_unique<Parsed>();
    if (exists) parsed->doc = parsed_->doc;
    for (const Edit* e : changes) parsed->doc.Set(e->section, e->key, e->text);
    parsed->text = parsed->doc.Serialize();
    if (exists && parsed->text == parsed_->text) return {};
    std::string reason = AtomicFileWriter::Replace(target, parsed->text, exists ? &st : nullptr);
    if (!reason.empty()) return reason;
    // The written text is what the next read would parse; a file that cannot be checked now is
    // simply read again then.
    parsed_.reset();
    if (::stat(target.c_str(), &st) == 0) {
        parsed->stamp = StampOf(st);
        parsed->BuildIndex();
        parsed_ = std::move(parsed);
    }
    return {};
}

}  // namespace varnel
