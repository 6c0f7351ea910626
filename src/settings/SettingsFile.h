#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "settings/SettingsKeys.h"

namespace varnel {

// The settings file: an INI file read and written one key at a time (rules of IniDocument).
//
// Every call is synchronous. The parsed file is kept and parsed again only when the file changed on
// disk (its device, inode, size, modification or change time, to the nanosecond, differ), so a
// read of an unchanged file costs one stat and a look-up, and several instances (and several
// processes) still see each other's writes at once. A write reads the file again under its lock,
// changes one key (or, through a Batch, several) and replaces the whole file. Writing needs a
// non-const object: code given a const reference can only read.
//
// A write never leaves a damaged file behind, even if the process dies in the middle: the new text
// goes to a temporary file in the same folder, is flushed to disk and then renamed over the old
// file, taking its mode and owner. A write that fails returns false and leaves the old file as it
// was. An existing file is replaced only when this process may write the file itself: a file
// without any write permission bit (read-only by intent, also for root), one this process may not
// write, one it cannot read, and one whose owner the new file could not keep (another user's) are
// left alone. When the path is a symbolic link, its target is replaced.
// After a kill during a write a stale hidden temporary file (".<name>.tmp.*") may remain beside it.
//
// Writes to one file are serialised across threads and processes by an advisory lock (flock) on
// its folder, held from the read to the rename, so two instances writing different keys at the
// same moment both keep their changes.
//
// Several running copies of the program share the file, and each writes its keys back when it
// ends. So that the last to end does not undo what the others changed, a write of the value this
// object (or a copy of it) first read for the key, or last wrote, is skipped while the file holds
// the key: only what this program changed, and keys missing from the file, are written.
//
// Threads: any; an instance guards its parsed copy with a mutex, instances share nothing.
class SettingsFile {
  public:
    // Longest text ReadString returns, in bytes; longer values are cut at the last whole UTF-8
    // character that fits.
    static constexpr size_t kMaxStringBytes = 4095;

    explicit SettingsFile(std::string path);
    // A copy names the same file and shares what was read and written through it (it is the same
    // program's view); it has no failure listener and parses the file afresh.
    SettingsFile(const SettingsFile& other);
    SettingsFile& operator=(const SettingsFile&) = delete;
    ~SettingsFile();

    const std::string& path() const { return path_; }

    // The value's leading decimal integer (blanks, optional sign, digits; "12abc" gives 12), clamped
    // to the range of int; 0 when the value is empty or does not begin with an integer.
    // `defaultValue` only when the file, the section or the key is missing.
    int ReadInt(std::string_view section, std::string_view key, int defaultValue) const;
    // A switch: on only when the value reads as the integer 1 (what the program writes for on);
    // 0, 2, -1 or no number are off. `defaultOn` when the key is missing (as ReadInt).
    bool ReadSwitch(std::string_view section, std::string_view key, bool defaultOn) const;
    // The value's text (trimmed, at most kMaxStringBytes), or `defaultValue` when the file, section
    // or key is missing. A present key with an empty value gives the empty text.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue = {}) const;

    // A key of the table (SettingsKeys): its default when missing, a number clamped to its range,
    // a switch read as its entry says.
    int Read(const IntKey& key) const;
    bool Read(const SwitchKey& key) const;
    std::string Read(const TextKey& key) const;
    // Writes a key of the table as WriteInt / WriteString do (a switch as 1 or 0).
    bool Write(const IntKey& key, int value) { return WriteInt(key.section, key.name, value); }
    bool Write(const SwitchKey& key, bool on) { return WriteInt(key.section, key.name, on ? 1 : 0); }
    bool Write(const TextKey& key, std::string_view text) { return WriteString(key.section, key.name, text); }

  private:
    struct Edit {
        std::string section, key, text;
        bool unchanged = false;  // the text is this program's baseline for the key
    };

