#pragma once

namespace varnel {

// Compares two sort keys the way a person reads them, not byte by byte: end of text first, then
// blanks, then punctuation, then digits, then letters (a before B; case decides only when the
// texts are otherwise equal, lower case first), then other bytes. Spaces are significant, so
// blank-padded fixed-width fields keep their numeric and alphabetical order.
// Returns <0, 0 or >0 like strcmp. Thread-safe.
int CompareSortKeys(const char* a, const char* b);

}  // namespace varnel
