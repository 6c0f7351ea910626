#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel {

// Reads a dotted IPv4 address text into a 32-bit value in network byte order (first octet in the
// lowest-addressed byte). Each of the four numbers is read like atoi; a number below 0 or above
// 255 gives 0; a text with fewer than four dot-separated numbers gives 0xFFFFFFFF; anything after
// the fourth number is ignored. Neither result names a real connection, so a reset built from a
// text that is no address does nothing.
uint32_t ParseDottedAddress(const char* text);

// Writes the dotted text of `addr` (network byte order) as "%d.%d.%d.%d", first octet first,
// terminated; `out` holds at least 16 bytes. Returns the text's length.
size_t FormatDottedAddress(uint32_t addr, char* out);

}  // namespace varnel
