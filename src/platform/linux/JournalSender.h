#pragma once

#include <string>
#include <vector>

namespace varnel {

// The systemd journal's native protocol, through libsystemd (sd_journal_sendv).
//
// A service's standard output or error is the journal when systemd connected it so: it then sets
// JOURNAL_STREAM to "DEVICE:INODE" of that stream. Only a stream whose device and inode match is
// taken for the journal (a stream the program redirected itself, or a child's inherited variable
// with other streams, is not).
class JournalSender {
  public:
    struct Streams {
        bool out = false;
        bool err = false;
    };
    // Which of `outFd` and `errFd` the JOURNAL_STREAM value `journalStream` (null: unset) names.
    static Streams Connected(const char* journalStream, int outFd = 1, int errFd = 2);
    // Sends one entry of "KEY=value" fields (a value may hold any bytes). False when the journal did
    // not take it (no journal socket, a refused field). Any thread.
    static bool Send(const std::vector<std::string>& fields);
};

}  // namespace varnel
