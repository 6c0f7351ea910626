#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel {

// Reads and replaces the rule file as the Options dialog's rules editor needs it: whole, byte for
// byte, with no line cut.
//
// Save replaces the file through AtomicFileWriter, as the settings file is replaced: never half
// written; a link is followed and survives; mode and owner are kept; a read-only file (no write
// permission bit) is left alone. Saving an empty text deletes the file instead (an empty rules
// box and a missing file both mean: no rules); a read-only file is not deleted either.
//
// Any thread; two writers of one path at once each leave a whole file, the later rename winning.
class RuleFileWriter {
  public:
    // Larger files are not loaded into the editor: no hand-written rule file comes near it.
    static constexpr size_t kMaxLoadBytes = 8u << 20;

    // The file's bytes into `text`. A missing file gives an empty text and true; a file that is
    // no regular file, is larger than kMaxLoadBytes or cannot be read gives false, an empty text
    // and the reason in `error` (the path included).
    static bool Load(const std::string& path, std::string& text, std::string* error = nullptr);
    // Replaces the file with `text`, or deletes it when `text` is empty. False, with the reason in
    // `error` (the path included), when the old file is still in place.
    static bool Save(const std::string& path, std::string_view text, std::string* error = nullptr);
};

}  // namespace varnel
