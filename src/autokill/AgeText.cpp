#include "autokill/AgeText.h"

#include <algorithm>

namespace varnel {

namespace {

constexpr int64_t kMagnitudeCap = int64_t{1} << 40;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int ScanDecimals(std::string_view text, std::string_view format, int64_t* values, int maxValues) {
    size_t t = 0;
    int count = 0;
    for (size_t f = 0; f < format.size();) {
        char c = format[f];
        if (IsSpace(c)) {
            while (t < text.size() && IsSpace(text[t])) ++t;
            ++f;
            continue;
        }
        if (c != '%') {
            if (t >= text.size() || text[t] != c) return count;
            ++t;
            ++f;
            continue;
        }
        ++f;
        size_t width = 0;
        for (; f < format.size() && IsDigit(format[f]); ++f)
            width = width * 10 + static_cast<size_t>(format[f] - '0');
        ++f;  // the 'd'
        while (t < text.size() && IsSpace(text[t])) ++t;
        size_t limit = width > 0 ? std::min(text.size(), t + width) : text.size();
        bool negative = false;
        if (t < limit && (text[t] == '+' || text[t] == '-')) negative = text[t++] == '-';
        size_t digitsStart = t;
        int64_t value = 0;
        for (; t < limit && IsDigit(text[t]); ++t)
            value = std::min(value * 10 + (text[t] - '0'), kMagnitudeCap);
        if (t == digitsStart) return count;
        if (count < maxValues) values[count] = negative ? -value : value;
        ++count;
    }
    return count;
}

int64_t ParseAgeText(std::string_view text, const UiLanguage& language) {
    int64_t parts[3] = {0, 0, 0};
    int64_t hours = 0;
    int64_t minutes = 0;
    int64_t seconds = 0;
    const bool jp = language.IsJapanese();
    const bool hasHours = text.find(jp ? "時" : "h") != std::string_view::npos;
    const bool hasMinutes = text.find(jp ? "分" : "m") != std::string_view::npos;
    if (hasHours) {
        int n = ScanDecimals(text, jp ? "%d時間 %02d分 %02d秒" : "%dh %02dm %02ds", parts, 3);
        if (n > 0) hours = parts[0];
        if (n > 1) minutes = parts[1];
        if (n > 2) seconds = parts[2];
    } else if (hasMinutes) {
        int n = ScanDecimals(text, jp ? "%02d分 %02d秒" : "%02dm %02ds", parts, 2);
        if (n > 0) minutes = parts[0];
        if (n > 1) seconds = parts[1];
    } else {
        if (ScanDecimals(text, jp ? "%02d秒" : "%02ds", parts, 1) > 0) seconds = parts[0];
    }
    return hours * 3600 + minutes * 60 + seconds;
}

}  // namespace varnel
