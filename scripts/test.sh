#!/bin/sh
# Installs what is missing, builds and runs every test: the unit and integration tests, the same
# under AddressSanitizer and UndefinedBehaviorSanitizer, the resolver under ThreadSanitizer, and
# a short run of every fuzzer; on CI (as root) the Debian package is built, validated, installed,
# run and removed again.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh --tests
jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

echo "== build and test"
sh scripts/build.sh -DVARNEL_TESTS=ON -DVARNEL_BENCH=ON  # scripts/run.sh may have turned them off
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON -DVARNEL_BENCH=OFF >/dev/null
ninja -C build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

for s in scripts/tsan-*.sh; do
    [ -f "$s" ] || continue
    echo "== $s"
    sh "$s"
done

echo "== fuzzers (short runs)"
sh scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

if [ "$CI" = true ] && [ "$(id -u)" = 0 ]; then
    echo "== Debian package"
    sh scripts/package-check.sh build
fi
