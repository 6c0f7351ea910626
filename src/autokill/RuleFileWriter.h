#pragma once

#include <string>
#include <string_view>

namespace varnel {

// Reads and replaces the rule file as the Options dialog's rules editor needs it: whole, byte for
// byte, with no line cut and no length limit.
//
// Save never leaves a half-written rule file: the text goes to a new file in the same folder,
// which is flushed to disk and then renamed over the old one, so a crash or a full disk leaves
// the old file whole. The new file takes the old one's permission bits (0644 when
// there was none). Saving an empty text deletes the file instead (an empty rules box and a
// missing file both mean: no rules).
//
// Any thread; two writers of one path at once each leave a whole file, the later rename winning.
class RuleFileWriter {
  public:
    // The file's bytes into `text`. A missing file gives an empty text and true; a file that is
    // no regular file or cannot be read gives false and an empty text.
    static bool Load(const std::string& path, std::string& text);
    // Replaces the file with `text`, or deletes it when `text` is empty. False, with the reason in
    // `error` (the path included), when the old file is still in place.
    static bool Save(const std::string& path, std::string_view text, std::string* error = nullptr);
};

}  // namespace varnel
