#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

// The text of an INI file as a list of lines, able to look a key up and to replace or add one while
// every other byte of the file stays as it was.
//
// Reading rules (those of the private-profile functions the settings file follows):
//   - a line whose first non-blank character is '[' starts a section; its name is the text up to
//     the first ']' (or the end of the line), trimmed;
//   - a line whose first non-blank character is ';' or '#' is a comment;
//   - any other line with a '=' is a key: name before the first '=', value after it, both trimmed
//     of blanks (space, tab, CR, LF, VT, FF); a line with no '=' or an empty name is kept but means
//     nothing;
//   - section and key names compare case-insensitively (ASCII);
//   - keys before the first section belong to no section and cannot be read;
//   - when a section or key occurs more than once, the first occurrence of the key in file order,
//     across all sections of that name, is the one read and the one replaced.
// Lines end with LF or CR LF; a CR elsewhere is part of the line. A UTF-8 byte-order mark at the
// start is kept and otherwise ignored. Serialize() of an unmodified document gives back the parsed
// text byte for byte.
//
// Threads: a plain value; no shared state.
class IniDocument {
public:
    static IniDocument Parse(std::string_view text);
    std::string Serialize() const;

    // The value of `key` in `section`, or nothing when the key is missing. The view points into
    // this document and is valid until it is next modified or destroyed.
    std::optional<std::string_view> Get(std::string_view section, std::string_view key) const;

    // Sets `key` in `section` to `value` with SanitizeValue applied. An existing key keeps its line
    // (and the spelling of its name); a new key goes after the last non-blank line of the first
    // section of that name; a new section is appended at the end, after a blank line. New lines take
    // the line ending of the file's first line (LF for an empty file). Names are trimmed first.
    // Returns false, and changes nothing, when a name is not valid (see below).
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    // A section name is valid when, trimmed, it is non-empty and has no ']', CR, LF or NUL.
    static bool IsValidSectionName(std::string_view name);
    // A key name is valid when, trimmed, it is non-empty, has no '=', CR, LF or NUL and does not
    // begin with '[', ';' or '#'.
    static bool IsValidKeyName(std::string_view name);
    // `value` with every CR, LF and NUL replaced by a space, so that a written value can never end
    // its line early and start another key or section.
    static std::string SanitizeValue(std::string_view value);
    static std::string_view Trim(std::string_view text);
    static bool NamesEqual(std::string_view a, std::string_view b);

    struct Entry {
        std::string_view section;
        std::string_view key;
        std::string_view value;
    };
    // Every readable key line in file order, duplicates included. Views as for Get.
    std::vector<Entry> Entries() const;

    size_t LineCount() const { return lines_.size(); }

private:
    enum class Kind : uint8_t { kBlank, kComment, kSection, kKey, kOther };
    enum class Eol : uint8_t { kNone, kLf, kCrLf };
    struct Line {
        std::string text;  // without the line ending
        Eol eol = Eol::kNone;
        Kind kind = Kind::kOther;
        // kSection: the name; kKey: the key name. Offsets into `text`.
        size_t nameBegin = 0, nameEnd = 0;
        // kKey: the value, offsets into `text`.
        size_t valueBegin = 0, valueEnd = 0;

        std::string_view Name() const {
            return std::string_view(text).substr(nameBegin, nameEnd - nameBegin);
        }
        std::string_view Value() const {
            return std::string_view(text).substr(valueBegin, valueEnd - valueBegin);
        }
    };

    static Line MakeLine(std::string text, Eol eol);
    static void Classify(Line& line);
    // Index of the line read for (section, key), or -1.
    long FindKey(std::string_view section, std::string_view key) const;
    Eol NewLineEnding() const;
    void InsertLine(size_t at, std::string text);

    std::string bom_;
    std::vector<Line> lines_;
};

}  // namespace varnel
