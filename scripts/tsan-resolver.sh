#!/bin/sh
# Builds the unit tests with ThreadSanitizer and runs the resolver and host name cache tests.
# Exits non-zero when the build fails, a test fails or ThreadSanitizer reports anything.
# Build directory: $BUILD_DIR, default build-tsan beside the sources.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build-tsan}

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DVARNEL_TSAN=ON -DVARNEL_BENCH=OFF
ninja -C "$BUILD" -j2 varnel_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
    "$BUILD/tests/varnel_tests" --gtest_filter='*Resolver*:*HostNameCache*'
