// SPDX-License-Identifier: GPL-2.0-only
/* Reports every TCP socket of this network namespace that enters a state in which a rule may cut
 * it (being opened, established, half-closed) through a ring buffer, so that the program can judge
 * the connection within milliseconds instead of at its next poll.
 *
 * The owner is only known where the change runs in the owner's own system call: the connect()
 * that moves a socket to SYN-SENT. It is remembered by socket cookie until the socket closes, so
 * that the events that follow in softirq context (ESTABLISHED on the SYN-ACK) still name it. A
 * socket accepted by a server has no owner until accept(): its events carry pid 0. */
#include "vmlinux.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>

#include "connect_event.h"

#define AF_INET 2
#define AF_INET6 10
#define IPPROTO_TCP 6

enum {
    K_ESTABLISHED = 1,
    K_SYN_SENT = 2,
    K_SYN_RECV = 3,
    K_FIN_WAIT1 = 4,
    K_FIN_WAIT2 = 5,
    K_CLOSE = 7,
    K_CLOSE_WAIT = 8,
};

char LICENSE[] SEC("license") = "GPL";

/* The inode number of the network namespace whose sockets are reported; set before loading. */
const volatile __u32 netns_ino = 0;

/* Records the ring buffer had no room for; the poll catches those connections. */
__u64 dropped = 0;

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 1 << 20);
} events SEC(".maps");

struct owner {
    __u32 pid;
    char comm[16];
};

struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 65536);
    __type(key, __u64);
    __type(value, struct owner);
} owners SEC(".maps");

static __always_inline int wanted(int state)
{
    return state == K_ESTABLISHED || state == K_SYN_SENT || state == K_SYN_RECV ||
           state == K_FIN_WAIT1 || state == K_FIN_WAIT2 || state == K_CLOSE_WAIT;
}

SEC("tp_btf/inet_sock_set_state")
int BPF_PROG(on_state, struct sock *sk, int oldstate, int newstate)
{
    if (sk->sk_protocol != IPPROTO_TCP)
        return 0;
    if (sk->__sk_common.skc_net.net->ns.inum != netns_ino)
        return 0;
    __u64 cookie = bpf_get_socket_cookie(sk);
    if (newstate == K_CLOSE) {
        bpf_map_delete_elem(&owners, &cookie);
        return 0;
    }
    if (!wanted(newstate))
        return 0;
    __u16 family = sk->__sk_common.skc_family;
    if (family != AF_INET && family != AF_INET6)
        return 0;
    __u16 sport = sk->__sk_common.skc_num;
    struct owner me = {};
    struct owner *known = 0;
    if (newstate == K_SYN_SENT) {
        me.pid = bpf_get_current_pid_tgid() >> 32;
        bpf_get_current_comm(me.comm, sizeof me.comm);
        bpf_map_update_elem(&owners, &cookie, &me, BPF_ANY);
        known = &me;
        /* connect() picks the local port after this change: such an event names no connection
         * yet; the one for ESTABLISHED will. */
        if (sport == 0)
            return 0;
    } else {
        known = bpf_map_lookup_elem(&owners, &cookie);
    }

    struct varnel_connect_event *e = bpf_ringbuf_reserve(&events, sizeof *e, 0);
    if (!e) {
        __sync_fetch_and_add(&dropped, 1);
        return 0;
    }
    __builtin_memset(e, 0, sizeof *e);
    e->cookie = cookie;
    e->family = family;
    e->sport = sport;
    e->dport = __builtin_bswap16(sk->__sk_common.skc_dport);
    e->oldstate = (__u8)oldstate;
    e->newstate = (__u8)newstate;
    if (family == AF_INET) {
        __builtin_memcpy(e->saddr, &sk->__sk_common.skc_rcv_saddr, 4);
        __builtin_memcpy(e->daddr, &sk->__sk_common.skc_daddr, 4);
    } else {
        __builtin_memcpy(e->saddr, &sk->__sk_common.skc_v6_rcv_saddr, 16);
        __builtin_memcpy(e->daddr, &sk->__sk_common.skc_v6_daddr, 16);
    }
    if (known) {
        e->pid = known->pid;
        __builtin_memcpy(e->comm, known->comm, sizeof e->comm);
    }
    e->version = VARNEL_CONNECT_EVENT_VERSION;
    bpf_ringbuf_submit(e, 0);
    return 0;
}
