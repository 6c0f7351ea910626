#pragma once

#include <string>

namespace varnel {

// Holds an exclusive advisory lock (flock) on the folder of `target` for as long as it lives, so
// that the read-modify-write of one process cannot interleave with another's. The folder is the
// one object a rename does not replace, and locking it needs no file of its own beside the files
// it guards. A folder that cannot be locked (a file system without flock) leaves the write
// unserialised.
//
// Locks taken through two objects conflict even within one process: never nest two locks of one
// folder on one thread. Not copyable.
class FolderLock {
  public:
    explicit FolderLock(const std::string& target);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_ = -1;
};

}  // namespace varnel
