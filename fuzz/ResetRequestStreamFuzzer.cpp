// The reset helper's input, as a hostile writer would send it: any bytes, in reads of any size,
// get exactly one answer per newline (plus one for an unterminated tail), every answer is one of
// the protocol's words, and only a connection's four-tuple (no zero port, no unspecified address)
// ever reaches the reset. The window's side agrees: each request it would write for such a row
// reads back as that row, and whatever line comes back from a helper reads as a result whose
// reason is short and printable.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ResetRequestLine.h"
#include "platform/ResetRequestStream.h"
#include "platform/fake/FakeConnectionReset.h"

namespace {

using namespace varnel;

void Require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool Known(std::string_view answer) {
    return answer == "OK" || answer.rfind("REFUSED ", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the read size, as a pipe may deliver any split of the stream.
    const size_t chunk = 1 + data[0] % 64;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    FakeConnectionReset reset;
    ResetRequestStream stream(reset);
    std::string answers;
    for (size_t at = 0; at < input.size(); at += chunk) stream.Feed(input.substr(at, chunk), answers);
    stream.Finish(answers);

    size_t lines = 0;
    for (char c : input) lines += c == '\n';
    const bool tail = !input.empty() && input.back() != '\n';
    size_t count = 0, oks = 0;
    for (size_t start = 0; start < answers.size();) {
        const size_t end = answers.find('\n', start);
        Require(end != std::string::npos, "every answer ends in a newline");
        const std::string_view answer(answers.data() + start, end - start);
        Require(Known(answer), "an answer of the protocol");
        Require(answer.size() < 64, "a short answer");
        oks += answer == "OK";
        ++count;
        start = end + 1;
    }
    Require(count == lines + (tail ? 1 : 0), "one answer per line");
    Require(oks == reset.calls.size(), "one reset per OK");
    for (const TcpRow& row : reset.calls) {
        Require(row.state == kTcpDeleteTcb, "a delete request");
        Require((row.localPort & 0xffff) != 0 && (row.remotePort & 0xffff) != 0, "no zero port");
        Require(row.v6 ? !row.localAddr6.IsUnspecified() && !row.remoteAddr6.IsUnspecified()
                       : row.localAddr != 0 && row.remoteAddr != 0,
                "no unspecified address");
        const ResetRequestLine::Parsed back = ResetRequestLine::Parse(ResetRequestLine::Request(row));
        Require(back.ok, "the window's request for a row parses");
        Require(back.row.v6 == row.v6 && back.row.localPort == row.localPort &&
                    back.row.remotePort == row.remotePort && back.row.localAddr == row.localAddr &&
                    back.row.remoteAddr == row.remoteAddr && back.row.localAddr6 == row.localAddr6 &&
                    back.row.remoteAddr6 == row.remoteAddr6,
                "the window's request names the same connection");
    }
    // The same bytes as a helper's answers.
    for (size_t start = 0; start < input.size();) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        const ResetResult r = ResetRequestLine::ReadAnswer(input.substr(start, end - start));
        Require(r.detail.size() < 160, "a short reason");
        for (char c : r.detail) Require(c >= 0x20 && c < 0x7f, "a printable reason");
        Require(r.ok() == (input.substr(start, end - start) == "OK"), "only OK is a cut");
        start = end + 1;
    }
    return 0;
}
