#!/bin/sh
# Installs what building and running Varnel needs on Debian 12, skipping what is there; with
# --tests also what the tests, benchmarks, fuzzers and package checks use.
# The one list of the project's packages.
#   sh scripts/install-deps.sh            build and run (scripts/run.sh, scripts/package.sh)
#   sh scripts/install-deps.sh --tests    everything (scripts/test.sh)
set -e
# Building the program and running it (Japanese texts need the VL Gothic glyphs, and Qt's own
# buttons and dialogs in Japanese need qt6-translations-l10n). clang, bpftool and libbpf-dev build
# the kernel connection-event program (instant cut); a build without them cuts at each tick only.
# Running it needs libbpf1, which libbpf-dev brings (and the package's shared-library dependencies name).
RUN_PACKAGES="
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-l10n-tools libgl-dev libc-ares-dev libsystemd-dev libsystemd0
  clang bpftool libbpf-dev
  fonts-vlgothic fonts-dejavu-core qt6-translations-l10n
"
# Only the tests use these.
TEST_PACKAGES="
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  iproute2 util-linux dbus-daemon libcap2-bin python3
  xvfb xauth x11-apps x11-utils imagemagick
  trayer xdotool librsvg2-bin
  lintian desktop-file-utils appstream man-db groff-base libxml2-utils polkitd
  nlohmann-json3-dev prometheus-node-exporter prometheus
"
PACKAGES=$RUN_PACKAGES
case "$1" in
    "") ;;
    --tests) PACKAGES="$RUN_PACKAGES $TEST_PACKAGES" ;;
    *) echo "usage: sh scripts/install-deps.sh [--tests]" >&2; exit 2 ;;
esac
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
