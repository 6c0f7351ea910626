#pragma once

#include <cstddef>
#include <istream>
#include <memory>
#include <string_view>

namespace varnel {

// One read of the rule file: a whole line, or a part of a line longer than one read takes.
struct RuleLinePiece {
    // The piece without its line feed (and without the CR of a CR LF), cut at its first NUL byte.
    // Valid until the next call of RuleLineReader::Next.
    std::string_view text;
    // 1-based number of the physical line the piece belongs to; the pieces of one long line share it.
    int lineNumber = 0;
    // True when the piece is no rule candidate: its first byte is '!', '#', ';' or 0x00..0x0F
    // (empty lines and lines beginning with TAB or CR included).
    bool skipped = false;
};

// Cuts rule-file text into reads as a text-mode reader with a 65,533-byte limit would: CR LF and a
// lone LF end a line, one read holds at most 65,533 bytes counting the line feed, and the rest of
// a longer line comes as further pieces. Reads a memory text, or pulls a stream block by block so
// that a huge file is never held whole.
// Ownership: the text or stream must outlive the reader. Threads: one thread per reader.
class RuleLineReader {
  public:
    static constexpr size_t kMaxReadBytes = 65533;

    explicit RuleLineReader(std::string_view text);
    explicit RuleLineReader(std::istream& in);

    // The next piece; false at the end of the text (or on a read error of the stream).
    bool Next(RuleLinePiece& piece);

  private:
    // Makes at least `want` bytes from pos_ available, or all that is left.
    void Fill(size_t want);
    size_t available() const { return size_ - pos_; }

    std::istream* in_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // stream mode only
    const char* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    bool eof_ = true;
    int lineNumber_ = 1;
};

}  // namespace varnel
