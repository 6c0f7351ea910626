/* One record of the connection-event ring buffer, written by connect_events.bpf.c and read by
 * ConnectEventRecord. The layout is fixed (offsets in the comments, little or big endian as the
 * machine): a reader checks the size and the version before it reads anything else. C, so that
 * the BPF program and the program share it. */
#ifndef VARNEL_CONNECT_EVENT_H
#define VARNEL_CONNECT_EVENT_H

#ifndef __VMLINUX_H__
#include <linux/types.h>
#endif

#define VARNEL_CONNECT_EVENT_VERSION 1
#define VARNEL_CONNECT_EVENT_SIZE 72

struct varnel_connect_event {
    __u64 cookie;    /*  0: the socket's cookie, as sock_diag reports it */
    __u32 pid;       /*  8: owning process (thread group id); 0 when not known */
    __u16 family;    /* 12: AF_INET (2) or AF_INET6 (10) */
    __u16 sport;     /* 14: local port, host order */
    __u16 dport;     /* 16: remote port, host order */
    __u8 oldstate;   /* 18: kernel TCP state before (include/net/tcp_states.h) */
    __u8 newstate;   /* 19: kernel TCP state now */
    __u8 saddr[16];  /* 20: local address, network order; AF_INET in the first 4 bytes, rest 0 */
    __u8 daddr[16];  /* 36: remote address, likewise */
    char comm[16];   /* 52: the owner's command name, NUL-padded; empty when pid is 0 */
    __u32 version;   /* 68: VARNEL_CONNECT_EVENT_VERSION */
};

#endif
