#pragma once

#include <cstdint>
#include <string_view>

#include "settings/UiLanguage.h"

namespace varnel {

// The age in seconds of a session as the "Time" column shows it: "%dh %02dm %02ds", "%02dm %02ds" or
// "%02ds" in English, "%d時間 %02d分 %02d秒", "%02d分 %02d秒" or "%02d秒" in Japanese. The form is
// chosen by the language and by which unit letters the text holds; it is read the way sscanf reads
// such a format, so parts that do not read count as 0 (a text that does not read at all is age 0).
// Pure function; any thread.
int64_t ParseAgeText(std::string_view text, const UiLanguage& language);

// sscanf-style reading of `text` against a format made of "%d" / "%<width>d" conversions, white
// space (matching any run of white space, also none) and literal bytes. Stores up to `maxValues`
// numbers and returns how many conversions succeeded before the first mismatch.
int ScanDecimals(std::string_view text, std::string_view format, int64_t* values, int maxValues);

}  // namespace varnel
