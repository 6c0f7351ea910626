#!/bin/bash
# The headless service's privileges, proved without systemd: inside a private network namespace,
# `varnel --headless --autokill` runs as an unprivileged user holding exactly the capabilities the
# unit gives it (CAP_NET_ADMIN, CAP_SYS_PTRACE, CAP_DAC_READ_SEARCH, CAP_BPF and CAP_PERFMON,
# ambient, no new privileges), with /proc hiding other users' processes as the unit has it, and
#   - cuts a connection its rule names, and names the owning process, which belongs to root, with
#     instant cut on (the kernel's connection events);
#   - without CAP_BPF and CAP_PERFMON says once that instant cut is unavailable, and still cuts;
#   - without CAP_SYS_PTRACE (the links in /proc/<pid>/fd cannot be read) or without
#     CAP_DAC_READ_SEARCH (the folder cannot be listed) still cuts it, but cannot name the owner;
#   - without CAP_NET_ADMIN cuts nothing and reports the refusal on standard error.
# Also checks the unit file: `systemd-analyze verify` passes (on a copy that starts this build's
# binary), `systemd-analyze security --offline=true` rates its exposure at most 2.5, and the
# capabilities it grants are the ones proved here.
#   tests/service/service-privileges.sh VARNEL_BINARY UNIT_FILE
# Needs root (for the namespace and to change user); exits 77 (skipped) without it.
set -euo pipefail
bin=$(readlink -f "$1")
unit=$(readlink -f "$2")
fail() { echo "FAILED: $*" >&2; exit 1; }

if [ "${VARNEL_IN_NETNS:-}" != 1 ] && command -v systemd-analyze >/dev/null; then
    copy=$(mktemp -d)
    sed -e "s|/usr/bin/varnel|$bin|" -e '/^Documentation=/d' "$unit" >"$copy/varnel-headless.service"
    systemd-analyze verify "$copy/varnel-headless.service" || fail "systemd-analyze verify"
    exposure=$(systemd-analyze security --offline=true "$copy/varnel-headless.service" 2>/dev/null |
               sed -n 's/.*Overall exposure level for varnel-headless.service: \([0-9.]*\).*/\1/p')
    rm -rf "$copy"
    [ -n "$exposure" ] || fail "systemd-analyze security gave no exposure level"
    awk -v e="$exposure" 'BEGIN { exit !(e <= 2.5) }' || fail "exposure $exposure is above 2.5"
    echo "unit verified; exposure $exposure"
fi
if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null || ! command -v unshare >/dev/null; then
    echo "skipped: needs root, setpriv and unshare"; exit 77
fi
if [ "${VARNEL_IN_NETNS:-}" != 1 ]; then
    VARNEL_IN_NETNS=1 exec unshare -n -m -- "$0" "$@"
fi
ip link set lo up
# /proc as the unit's ProtectProc=invisible mounts it: other users' processes hidden.
mount --make-rprivate /
mount -t proc -o hidepid=invisible proc /proc || fail "cannot mount /proc with hidepid=invisible"

# The unit grants exactly these, in its bounding set and as ambient capabilities.
caps='CAP_NET_ADMIN CAP_SYS_PTRACE CAP_DAC_READ_SEARCH CAP_BPF CAP_PERFMON'
grep -qx "AmbientCapabilities=$caps" "$unit" || fail "unit: AmbientCapabilities is not $caps"
grep -qx "CapabilityBoundingSet=$caps" "$unit" || fail "unit: CapabilityBoundingSet is not $caps"
grep -qx 'NoNewPrivileges=yes' "$unit" || fail "unit: NoNewPrivileges missing"
grep -qx 'ProtectProc=invisible' "$unit" || fail "unit: ProtectProc=invisible missing (the runs below mount /proc so)"

work=$(mktemp -d)
chmod 755 "$work"
server_pid=""
trap 'kill $server_pid 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
user=nobody
group=$(id -gn "$user")

# A server on the rule's port, owned by root; each client connection is held until reset.
. "$(dirname "$0")/port7000-peers.sh"
serve_port7000 "$work"

