#include "autokill/RuleLineReader.h"

#include <algorithm>
#include <cstring>

namespace varnel {

namespace {

// The stream buffer: room for what is left of one read plus a block as large again, so that
// refilling (which moves what is left to the front) happens once per many lines, not per line.
constexpr size_t kBufferBytes = 4 * RuleLineReader::kMaxReadBytes;

bool IsSkipByte(unsigned char first) {
    return first == '!' || first == '#' || first == ';' || first <= 0x0F;
}

}  // namespace

RuleLineReader::RuleLineReader(std::string_view text) : data_(text.data()), size_(text.size()) {}

RuleLineReader::RuleLineReader(std::istream& in) : in_(&in), buffer_(new char[kBufferBytes]), eof_(false) {
    data_ = buffer_.get();
}

void RuleLineReader::Fill(size_t want) {
    if (eof_ || available() >= want) return;
    size_t left = available();
    std::memmove(buffer_.get(), buffer_.get() + pos_, left);
    pos_ = 0;
    size_ = left;
    // Fill the whole buffer: want is at most one read and a byte, well under its size.
    while (!eof_ && size_ < kBufferBytes) {
        in_->read(buffer_.get() + size_, static_cast<std::streamsize>(kBufferBytes - size_));
        size_t got = static_cast<size_t>(std::max<std::streamsize>(in_->gcount(), 0));
        size_ += got;
        if (got == 0 || !*in_) eof_ = true;
    }
}

bool RuleLineReader::Next(RuleLinePiece& piece) {
    // One byte more than a read takes, so that a CR LF straddling the limit is seen whole.
    Fill(kMaxReadBytes + 1);
    if (available() == 0) return false;

    const char* p = data_ + pos_;
    size_t window = std::min(available(), kMaxReadBytes + 1);
    const void* lf = std::memchr(p, '\n', window);
    size_t contentLength;
    size_t consumed;
    bool endsLine = false;
    if (lf != nullptr) {
        size_t at = static_cast<size_t>(static_cast<const char*>(lf) - p);
        size_t cr = (at > 0 && p[at - 1] == '\r') ? 1 : 0;
        // A CR LF counts as the single line feed a text-mode read turns it into.
        if (at - cr + 1 <= kMaxReadBytes) {
            contentLength = at - cr;
            consumed = at + 1;
            endsLine = true;
        } else {
            contentLength = consumed = kMaxReadBytes;
        }
    } else {
        contentLength = consumed = std::min(available(), kMaxReadBytes);
    }

    std::string_view text(p, contentLength);
    // The first byte decides before the NUL cut: a piece beginning with NUL is skipped.
    piece.skipped = contentLength == 0 || IsSkipByte(static_cast<unsigned char>(p[0]));
    if (size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    piece.text = text;
    piece.lineNumber = lineNumber_;

    pos_ += consumed;
    if (endsLine) ++lineNumber_;
    return true;
}

}  // namespace varnel
