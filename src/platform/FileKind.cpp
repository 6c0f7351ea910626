#include "platform/FileKind.h"

#include <sys/stat.h>

namespace varnel {

const char* FileKindText(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "no regular file";
}

}  // namespace varnel
