#!/bin/bash
# Screenshots of the window in English and Japanese, on the machine's real connections, under a
# private X server: docs/screenshot-en.png and docs/screenshot-jp.png; then, through
# scripts/tray-check.sh, the tray menu and the About box (docs/screenshot-tray-menu.png,
# docs/screenshot-about.png); then, through scripts/options-screenshots.sh, the Options dialog
# opened with Alt+F10 on both its tabs in both languages (docs/screenshot-options-*.png).
#   scripts/screenshot.sh [build-dir]      (default: build)
# Needs xvfb-run, ImageMagick's import and compare, python3, and trayer and xdotool for the tray
# and the dialog. A few loopback connections are opened first so that the list is not empty; they
# are closed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$build/src/varnel
[ -x "$bin" ] || { echo "no $bin; build first" >&2; exit 1; }
mkdir -p "$root/docs"
work=$(mktemp -d)
trap 'kill $fleet 2>/dev/null || true; rm -rf "$work"' EXIT

# Loopback connections held open while the screenshots are taken.
python3 - "$work/ready" <<'PY' &
import socket, sys, time
server = socket.socket(); server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0)); server.listen(16)
port = server.getsockname()[1]
held = []
for _ in range(6):
    c = socket.create_connection(("127.0.0.1", port)); a, _ = server.accept(); held += [c, a]
open(sys.argv[1], "w").close()
time.sleep(120)
PY
fleet=$!
for _ in $(seq 50); do [ -e "$work/ready" ] && break; sleep 0.1; done

shoot() {  # language, output file
    local lang=$1 out=$2 cfg=$work/config-$1
    mkdir -p "$cfg"
    xvfb-run -a -s "-screen 0 803x440x24" bash -c '
        "$0" --lang "$1" --config-dir "$2" & pid=$!
        sleep 3.5
        import -window root "$3"
        kill $pid; wait $pid || true' "$bin" "$lang" "$cfg" "$out"
    echo "wrote $out"
}
shoot EN "$root/docs/screenshot-en.png"
shoot JP "$root/docs/screenshot-jp.png"
"$root/scripts/options-screenshots.sh" "$build"
"$root/scripts/tray-check.sh" --screenshots "$build"