  public:
    // Several keys written as one: one folder lock, one read of the file and at most one
    // replacement, with the rules of WriteString for each key (a key this program did not change
    // is left as the file holds it). Nothing is written before Commit; a batch dropped without
    // Commit writes nothing. Not shared between threads.
    class Batch {
      public:
        explicit Batch(SettingsFile& file) : file_(file) {}
        void Set(const IntKey& key, int value) { SetInt(key.section, key.name, value); }
        void Set(const SwitchKey& key, bool on) { SetInt(key.section, key.name, on ? 1 : 0); }
        void Set(const TextKey& key, std::string_view text) { SetString(key.section, key.name, text); }
        void SetInt(std::string_view section, std::string_view key, int value);
        void SetString(std::string_view section, std::string_view key, std::string_view text);
        // False when a name was not valid or the file could not be read or replaced (reported to
        // the failure listener as a single write is); the batch is empty afterwards.
        bool Commit();

      private:
        SettingsFile& file_;
        std::vector<Edit> edits_;
        bool invalid_ = false;
    };

    // Writes the decimal text of `value`.
    bool WriteInt(std::string_view section, std::string_view key, int value);
    // Writes `text` as it is, except that CR, LF and NUL become spaces (a value stays on its own
    // line). Creates the file, section and key as needed; everything else in the file is kept.
    // False when a name is not valid (IniDocument::IsValidSectionName / IsValidKeyName) or the file
    // could not be read or replaced.
    bool WriteString(std::string_view section, std::string_view key, std::string_view text);

    // Called with one printable line ("settings not saved to PATH: reason") when a write fails for
    // a reason of the file (read-only file or folder, the name is a folder, disk full): once, and
    // again only after a write has worked in between. Called on the writing thread, outside any
    // lock of this object.
    void SetFailureListener(std::function<void(const std::string&)> listener) {
        std::lock_guard<std::mutex> hold(mutex_);
        failureListener_ = std::move(listener);
    }

    // The leading decimal integer of `text` as ReadInt takes it; false when there is none.
    static bool ParseLeadingInt(std::string_view text, int& out);

    // How many times this object has parsed the file (a read of a changed file, not a write).
    size_t parseCount() const;

  private:
    struct Parsed;
    // Per key ("section\0key", lower case): the value as this program first read it, or last wrote
    // it. Shared by the copies of one object.
    struct Baseline {
        std::mutex mutex;
        std::unordered_map<std::string, std::string> values;
    };
    struct Stamp {
        uint64_t dev, ino;
        int64_t size, mtimeSec, mtimeNsec, ctimeSec, ctimeNsec;
        bool operator==(const Stamp&) const = default;
    };
    enum class FileState { kRead, kMissing, kUnreadable };

    static Stamp StampOf(const struct stat& st);
    static std::string IndexKey(std::string_view section, std::string_view key);
    // Brings parsed_ up to date with `file` (the path or its link target). `error`: errno when the
    // file could not be read. Caller holds mutex_.
    FileState Load(const std::string& file, int& error) const;
    std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;
    // One read-modify-write of all `edits` under the folder lock; why it failed, or the empty
    // text. An edit marked unchanged is left alone when the file holds its key.
    std::string Save(const std::vector<Edit>& edits);
    // Saves `edits`, records them as written or reports the failure once; false on failure.
    bool Apply(const std::vector<Edit>& edits);
    // The stored number of the key, or its default; no baseline recorded.
    int ReadNumber(std::string_view section, std::string_view key, int defaultValue) const;
    // Records `value` as the key's baseline: the first value read, or (`written`) any value written.
    void Remember(std::string_view section, std::string_view key, std::string_view value, bool written) const;
    bool IsBaseline(std::string_view section, std::string_view key, std::string_view value) const;

    std::string path_;
    mutable std::mutex mutex_;
    std::function<void(const std::string&)> failureListener_;
    mutable bool failureReported_ = false;    // since the last write that worked
    mutable std::unique_ptr<Parsed> parsed_;  // the file as last read or written; null: none
    mutable size_t parseCount_ = 0;
    std::shared_ptr<Baseline> baseline_;
};

}  // namespace varnel
