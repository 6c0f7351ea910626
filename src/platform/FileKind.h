#pragma once

#include <sys/types.h>

namespace varnel {

// What a file that is no regular file is, for a refusal a person reads: "a folder", "a FIFO
// (named pipe)", "a character device", ...
const char* FileKindText(mode_t mode);

}  // namespace varnel
