#pragma once

#include <string>
#include <vector>

#include "platform/TcpRow.h"
#include "platform/linux/SocketIdentity.h"

namespace varnel {

// Reads the TCP socket table from <procRoot>/net/tcp and <procRoot>/net/tcp6 (rows as
// ProcNetTcpParser makes them), the reader that works without netlink. Rows come with owningPid 0;
// `ids` gets each row's inode and uid. The text buffer is kept between reads.
//
// The files describe the network namespace of the reading thread.
// Threads: one caller at a time. Failure: Read returns false, with both vectors empty, when
// net/tcp cannot be read; a missing net/tcp6 (a kernel without IPv6) is no failure.
class ProcNetTcpReader {
  public:
    explicit ProcNetTcpReader(std::string procRoot = "/proc");

    bool Read(std::vector<TcpRow>& rows, std::vector<SocketIdentity>& ids);
    // True when net/tcp can be opened for reading.
    bool Readable() const;

  private:
    // Reads the whole file into text_[0, size); false when it cannot be opened or read.
    bool Slurp(const std::string& path, size_t& size);

    std::string tcpPath_;
    std::string tcp6Path_;
    std::vector<char> text_;
};

}  // namespace varnel
