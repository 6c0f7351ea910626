#include "autokill/RuleFileParser.h"

#include <algorithm>

#include "autokill/RuleChecker.h"
#include "autokill/RuleFile.h"

namespace varnel {

namespace {

constexpr uint64_t kMagnitudeCap = uint64_t{1} << 40;  // past every width we check against
constexpr size_t kMaxKeyInWarning = 64;

bool IsCleanedAway(char c) {
    return c == ' ' || c == '*' || c == ';' || c == '\t' || c == '\r' || c == '\n';
}

void UndoQuoting(std::string& field) {
    if (field.find('"') == std::string::npos) return;
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        out += field[i];
        if (field[i] == '"' && i + 1 < field.size() && field[i + 1] == '"') ++i;
    }
    if (!out.empty() && out.front() == '"') out.erase(0, 1);
    if (!out.empty() && out.back() == '"') out.pop_back();
    field = std::move(out);
}

// The field with every occurrence of `key` removed (left to right, not overlapping), then every '='.
std::string ValueOf(std::string_view field, std::string_view key) {
    std::string out;
    out.reserve(field.size());
    size_t pos = 0;
    for (size_t at; (at = field.find(key, pos)) != std::string_view::npos; pos = at + key.size()) {
        out.append(field.substr(pos, at - pos));
    }
    out.append(field.substr(pos));
    out.erase(std::remove(out.begin(), out.end(), '='), out.end());
    return out;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string RangeText(unsigned a, unsigned b) {
    return std::to_string(a) + "-" + std::to_string(b);
}

// "KEY 70000 became 4464" for a number part written outside the field's width.
void NoteWrap(std::vector<std::string>* warnings, std::string_view key, std::string_view part,
              const RuleNumber& n, uint32_t stored, bool fits) {
    if (warnings == nullptr || !n.hasDigits || fits) return;
    warnings->push_back(std::string(key) + " " + std::string(part) + " became " + std::to_string(stored));
}

// A number field: a value that is no number, or has more after its digits, is an error.
void NoteNumber(RuleFieldNote* note, std::string_view key, std::string_view value, const RuleNumber& n,
                uint32_t stored, bool fits) {
    if (note == nullptr) return;
    if (!n.wholeText) {
        note->errors.push_back(std::string(key) + " " + Quoted(value) + " is not a number (reads as " +
                               std::to_string(stored) + ")");
        return;
    }
    NoteWrap(&note->warnings, key, value, n, stored, fits);
}

void Apply(AutoKillRule& rule, RuleKeyword k, const std::string& value, RuleFieldNote* note) {
    const std::string_view key = RuleKeywordText(k);
    auto number16 = [&](uint16_t& field) {
        RuleNumber n = RuleFileParser::ReadNumber(value);
        field = static_cast<uint16_t>(n.value);
        NoteNumber(note, key, value, n, field, n.fits16);
    };
    auto flag = [&](uint16_t& field) {
        uint16_t raw = 0;
        number16(raw);
        field = raw != 0 ? 1 : 0;
    };
    if (RulePattern* pattern = rule.PatternFor(k)) {
        *pattern = RulePattern(value);
        return;
    }
    std::vector<std::string>* warnings = note != nullptr ? &note->warnings : nullptr;
    std::vector<std::string>* errors = note != nullptr ? &note->errors : nullptr;
    if (PortRange* ports = rule.PortsFor(k)) {
        *ports = RuleFileParser::ReadPortRange(value, key, warnings, errors);
        return;
    }
    if (HourWindow* hours = rule.HoursFor(k)) {
        *hours = RuleFileParser::ReadHourWindow(value, key, warnings, errors);
        return;
    }
    switch (k) {
        case RuleKeyword::kAllow:
            flag(rule.allow);
            break;
        case RuleKeyword::kNoLog:
            flag(rule.noLog);
            break;
        case RuleKeyword::kStat:
            number16(rule.must.stat);
            break;
        case RuleKeyword::kNotStat:
            number16(rule.mustNot.stat);
            break;
        case RuleKeyword::kTime:
        case RuleKeyword::kNotTime: {
            uint32_t& field = k == RuleKeyword::kTime ? rule.must.time : rule.mustNot.time;
            RuleNumber n = RuleFileParser::ReadNumber(value);
            field = n.value;
            NoteNumber(note, key, value, n, field, n.fits32);
            break;
        }
        default:
            break;
    }
}

void NoteIgnoredKey(RuleNotes& notes, std::string_view key) {
    if (key.empty()) return;
    std::string upper(key);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    RuleKeyword k;
    std::string shown(key.substr(0, kMaxKeyInWarning));
    if (FindRuleKeyword(upper, k)) {
        notes.ignoredKeys.push_back(shown + " ignored: keywords are upper case");
    } else {
        notes.ignoredKeys.push_back(shown + " ignored: no such keyword");
    }
}

}  // namespace

int RuleFileParser::Fill(RuleLineReader& reader, AutoKillRuleSet& out, RuleLoadReport* report) {
    out.Clear();
    AutoKillRule rule;
    RuleNotes notes;
    RuleNotes* wanted = report != nullptr ? &notes : nullptr;
    int suspect = 0;
    int errors = 0;
    const int candidates = ForEachCandidate(reader, [&](const RuleLinePiece& piece) {
        const bool isRule = ParseCandidate(piece.text, rule, wanted);
        if (wanted != nullptr) {
            const RuleChecker::Findings findings = RuleChecker::CandidateFindings(isRule, rule, notes);
            if (!findings.errors.empty())
                ++errors;
            else if (!findings.warnings.empty())
                ++suspect;
        }
        if (!isRule) return;
        rule.lineNumber = piece.lineNumber;
        out.Add(rule);
    });
    if (report != nullptr) {
        *report = RuleLoadReport();
        report->read = true;
        report->candidates = candidates;
        report->rules = out.count();
        report->errorLines = errors;
        report->suspectLines = suspect;
        if (candidates == kMaxCandidates) report->capLine = FirstUnreadCandidateLine(reader);
    }
    return candidates;
}

int RuleFileParser::FirstUnreadCandidateLine(RuleLineReader& reader) {
    RuleLinePiece piece;
    while (reader.Next(piece))
        if (!piece.skipped) return piece.lineNumber;
    return 0;
}

RuleNumber RuleFileParser::ReadNumber(std::string_view text) {
    RuleNumber n;
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t value = 0;
    uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        uint32_t digit = static_cast<uint32_t>(text[i] - '0');
        value = value * 10u + digit;
        magnitude = std::min(magnitude * 10 + digit, kMagnitudeCap);
        n.hasDigits = true;
    }
    if (!n.hasDigits) {
        n.fits16 = n.fits32 = true;
        return n;
    }
    n.value = negative ? 0u - value : value;
    n.wholeText = i == text.size();
    bool nonNegative = !negative || magnitude == 0;
    n.fits16 = nonNegative && magnitude <= 0xFFFF;
    n.fits32 = nonNegative && magnitude <= 0xFFFFFFFFu;
    return n;
}

