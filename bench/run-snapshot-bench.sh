#!/bin/sh
# Runs SnapshotBench inside a private network namespace with loopback up and the open-file limit
# raised, so its thousands of connections touch nothing else.
#   bench/run-snapshot-bench.sh [path/to/SnapshotBench] [benchmark options...]
# SNAPSHOT_BENCH_SOCKETS=600 runs one table size only.
set -e
here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../build/bench/SnapshotBench}
[ $# -gt 0 ] && shift
[ -x "$bench" ] || { echo "no benchmark program at $bench (build it first)" >&2; exit 1; }
command -v ss >/dev/null || { echo "ss (iproute2) is needed for the comparison" >&2; exit 1; }
if [ "$(id -u)" = 0 ]; then ns="unshare -n"; else ns="unshare -Urn"; fi
exec $ns sh -c 'ip link set lo up && ulimit -n "$(ulimit -Hn)" && exec "$@"' sh "$bench" "$@"
