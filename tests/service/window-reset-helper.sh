#!/bin/bash
# The window's resets without the right to reset, proved with the real window: inside a private
# network namespace the program runs as an unprivileged user (offscreen), auto kill on and a rule
# for the test server's port, with a stand-in for pkexec first in PATH (a real prompt cannot be
# answered here):
#   - a stand-in that refuses as pkexec does when the prompt is dismissed: asked once (not at
#     every tick), one NOT BLOCKED report with the reason on standard error, nothing cut, and the
#     window keeps running;
#   - a stand-in that grants, by starting a copy of the helper that holds CAP_NET_ADMIN as a file
#     capability: the rule's connection is cut; then the window is killed (SIGKILL) and the helper
#     is gone within a second.
#   tests/service/window-reset-helper.sh VARNEL_BINARY HELPER_BINARY
# Needs root (namespace, user change, setcap); exits 77 (skipped) without it.
set -euo pipefail
bin=$(readlink -f "$1")
helper=$(readlink -f "$2")
fail() { echo "FAILED: $*" >&2; exit 1; }

if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null || ! command -v unshare >/dev/null ||
   ! command -v setcap >/dev/null; then
    echo "skipped: needs root, setpriv, unshare and setcap"; exit 77
fi
if [ "${VARNEL_IN_NETNS:-}" != 1 ]; then
    VARNEL_IN_NETNS=1 exec unshare -n -- "$0" "$@"
fi
ip link set lo up

work=$(mktemp -d)
chmod 755 "$work"
pids=""
trap 'kill -9 $pids 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
user=nobody
group=$(id -gn "$user")

# A server on the rule's port, owned by root; each client connection is held until reset.
. "$(dirname "$0")/port7000-peers.sh"
serve_port7000 "$work"
pids="$pids $server_pid"; disown "$server_pid"

# A client of the server that writes what became of it to $work/<label>.client.
client() {
    connect_port7000 "$work/$1.client" 15
    pids="$pids $client_pid"; disown "$client_pid"
}

# Starts the window as $user with the stand-in pkexec whose script body is $2; its PID in $win.
window() {
    local label=$1 body=$2
    local cfg=$work/$label-cfg run=$work/$label-run standin=$work/$label-bin
    mkdir -p "$cfg" "$run" "$standin"
    printf '[Session]\nAskDNS=0\nAutoStart=1\nAutoBlock=1\n' >"$cfg/$(basename "$bin").ini"
    printf '# only the test server\x27s port\nPORT2=7000\n' >"$cfg/$(basename "$bin")_autoblock.txt"
    printf '#!/bin/sh\n%s\n' "$body" >"$standin/pkexec"
    chmod 755 "$standin" "$standin/pkexec"
    chown -R "$user:$group" "$cfg" "$run" "$standin"
    chmod 700 "$run"
    setpriv --reuid="$user" --regid="$group" --clear-groups --inh-caps=-all --ambient-caps=-all \
        env -i PATH="$standin:/usr/bin:/bin" HOME="$cfg" XDG_RUNTIME_DIR="$run" QT_QPA_PLATFORM=offscreen \
        "$bin" --no-resolve --config-dir "$cfg" >"$work/$label.out" 2>"$work/$label.err" &
    win=$!
    disown "$win"
    pids="$pids $win"
}
alive() { [ -e "/proc/$1" ] && ! grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null; }

# 1. The prompt is dismissed (pkexec's 126).
client refused
sleep 0.3
window refused "echo asked >>$work/refused-bin/asked; exit 126"
sleep 4
alive "$win" || fail "the window ended after the refusal: $(cat "$work/refused.err")"
asked=$(wc -l <"$work/refused-bin/asked" 2>/dev/null || echo 0)
[ "$asked" = 1 ] || fail "the stand-in was asked $asked times in 4 s, not once"
reports=$(grep -c 'NOT BLOCKED' "$work/refused.err" || true)
[ "$reports" = 1 ] || fail "$reports refusal reports, not one: $(cat "$work/refused.err")"
grep -q "NOT BLOCKED: 1 connection not cut: no administrator password was given.*polkit authentication agent" \
    "$work/refused.err" || fail "the report does not give the reason: $(cat "$work/refused.err")"
[ ! -e "$work/refused.client" ] || fail "the client's connection ended: $(cat "$work/refused.client")"
echo "refused: asked once, reported once, window running: $(grep 'NOT BLOCKED' "$work/refused.err")"
kill -TERM "$win"

# 2. Granted: the stand-in starts a helper that holds CAP_NET_ADMIN.
cp "$helper" "$work/helper"
setcap cap_net_admin+ep "$work/helper"
client granted
sleep 0.3
window granted "echo \$\$ >$work/granted-bin/pid; exec $work/helper"
for _ in $(seq 100); do [ -e "$work/granted.client" ] && break; sleep 0.1; done
[ "$(cat "$work/granted.client" 2>/dev/null)" = reset ] ||
    fail "the connection was not cut: $(cat "$work/granted.client" 2>/dev/null) $(cat "$work/granted.err")"
grep -q 'NOT BLOCKED' "$work/granted.err" && fail "a refusal was reported: $(cat "$work/granted.err")"
helperPid=$(cat "$work/granted-bin/pid")
alive "$helperPid" || fail "the helper did not stay for further resets"
echo "granted: cut through the helper (PID $helperPid)"

kill -9 "$win"
for _ in $(seq 10); do alive "$helperPid" || break; sleep 0.1; done
alive "$helperPid" && fail "the helper outlived the window by more than a second"
echo "window killed: the helper is gone"
echo "window reset helper: ok"
