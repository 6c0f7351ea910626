#pragma once

#include <cstdint>
#include <string_view>

namespace varnel {

// "ssh(42)" as the process column shows it, split into the name and the PID; a text without a
// "(digits)" tail that fits 32 bits is all name, PID 0.
void SplitProcessText(std::string_view text, std::string_view& name, uint32_t& pid);

}  // namespace varnel
