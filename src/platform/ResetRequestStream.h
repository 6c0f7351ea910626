#pragma once

#include <string>
#include <string_view>

#include "platform/ConnectionReset.h"

namespace varnel {

// The reset helper's conversation: bytes of newline-terminated request lines in, one answer line
// per request out, in order. Each well-formed request (ResetRequestLine) is passed to `reset`;
// anything else is answered REFUSED and passed nowhere.
//
// A line longer than ResetRequestLine::kMaxLength is answered `REFUSED line-too-long` once its
// newline arrives; its bytes are dropped as they come, so no input grows the buffer beyond the
// limit. At the end of input a last line without its newline is answered `REFUSED unterminated`
// (a writer that died mid-line must not have half a request carried out).
//
// Ownership: borrows `reset`, which must outlive this object.
// Threads: one thread at a time.
// Failure: none of its own; a reset's failure is the ERROR answer.
class ResetRequestStream {
  public:
    explicit ResetRequestStream(ConnectionReset& reset) : reset_(reset) {}

    // Takes the next bytes of input; appends the answers of the lines they complete, each ending
    // in a newline, to `answers`.
    void Feed(std::string_view bytes, std::string& answers);
    // The input has ended: answers a last unterminated line, if any.
    void Finish(std::string& answers);

  private:
    void Complete(std::string& answers);

    ConnectionReset& reset_;
    std::string line_;
    bool overlong_ = false;
};

}  // namespace varnel
