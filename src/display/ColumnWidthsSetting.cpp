#include "display/ColumnWidthsSetting.h"

#include <QTableView>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "settings/SettingsKeys.h"

namespace varnel {

void ColumnWidthsSetting::Read(const SettingsFile& settings) {
    std::copy(std::begin(kDefaultWidths), std::end(kDefaultWidths), widths_);
    Parse(settings.Read(SettingsKeys::kColumnWidths), widths_);
}

void ColumnWidthsSetting::ApplyTo(QTableView& view, int columns) const {
    for (int c = 0; c < kColumnCount && c < columns; ++c) view.setColumnWidth(c, widths_[c]);
}

void ColumnWidthsSetting::Write(const QTableView& view, int columns, SettingsFile::Batch& batch) {
    int w[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c) w[c] = c < columns ? view.columnWidth(c) : kDefaultWidths[c];
    char text[160];
    std::snprintf(text, sizeof text, "%i:%i:%i:%i:%i:%i:%i:%i:%i", w[0], w[1], w[2], w[3], w[4], w[5], w[6],
                  w[7], w[8]);
    batch.Set(SettingsKeys::kColumnWidths, text);
}

int ColumnWidthsSetting::Parse(const std::string& text, int widths[kColumnCount]) {
    // "%i:%i:...": each number decimal, 0x-hexadecimal or 0-octal; reading stops at the first one
    // that is missing or unreadable, and the rest keep what they had. Out-of-range numbers are
    // limited to 0..65535: a negative width or one that
    // overflows int is no width.
    const char* p = text.c_str();
    int read = 0;
    while (read < kColumnCount) {
        if (read > 0) {
            if (*p != ':') break;
            ++p;
        }
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(p, &end, 0);
        if (end == p) break;
        widths[read++] =
            errno == ERANGE ? (value < 0 ? 0 : 65535) : static_cast<int>(std::clamp(value, 0LL, 65535LL));
        p = end;
    }
    return read;
}

}  // namespace varnel