PortRange RuleFileParser::ReadPortRange(std::string_view value, std::string_view key,
                                        std::vector<std::string>* warnings, std::vector<std::string>* errors) {
    std::vector<std::string> notes;
    size_t dash = value.find('-');
    uint16_t low = 0;
    uint16_t high = 0;
    bool clean = true;
    bool fits = true;
    bool namedHigh = false;
    if (dash == std::string_view::npos) {
        RuleNumber n = ReadNumber(value);
        low = high = static_cast<uint16_t>(n.value);
        clean = n.wholeText;
        fits = n.fits16;
    } else {
        std::string_view lowText = value.substr(0, dash);
        std::string rest(value.substr(dash + 1));
        rest.erase(std::remove(rest.begin(), rest.end(), '-'), rest.end());
        RuleNumber ln = ReadNumber(lowText);
        low = static_cast<uint16_t>(ln.value);
        clean = (lowText.empty() || ln.wholeText) && rest.size() + 1 == value.size() - dash;
        fits = ln.fits16;
        if (rest.empty()) {
            high = 65535;
        } else {
            RuleNumber hn = ReadNumber(rest);
            high = static_cast<uint16_t>(hn.value);
            clean = clean && hn.wholeText;
            fits = fits && hn.fits16;
            namedHigh = high != 0;
            if (high == 0) high = 65535;
        }
        if (low > high) {
            high = low;
            notes.push_back(std::string(key) + " " + std::string(value) + " became " + RangeText(low, high));
        }
    }
    if (low == 0) {
        if (namedHigh) notes.push_back(std::string(key) + " " + std::string(value) + " became 1-65535");
        low = 1;
        high = 65535;
    }
    if (!clean) {
        if (errors != nullptr)
            errors->push_back(std::string(key) + " " + Quoted(value) + " is not a port number or range (reads as " +
                              RangeText(low, high) + ")");
    } else if (!fits) {
        if (errors != nullptr)
            errors->push_back(std::string(key) + " " + std::string(value) + " is outside the ports 0-65535 (reads as " +
                              RangeText(low, high) + ")");
    } else if (warnings != nullptr) {
        warnings->insert(warnings->end(), notes.begin(), notes.end());
    }
    return {low, high};
}

