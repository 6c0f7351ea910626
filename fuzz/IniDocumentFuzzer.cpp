// Arbitrary INI text, one write and reads around it. Invariants:
//   - parse then serialize gives the text back byte for byte;
//   - a write with valid names makes the key read back as the written value (line breaks turned
//     into spaces, blanks trimmed), after a round trip through text; every other key reads as
//     before; writing the same again changes nothing;
//   - a write with invalid names is refused and changes nothing;
//   - an integer written as "%d" reads back as itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/IniDocument.h"
#include "settings/SettingsFile.h"

using varnel::IniDocument;
using varnel::SettingsFile;

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string TrimCopy(std::string s) {
    while (!s.empty() && IsBlank(s.back())) s.pop_back();
    size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    return s.substr(b);
}

bool HasAny(const std::string& s, const std::string& chars) {
    return s.find_first_of(chars) != std::string::npos;
}

// Names that can be written and read back, stated independently of the parser.
bool ValidSection(const std::string& raw) {
    std::string s = TrimCopy(raw);
    return !s.empty() && !HasAny(s, std::string("]\r\n\0", 4));
}
bool ValidKey(const std::string& raw) {
    std::string k = TrimCopy(raw);
    return !k.empty() && !HasAny(k, std::string("=\r\n\0", 4)) && k[0] != '[' && k[0] != ';' && k[0] != '#';
}

std::string ExpectedRead(const std::string& value) {
    std::string v = value;
    for (char& c : v) {
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    }
    return TrimCopy(v);
}

struct Known {
    std::string section, key, value;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(24);
    const std::string key = in.ConsumeRandomLengthString(24);
    const std::string value = in.ConsumeRandomLengthString(64);
    const int number = in.ConsumeIntegral<int>();
    const std::string text = in.ConsumeRemainingBytesAsString();

    IniDocument doc = IniDocument::Parse(text);
    Check(doc.Serialize() == text, "parse/serialize round trip");

    // What every readable name reads before the write (the first occurrence wins).
    std::vector<Known> before;
    for (const IniDocument::Entry& e : doc.Entries()) {
        auto v = doc.Get(e.section, e.key);
        Check(v.has_value(), "listed key is readable");
        int n;
        SettingsFile::ParseLeadingInt(*v, n);
        before.push_back({std::string(e.section), std::string(e.key), std::string(*v)});
    }
    const size_t linesBefore = doc.LineCount();
    const bool existed = ValidSection(section) && ValidKey(key) && doc.Get(section, key).has_value();

    const bool valid = ValidSection(section) && ValidKey(key);
    const bool written = doc.Set(section, key, value);
    Check(written == valid, "write accepted exactly for valid names");
    if (!written) {
        Check(doc.Serialize() == text, "refused write changes nothing");
        return 0;
    }

    const std::string out = doc.Serialize();
    IniDocument after = IniDocument::Parse(out);
    Check(after.Serialize() == out, "written text round trip");
    auto read = after.Get(section, key);
    Check(read.has_value() && std::string(*read) == ExpectedRead(value), "written key reads back");
    for (const Known& k : before) {
        if (IniDocument::NamesEqual(IniDocument::Trim(k.section), IniDocument::Trim(section)) &&
            IniDocument::NamesEqual(IniDocument::Trim(k.key), IniDocument::Trim(key)))
            continue;
        auto v = after.Get(k.section, k.key);
        Check(v.has_value() && *v == k.value, "other keys read as before");
    }
    const size_t linesAfter = after.LineCount();
    if (existed) {
        Check(linesAfter == linesBefore, "replacing a key keeps the line count");
    } else {
        Check(linesAfter > linesBefore && linesAfter <= linesBefore + 3, "adding a key adds at most 3 lines");
    }

    IniDocument again = IniDocument::Parse(out);
    Check(again.Set(section, key, value) && again.Serialize() == out, "same write twice is stable");

    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", number);
    Check(again.Set(section, key, buf), "integer write");
    int n = 0;
    const IniDocument reread = IniDocument::Parse(again.Serialize());
    auto text2 = reread.Get(section, key);
    Check(text2 && SettingsFile::ParseLeadingInt(*text2, n) && n == number, "integer reads back");
    return 0;
}
