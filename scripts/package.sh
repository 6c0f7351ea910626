#!/bin/sh
# Builds the Debian package: build/varnel_<version>_<arch>.deb (or in the build folder given).
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
sh scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
# The package holds the program only, so cpack need not build the tests first. A fresh folder is
# configured without them (their packages come with scripts/test.sh); one that has them keeps them.
tests=""
[ -f "$BUILD_DIR/CMakeCache.txt" ] || tests="-DVARNEL_TESTS=OFF -DVARNEL_BENCH=OFF"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON $tests >/dev/null
ninja -C "$BUILD_DIR" -j "$jobs" varnel
rm -f "$BUILD_DIR"/varnel_*.deb
(cd "$BUILD_DIR" && cpack -G DEB -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=ON >/dev/null)
ls "$BUILD_DIR"/varnel_*.deb