HourWindow RuleFileParser::ReadHourWindow(std::string_view value, std::string_view key,
                                          std::vector<std::string>* warnings, std::vector<std::string>* errors) {
    size_t dash = value.find('-');
    uint16_t from = 0;
    uint16_t to = 0;
    bool clean = true;
    bool fits = true;  // every hour written lies in 0..23
    bool reversed = false;
    auto hour = [&fits](const RuleNumber& n) {
        fits = fits && n.fits16 && n.value <= 23;
        return static_cast<uint16_t>(n.value);
    };
    if (dash == std::string_view::npos) {
        RuleNumber n = ReadNumber(value);
        from = to = hour(n);
        clean = n.wholeText;
    } else {
        std::string_view fromText = value.substr(0, dash);
        std::string rest(value.substr(dash + 1));
        rest.erase(std::remove(rest.begin(), rest.end(), '-'), rest.end());
        RuleNumber fn = ReadNumber(fromText);
        from = hour(fn);
        // Without a first hour the window starts at 0, which nobody writing "-5" expects to read.
        clean = fn.wholeText && rest.size() + 1 == value.size() - dash;
        to = from;
        if (!rest.empty()) {
            RuleNumber tn = ReadNumber(rest);
            to = hour(tn);
            clean = clean && tn.wholeText;
            if (from > to) {
                to = from;
                reversed = true;
            }
        }
    }
    HourWindow window{from, to};
    if (from >= HourWindow::kUnset || to >= HourWindow::kUnset) window = HourWindow();
    const std::string reads = window.IsSet() ? "reads as " + RangeText(window.from, window.to) : "no condition";
    if (!clean) {
        if (errors != nullptr)
            errors->push_back(std::string(key) + " " + Quoted(value) + " is not an hour or hour window (" + reads +
                              ")");
    } else if (!fits) {
        if (errors != nullptr)
            errors->push_back(std::string(key) + " " + std::string(value) + " is outside the hours 0-23 (" + reads +
                              ")");
    } else if (reversed && warnings != nullptr) {
        warnings->push_back(std::string(key) + " " + std::string(value) + " became " + RangeText(from, to));
    }
    return window;
}

void RuleFileParser::SplitFields(std::string_view piece, std::vector<std::string>& fields) {
    fields.clear();
    std::string current;
    bool inQuotes = false;
    auto endField = [&] {
        UndoQuoting(current);
        fields.push_back(std::move(current));
        current.clear();
    };
    for (char c : piece) {
        if (c == '"') {
            inQuotes = !inQuotes;
            current += c;
        } else if (!inQuotes && (c == ',' || c == '\n')) {
            endField();
        } else {
            current += c;
        }
    }
    endField();
}

bool RuleFileParser::ParseCandidate(std::string_view piece, AutoKillRule& rule, RuleNotes* notes) {
    rule = AutoKillRule();
    if (notes != nullptr) *notes = RuleNotes();
    std::vector<std::string> fields;
    SplitFields(piece, fields);
    bool anyKeyword = false;
    for (std::string& field : fields) {
        field.erase(std::remove_if(field.begin(), field.end(), IsCleanedAway), field.end());
        size_t eq = field.find('=');
        if (eq == std::string::npos) continue;
        std::string_view key(field.data(), eq);
        RuleKeyword k;
        if (!FindRuleKeyword(key, k)) {
            if (notes != nullptr) NoteIgnoredKey(*notes, key);
            continue;
        }
        std::string value = ValueOf(field, key);
        RuleFieldNote* note = nullptr;
        if (notes != nullptr) {
            note = &notes->fields[static_cast<int>(k)];
            const int times = note->times;
            *note = RuleFieldNote();
            note->given = true;
            note->times = times + 1;
            note->value = value;
        }
        Apply(rule, k, value, note);
        rule.keywords |= 1u << static_cast<int>(k);
        anyKeyword = true;
    }
    return anyKeyword;
}

int RuleFileParser::Parse(std::string_view text, AutoKillRuleSet& out, RuleLoadReport* report) {
    RuleLineReader reader(text);
    return Fill(reader, out, report);
}

int RuleFileParser::Parse(std::istream& in, AutoKillRuleSet& out, RuleLoadReport* report) {
    RuleLineReader reader(in);
    return Fill(reader, out, report);
}

int RuleFileParser::LoadFile(const std::string& path, AutoKillRuleSet& out, RuleLoadReport* report) {
    RuleFile file(path);
    int candidates = 0;
    if (file.status() == RuleFile::Status::kOpen) candidates = Parse(file.stream(), out, report);
    if (file.error().empty()) return candidates;
    out.Clear();
    if (report != nullptr) {
        *report = RuleLoadReport();
        report->missing = file.status() == RuleFile::Status::kMissing;
        if (!report->missing) report->error = file.error();
    }
    return 0;
}

}  // namespace varnel
