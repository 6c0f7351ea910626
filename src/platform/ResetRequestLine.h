#pragma once

#include <string>
#include <string_view>

#include "platform/ConnectionReset.h"
#include "platform/TcpRow.h"

namespace varnel {

// One request line of the reset helper, and the answer line for a reset's result.
//
// A request is exactly `RESET <local-ip> <local-port> <remote-ip> <remote-port>`: five fields
// separated by single spaces, nothing before or after, printable ASCII only. Addresses are in
// inet_pton form, both of one family; two IPv4-mapped IPv6 addresses name an IPv4 connection (as
// TcpRow has it), one mapped and one not is refused. Ports are decimal 1..65535 without leading
// zeros. A listener's tuple (remote address unspecified and remote port 0) and any other
// unspecified address or zero port are refused: the helper only ever cuts a connection.
//
// The line comes from a less privileged process, so everything that is not exactly this is
// refused with a one-word reason, never guessed at.
// Threads: stateless, any thread.
class ResetRequestLine {
  public:
    // The most bytes of a request line, without its newline.
    static constexpr size_t kMaxLength = 255;
    // The helper's first line, written once it has dropped its privileges and reads requests. A
    // helper started behind a password prompt writes it only after the prompt was answered, so
    // it is how the starting program learns that resets can go through.
    static constexpr std::string_view kReady = "READY";

    struct Parsed {
        bool ok = false;
        TcpRow row{};         // when ok: state kTcpDeleteTcb, owningPid 0, ready for SetTcpEntry
        std::string refusal;  // when not ok: one word, e.g. "malformed", "listener"
    };

    static Parsed Parse(std::string_view line);

    // The answer line (without newline) for `result`: OK, GONE, or ERROR <errno-name>.
    static std::string Answer(const ResetResult& result);
    // The answer line for a refused request: REFUSED <reason>.
    static std::string Refused(std::string_view reason);

    // The starting program's side.
    // The request line (without newline) for a reset request as ConnectionReset takes it.
    static std::string Request(const TcpRow& row);
    // What an answer line (without newline) says, as the result of the reset it answers. A
    // REFUSED answer or a line that is no answer at all is kRefused with the reason in `detail`;
    // ERROR <name> gives back the errno of that name (kPermissionDenied for EPERM and EACCES,
    // kNotSupported for EOPNOTSUPP).
    static ResetResult ReadAnswer(std::string_view line);
};

}  // namespace varnel
