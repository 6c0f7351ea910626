#include "settings/IniDocument.h"

#include <algorithm>

namespace varnel {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r\n\v\f";

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

}  // namespace

std::string_view IniDocument::Trim(std::string_view text) {
    size_t b = text.find_first_not_of(kBlanks);
    if (b == text.npos) return {};
    size_t e = text.find_last_not_of(kBlanks);
    return text.substr(b, e - b + 1);
}

bool IniDocument::NamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool IniDocument::IsValidSectionName(std::string_view name) {
    name = Trim(name);
    return !name.empty() && name.find(']') == name.npos && !HasLineBreakOrNul(name);
}

bool IniDocument::IsValidKeyName(std::string_view name) {
    name = Trim(name);
    if (name.empty() || name.find('=') != name.npos || HasLineBreakOrNul(name)) return false;
    return name[0] != '[' && name[0] != ';' && name[0] != '#';
}

std::string IniDocument::SanitizeValue(std::string_view value) {
    std::string out(value);
    for (char& c : out) {
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    }
    return out;
}

void IniDocument::Classify(Line& line) {
    std::string_view text = line.text;
    line.nameBegin = line.nameEnd = line.valueBegin = line.valueEnd = 0;
    size_t first = text.find_first_not_of(kBlanks);
    if (first == text.npos) {
        line.kind = Kind::kBlank;
        return;
    }
    char c = text[first];
    if (c == ';' || c == '#') {
        line.kind = Kind::kComment;
        return;
    }
    auto setRange = [&text](size_t from, size_t to, size_t& begin, size_t& end) {
        std::string_view part = Trim(text.substr(from, to - from));
        begin = part.empty() ? from : static_cast<size_t>(part.data() - text.data());
        end = begin + part.size();
    };
    if (c == '[') {
        line.kind = Kind::kSection;
        size_t close = text.find(']', first + 1);
        setRange(first + 1, close == text.npos ? text.size() : close, line.nameBegin, line.nameEnd);
        return;
    }
    size_t eq = text.find('=');
    if (eq == text.npos) {
        line.kind = Kind::kOther;
        return;
    }
    setRange(0, eq, line.nameBegin, line.nameEnd);
    if (line.nameBegin == line.nameEnd) {
        line.kind = Kind::kOther;
        line.nameBegin = line.nameEnd = 0;
        return;
    }
    line.kind = Kind::kKey;
    setRange(eq + 1, text.size(), line.valueBegin, line.valueEnd);
}

IniDocument::Line IniDocument::MakeLine(std::string text, Eol eol) {
    Line line;
    line.text = std::move(text);
    line.eol = eol;
    Classify(line);
    return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    if (text.substr(0, kBom.size()) == kBom) {
        doc.bom_ = kBom;
        text.remove_prefix(kBom.size());
    }
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == text.npos) {
            doc.lines_.push_back(MakeLine(std::string(text.substr(pos)), Eol::kNone));
            break;
        }
        bool crlf = nl > pos && text[nl - 1] == '\r';
        size_t end = crlf ? nl - 1 : nl;
        doc.lines_.push_back(
            MakeLine(std::string(text.substr(pos, end - pos)), crlf ? Eol::kCrLf : Eol::kLf));
        pos = nl + 1;
    }
    return doc;
}

std::string IniDocument::Serialize() const {
    size_t size = bom_.size();
    for (const Line& l : lines_) size += l.text.size() + 2;
    std::string out;
    out.reserve(size);
    out += bom_;
    for (const Line& l : lines_) {
        out += l.text;
        if (l.eol == Eol::kLf) out += '\n';
        if (l.eol == Eol::kCrLf) out += "\r\n";
    }
    return out;
}

long IniDocument::FindKey(std::string_view section, std::string_view key) const {
    bool inSection = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Line& l = lines_[i];
        if (l.kind == Kind::kSection) {
            inSection = NamesEqual(l.Name(), section);
        } else if (inSection && l.kind == Kind::kKey && NamesEqual(l.Name(), key)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

std::optional<std::string_view> IniDocument::Get(std::string_view section, std::string_view key) const {
    long i = FindKey(Trim(section), Trim(key));
    if (i < 0) return std::nullopt;
    return lines_[static_cast<size_t>(i)].Value();
}

std::vector<IniDocument::Entry> IniDocument::Entries() const {
    std::vector<Entry> out;
    const Line* section = nullptr;
    for (const Line& l : lines_) {
        if (l.kind == Kind::kSection) {
            section = &l;
        } else if (section != nullptr && l.kind == Kind::kKey) {
            out.push_back(Entry{section->Name(), l.Name(), l.Value()});
        }
    }
    return out;
}

IniDocument::Eol IniDocument::NewLineEnding() const {
    for (const Line& l : lines_) {
        if (l.eol != Eol::kNone) return l.eol;
    }
    return Eol::kLf;
}

void IniDocument::InsertLine(size_t at, std::string text) {
    Eol eol = NewLineEnding();
    // The line before the new one must end, or the two would run together.
    if (at > 0 && lines_[at - 1].eol == Eol::kNone) lines_[at - 1].eol = eol;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), MakeLine(std::move(text), eol));
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (!IsValidSectionName(section) || !IsValidKeyName(key)) return false;
    section = Trim(section);
    key = Trim(key);
    std::string clean = SanitizeValue(value);

    long found = FindKey(section, key);
    if (found >= 0) {
        Line& l = lines_[static_cast<size_t>(found)];
        // Keep the indentation and spelling of the name as the file has them.
        std::string text = l.text.substr(0, l.nameEnd);
        text += '=';
        text += clean;
        l.text = std::move(text);
        Classify(l);
        return true;
    }

    std::string keyLine(key);
    keyLine += '=';
    keyLine += clean;

    // First section of that name: the new key goes after its last non-blank line.
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Kind::kSection || !NamesEqual(lines_[i].Name(), section)) continue;
        size_t last = i;
        for (size_t j = i + 1; j < lines_.size() && lines_[j].kind != Kind::kSection; ++j) {
            if (lines_[j].kind != Kind::kBlank) last = j;
        }
        InsertLine(last + 1, std::move(keyLine));
        return true;
    }

    if (!lines_.empty() && lines_.back().kind != Kind::kBlank) InsertLine(lines_.size(), std::string());
    std::string header = "[";
    header += section;
    header += ']';
    InsertLine(lines_.size(), std::move(header));
    InsertLine(lines_.size(), std::move(keyLine));
    return true;
}

}  // namespace varnel
