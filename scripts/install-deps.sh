#!/bin/sh
# Installs what building, running and testing Varnel needs on Debian 12, skipping what is there.
# The one list of the project's packages.
set -e
PACKAGES="
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-l10n-tools libgl-dev libc-ares-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  iproute2 util-linux dbus-daemon libcap2-bin python3
  xvfb xauth x11-apps x11-utils imagemagick fonts-vlgothic fonts-dejavu-core
  trayer xdotool librsvg2-bin
  lintian desktop-file-utils appstream man-db groff-base libxml2-utils polkitd
"
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
