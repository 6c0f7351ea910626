#pragma once

namespace varnel {

// Opens a NETLINK_SOCK_DIAG socket (close-on-exec) whose receives give up after one second, so
// that no caller on the tick's thread can hang on the kernel. Returns the descriptor, or -1 with
// `error` set to errno. The caller owns the descriptor.
int OpenSockDiagSocket(int& error);

}  // namespace varnel
