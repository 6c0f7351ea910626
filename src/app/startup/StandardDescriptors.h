#pragma once

namespace varnel {

// Descriptors 0, 1 and 2 made safe before the program opens anything: one that is closed at
// start is opened on /dev/null. Otherwise the next socket or file would take its number, and
// what is meant for standard output (block-log lines) or standard error would be written into it
// (the connection table's netlink socket, the block-log file), or input read from it.
//
// Call first thing in main, before any thread, socket or file exists. Not thread-safe.
class StandardDescriptors {
  public:
    struct Closed {
        bool input = false;
        bool output = false;
        bool error = false;
    };

    // Opens /dev/null on each of the three that is closed and says which were. False when
    // /dev/null cannot be opened (a number may then still be free; the caller should end).
    static bool Secure(Closed& closed);
};

}  // namespace varnel
