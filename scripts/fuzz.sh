#!/bin/sh
# Builds every libFuzzer target with clang and runs each for the given seconds (default 60).
# Crashes and sanitizer reports fail the script; the inputs that caused them are left in fuzz-out/.
set -e
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_FUZZ=ON \
    -DVARNEL_GUI=OFF -DVARNEL_TESTS=OFF -DVARNEL_BENCH=OFF >/dev/null
ninja -C build-fuzz -j "$jobs"
mkdir -p fuzz-out
for f in build-fuzz/fuzz/*Fuzzer; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus=fuzz-out/$name-corpus
    mkdir -p "$corpus"
    seeds=fuzz/corpus/$name
    [ -d "$seeds" ] || seeds=""
    echo "-- $name (${seconds}s)"
    "$f" -max_total_time="$seconds" -artifact_prefix=fuzz-out/ -print_final_stats=0 "$corpus" $seeds \
        > "fuzz-out/$name.log" 2>&1 || { tail -40 "fuzz-out/$name.log"; exit 1; }
    tail -1 "fuzz-out/$name.log"
done