# Runs the service's command as $user with the given capabilities (comma-separated, +name) while a
# root-owned client on port 7000 waits to be cut; leaves stdout, stderr and the client's fate in
# $work/<label>.*
run() {
    local label=$1 caps=$2
    local cfg=$work/$label-etc log=$work/$label-log
    mkdir -p "$cfg" "$log"
    printf '[Settings]\nLogRootFolder=%s\n[Session]\nAskDNS=0\nBlockedLog=1\n' "$log" >"$cfg/$(basename "$bin").ini"
    printf '# only the test server\x27s port\nPORT2=7000\n' >"$cfg/$(basename "$bin")_autoblock.txt"
    chmod 755 "$cfg"; chmod 644 "$cfg"/*
    chown "$user:$group" "$log"
    connect_port7000 "$work/$label.client" 8
    local client=$client_pid
    sleep 0.5
    setpriv --reuid="$user" --regid="$group" --clear-groups --no-new-privs \
        --inh-caps=-all${caps:+,$caps} --ambient-caps=-all${caps:+,$caps} --bounding-set=-all${caps:+,$caps} \
        timeout -s TERM 3 "$bin" --headless --autokill --no-resolve --config-dir "$cfg" \
        >"$work/$label.out" 2>"$work/$label.err" || true
    wait "$client" || true
    cat "$work/$label.client" 2>/dev/null || echo "(client left no outcome)"
}

outcome=$(run full +net_admin,+sys_ptrace,+dac_read_search,+bpf,+perfmon)
grep -q 'BLOCKED' "$work/full.out" || fail "with the unit's capabilities nothing was cut: $(cat "$work/full.err")"
grep -q 'instant cut on' "$work/full.err" || fail "with the unit's capabilities instant cut is not on: $(cat "$work/full.err")"
[ "$outcome" = reset ] || fail "with the unit's capabilities the client saw '$outcome', not a reset"
grep -Eq 'python3[.0-9]*\([0-9]+\)' "$work/full.out" || fail "the owner of root's connection is not named: $(cat "$work/full.out")"
[ "$(grep -c 'BLOCKED' "$work/full.out")" = 1 ] || fail "the connection was reported more than once"
ls "$work"/full-log/*.log >/dev/null 2>&1 || fail "no block log in the log folder"
echo "the unit's capabilities: cut, owner named: $(grep BLOCKED "$work/full.out" | head -1)"

# The metrics file as the package lays it out: node_exporter's textfile folder (root's) holds a link
# to the service's runtime folder, and the service, under its own user and umask 0077, writes through
# the link a file that node_exporter, another user, can read.
grep -qx 'RuntimeDirectory=varnel' "$unit" || fail "unit: RuntimeDirectory=varnel missing"
grep -qx 'MetricsFile=/var/lib/prometheus/node-exporter/varnel.prom' "$(dirname "$unit")/varnel.ini" ||
    fail "varnel.ini does not point MetricsFile at node_exporter's textfile folder"
mkdir -p "$work/textfile" "$work/run-varnel" "$work/metrics-etc"
chown "$user:$group" "$work/run-varnel"
ln -s "$work/run-varnel/varnel.prom" "$work/textfile/varnel.prom"
printf '[Session]\nAskDNS=0\nBlockedLog=0\nMetricsFile=%s\n' "$work/textfile/varnel.prom" \
    >"$work/metrics-etc/$(basename "$bin").ini"
chmod 755 "$work/metrics-etc"; chmod 644 "$work/metrics-etc"/*
setpriv --reuid="$user" --regid="$group" --clear-groups --no-new-privs \
    sh -c 'umask 077; exec timeout -s TERM 1.5 "$0" --headless --no-resolve --config-dir "$1"' \
    "$bin" "$work/metrics-etc" >"$work/metrics.out" 2>"$work/metrics.err" || true
[ -L "$work/textfile/varnel.prom" ] || fail "the metrics link was replaced"
[ "$(stat -c %a "$work/run-varnel/varnel.prom" 2>/dev/null)" = 644 ] ||
    fail "no metrics file readable by others in the runtime folder: $(cat "$work/metrics.err")"
grep -qx 'varnel_up 0' "$work/run-varnel/varnel.prom" || fail "the metrics file left at the end lacks varnel_up 0"
echo "metrics file written through the package's link, mode 644"

outcome=$(run nobpf +net_admin,+sys_ptrace,+dac_read_search)
[ "$outcome" = reset ] || fail "without CAP_BPF and CAP_PERFMON the client saw '$outcome', not a reset"
[ "$(grep -c 'instant cut unavailable' "$work/nobpf.err")" = 1 ] ||
    fail "without CAP_BPF and CAP_PERFMON the fallback was not told once: $(cat "$work/nobpf.err")"
echo "without CAP_BPF and CAP_PERFMON: cut at the tick: $(grep 'instant cut unavailable' "$work/nobpf.err")"

for without in sys_ptrace dac_read_search; do
    outcome=$(run "no-$without" "+net_admin,+${without/sys_ptrace/dac_read_search}")
    [ "$outcome" = reset ] || fail "without CAP_${without^^} the client saw '$outcome', not a reset"
    grep -Eq 'python3[.0-9]*\(' "$work/no-$without.out" && fail "without CAP_${without^^} the owner was named after all"
    echo "without CAP_${without^^}: cut, owner not named: $(grep BLOCKED "$work/no-$without.out" | head -1)"
done

outcome=$(run noadmin +sys_ptrace,+dac_read_search)
[ "$outcome" = reset ] && fail "without CAP_NET_ADMIN the connection was cut"
grep -q 'BLOCKED' "$work/noadmin.out" && fail "without CAP_NET_ADMIN a cut was reported"
grep -qi 'not blocked\|permission\|operation not permitted' "$work/noadmin.err" ||
    fail "without CAP_NET_ADMIN the refusal was not reported: $(cat "$work/noadmin.err")"
echo "without CAP_NET_ADMIN: nothing cut, refusal reported: $(grep -i 'not blocked' "$work/noadmin.err" | head -1)"
echo "service privileges: ok"
