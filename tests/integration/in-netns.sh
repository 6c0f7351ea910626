#!/bin/sh
# Runs a command in a private user and network namespace with loopback up, so the connections a
# test opens, lists and resets are its own. Root uses a plain network namespace.
set -e
if [ "$(id -u)" = 0 ]; then ns="unshare -n"; else ns="unshare -Urn"; fi
exec $ns sh -c 'ip link set lo up 2>/dev/null || true; exec "$@"' sh "$@"
