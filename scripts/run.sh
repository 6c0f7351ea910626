#!/bin/sh
# Installs what is missing, builds and runs Varnel. Arguments go to the program.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# Only the program: the tests and benchmarks, and what they need, come with scripts/test.sh.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_TESTS=OFF -DVARNEL_BENCH=OFF >/dev/null
ninja -C build -j "$(nproc 2>/dev/null || echo 2)" varnel
if [ $# -eq 0 ]; then
    # Without a display there is no window to show: print the session list instead.
    if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then set -- --list; fi
fi
exec build/src/varnel "$@"
