#pragma once

#include <istream>
#include <streambuf>
#include <string>
#include <vector>

namespace varnel {

// The rule file opened for reading; anything but a regular file is refused.
//
// The path is outside input: it may name a folder, a FIFO (whose reader waits for a writer), a
// device (/dev/zero never ends) or a socket. The file is opened with O_NONBLOCK, so opening a FIFO
// returns at once, and read only when fstat on the open descriptor says it is a regular file, so
// what was checked is what is read. A symbolic link to a regular file is followed: the user's own
// rule file may well be one. The path is looked at with stat first, so that a device is not even
// opened.
//
// stream() gives the file's bytes; a read error ends the stream and sets error(). The texts of
// error() hold the path as given: print them through PrintableLine. Owns the descriptor; not
// copyable. Threads: one thread per object.
class RuleFile : private std::streambuf {
  public:
    enum class Status {
        kOpen,     // a regular file, open for reading
        kMissing,  // nothing at the path
        kRefused,  // something at the path that cannot or must not be read
    };

    explicit RuleFile(const std::string& path);
    ~RuleFile() override;
    RuleFile(const RuleFile&) = delete;
    RuleFile& operator=(const RuleFile&) = delete;

    Status status() const { return status_; }
    // Why the file is not read, or why reading it stopped early: "no rule file at PATH",
    // "PATH is a folder, not a regular file", "cannot read PATH: Permission denied", ... Empty
    // while all is well.
    const std::string& error() const { return error_; }
    // The file's bytes (empty unless status() is kOpen).
    std::istream& stream() { return in_; }

  private:
    int_type underflow() override;
    void Refuse(const std::string& why);

    std::string path_;
    int fd_ = -1;
    Status status_ = Status::kRefused;
    std::string error_;
    std::vector<char> buffer_;
    std::istream in_{this};
};

}  // namespace varnel
