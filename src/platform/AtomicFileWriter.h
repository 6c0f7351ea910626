#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace varnel {

// The one way this program replaces a file it keeps for the user (the settings file, the rule
// file): so that at every moment the path names either the old or the new file, whole, even if
// the process dies in the middle. The new text goes to a hidden temporary file in the same
// folder (".<name>.tmp.<pid>.<n>"), is flushed to disk and then renamed over the old file.
//
// What the user set up is kept: a symbolic link survives (its target is replaced, in the
// target's own folder, or made there when the link dangles), and the new file takes the old one's
// mode and owner; a file whose owner
// could not be kept (another user's) is not replaced. A file without any write permission bit is
// read-only by intent, also for root, and is left alone, as is one this process may not write.
//
// Failures are returned as a short reason a person reads ("the file is read-only", "No space
// left on device"), the empty text meaning success; the old file is then as it was. After a kill
// during a write a stale temporary file may remain beside the target.
//
// Any thread. Two writers of one file at once each leave a whole file, the later rename winning;
// callers that read, change and write serialise with a FolderLock on Target(path).
class AtomicFileWriter {
  public:
    // Replaces (or creates) the file at `path` with `text` under the folder lock of its target.
    // A file made new gets `newFileMode` whatever the umask says (a file another program reads, such
    // as the metrics file node_exporter reads, is made 0644); by default the umask decides.
    static std::string Write(const std::string& path, std::string_view text, mode_t newFileMode = 0);
    // Deletes the file at `path` (a link itself, not its target) unless it is read-only as
    // Refuses says; a missing file is no failure.
    static std::string Remove(const std::string& path);

    // The pieces, for a caller that must read under the lock first.
    //
    // Where a write to `path` really goes: the target of a symbolic link, so the link survives.
    static std::string Target(const std::string& path);
    // The folder part of `path`, with its slash ("./" without one).
    static std::string FolderOf(const std::string& path);
    // Why the existing file `target` (with its `st`) may not be replaced, or the empty text.
    static std::string Refuses(const std::string& target, const struct stat& st);
    // Replaces `target` with `text`; `old` is the replaced file's stat, null when there is none.
    static std::string Replace(const std::string& target, std::string_view text, const struct stat* old,
                               mode_t newFileMode = 0);
};

}  // namespace varnel
