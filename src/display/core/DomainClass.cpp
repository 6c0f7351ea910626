#include "display/core/DomainClass.h"

#include <array>
#include <string>

#include "display/core/ColorScheme.h"

namespace varnel {

namespace {

struct Suffix {
    std::string_view text;
    int item;
};

// Each compared over exactly six trailing bytes; a shorter text never matches.
constexpr std::array<Suffix, 9> kJpSuffixes = {{
    {".ne.jp", ColorScheme::kNeJp},
    {".or.jp", ColorScheme::kOrJp},
    {".ad.jp", ColorScheme::kAdJp},
    {".gr.jp", ColorScheme::kGrJp},
    {".ed.jp", ColorScheme::kEdJp},
    {".ac.jp", ColorScheme::kAcJp},
    {".co.jp", ColorScheme::kCoJp},
    {".go.jp", ColorScheme::kGoJp},
    {".lg.jp", ColorScheme::kLgJp},
}};

// No suffix of this list ends another, so at most one matches.
constexpr std::array<Suffix, 21> kGenericSuffixes = {{
    {".com", ColorScheme::kCom},       {".net", ColorScheme::kNet},   {".org", ColorScheme::kOrg},
    {".edu", ColorScheme::kEdu},       {".gov", ColorScheme::kGov},   {".mil", ColorScheme::kMil},
    {".int", ColorScheme::kInt},       {".info", ColorScheme::kInfo}, {".biz", ColorScheme::kBiz},
    {".name", ColorScheme::kName},     {".pro", ColorScheme::kPro},   {".museum", ColorScheme::kMuseum},
    {".aero", ColorScheme::kAero},     {".coop", ColorScheme::kCoop}, {".jobs", ColorScheme::kJobs},
    {".travel", ColorScheme::kTravel}, {".mobi", ColorScheme::kMobi}, {".cat", ColorScheme::kCat},
    {".tel", ColorScheme::kTel},       {".asia", ColorScheme::kAsia}, {".post", ColorScheme::kPost},
}};

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Digits and dots (also the empty text), or an IPv6 literal: hexadecimal digits, dots (an
// embedded IPv4 tail) and colons, with at least one colon, which no host name has. `text` is
// lower case.
bool IsAddressLiteral(std::string_view text) {
    bool colon = false;
    bool hexLetter = false;
    for (char c : text) {
        if (c == ':') {
            colon = true;
        } else if (c >= 'a' && c <= 'f') {
            hexLetter = true;
        } else if (c != '.' && (c < '0' || c > '9')) {
            return false;
        }
    }
    return colon || !hexLetter;
}

}  // namespace

int DomainClass::Classify(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }

    if (EndsWith(lower, ".jp")) {
        for (const Suffix& s : kJpSuffixes) {
            if (EndsWith(lower, s.text)) return s.item;
        }
        return ColorScheme::kDefJp;
    }

    int item = ColorScheme::kDefault;
    for (const Suffix& s : kGenericSuffixes) {
        if (EndsWith(lower, s.text)) item = s.item;
    }
    if (IsAddressLiteral(lower)) item = ColorScheme::kIpAddr;
    return item;
}

}  // namespace varnel
