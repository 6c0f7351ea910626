#include "autokill/RuleLineReader.h"

#include <algorithm>
#include <cstring>

namespace varnel {

namespace {

// Stream reads come in blocks this large, so that refilling (which moves what is left to the
// front) happens once per several lines, not once per line.
constexpr size_t kBlockBytes = 256 * 1024;

bool IsSkipByte(unsigned char first) { return first == '!' || first == '#' || first == ';' || first <= 0x0F; }

}  // namespace

RuleLineReader::RuleLineReader(std::string_view text) : data_(text.data()), size_(text.size()) {}

RuleLineReader::RuleLineReader(std::istream& in) : in_(&in), eof_(false) {}

void RuleLineReader::Fill(size_t want) {
    if (eof_ || available() >= want) return;
    buffer_.erase(0, pos_);
    pos_ = 0;
    while (!eof_ && buffer_.size() < want) {
        size_t old = buffer_.size();
        buffer_.resize(old + kBlockBytes);
        in_->read(buffer_.data() + old, static_cast<std::streamsize>(kBlockBytes));
        size_t got = static_cast<size_t>(std::max<std::streamsize>(in_->gcount(), 0));
        buffer_.resize(old + got);
        if (got < kBlockBytes) eof_ = true;
    }
    data_ = buffer_.data();
    size_ = buffer_.size();
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
