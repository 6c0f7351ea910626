#!/bin/bash
# The Options dialog, opened with Alt+F10 on the real window under a private X server, in English
# and in Japanese, on each of its two tabs:
#   docs/screenshot-options-rules-en.png   docs/screenshot-options-color-en.png
#   docs/screenshot-options-rules-jp.png   docs/screenshot-options-color-jp.png
#   scripts/options-screenshots.sh [build-dir]      (default: build; also run by scripts/screenshot.sh)
# Each language gets its own Xvfb and a fresh settings folder holding a few sample rules, so the
# rules page is not empty. Fails, saving nothing for that language, when the dialog does not open,
# when the second tab cannot be reached, or when the two pictures are the same.
# Needs Xvfb, xdotool, xwininfo (x11-utils) and ImageMagick's import and compare.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$build/src/varnel
[ -x "$bin" ] || { echo "no $bin; build first" >&2; exit 1; }
. "$root/scripts/x-session.sh"
x_needs Xvfb xdotool xwininfo import compare
x_workdir options-screenshots

# Number of pixels that differ between two pictures of the same size.
pixels_differ() { compare -metric AE "$1" "$2" null: 2>&1 >/dev/null | sed 's/[^0-9].*//'; }

# Loopback connections held open while the pictures are taken, so that the rules page can count
# some: three to port 7000 (which a sample rule names) and two to a port of the system's choosing.
python3 - "$work/fleet-ready" <<'PY' &
import socket, sys, time
held = []
for port in (7000, 0):
    server = socket.socket(); server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        server.bind(("127.0.0.1", port))
    except OSError:
        server.bind(("127.0.0.1", 0))
    server.listen(8)
    for _ in range(3 if port else 2):
        c = socket.create_connection(server.getsockname()); a, _ = server.accept(); held += [c, a]
    held.append(server)
open(sys.argv[1], "w").close()
time.sleep(300)
PY
pids+=($!)
wait_for test -e "$work/fleet-ready" || fail "the loopback connections could not be opened"

shoot() {  # language (EN|JP), suffix of the file names, title of the dialog
    local lang=$1 suffix=$2 title=$3
    local dir=$work/$suffix
    local cfg=$dir/config rules=$dir/rules.png color=$dir/color.png
    mkdir -p "$cfg" "$dir/run"
    chmod 700 "$dir/run"

    # The rule file sits beside the settings, named after the program.
    cat >"$cfg/$(basename "$bin")_autoblock.txt" <<'RULES'
# sample rules
ALLOW=1,IP2=127.0.0.1
PORT2=7000
HOST2=example.com
PORT2=6660-6669,TIME=30
RULES
    "$bin" --config-dir "$cfg" --check-rules >"$dir/check.log" 2>&1 ||
        fail "the sample rules do not pass --check-rules: $(cat "$dir/check.log")"

    start_xvfb "$dir/xvfb.log"
    local xvfb=${pids[-1]}

    # A single-instance lock of this run's own, so a copy running elsewhere does not interfere.
    XDG_RUNTIME_DIR=$dir/run "$bin" --lang "$lang" --config-dir "$cfg" >"$dir/varnel.log" 2>&1 &
    local program=$!
    pids+=($program)

    main=""
    find_main() { main=$(xdotool search --onlyvisible --name '^Varnel \(Kestrin\)$' 2>/dev/null | head -1); [ -n "$main" ]; }
    wait_for find_main || fail "$lang: the main window did not appear"
    sleep 1.5  # the first fill of the list

    # Alt+F10 to the main window: focus it, then type the keys as the keyboard would.
    dialog=""
    find_dialog() {
        dialog=""
        for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
            [ "$id" != "$main" ] && dialog=$id && return 0
        done
        return 1
    }
    xdotool windowfocus --sync "$main"
    xdotool key --clearmodifiers alt+F10
    wait_for find_dialog || fail "$lang: Alt+F10 did not open the \"$title\" dialog"
    sleep 1
    echo "$lang: dialog \"$title\" is window $dialog"

    # The first tab, "Auto Kill Session", is the one shown with fresh settings.
    import -window "$dialog" "$rules"

    # The tab bar takes no keyboard focus, so the second tab is clicked. Its place depends on the
    # font, so the row of tabs is walked from the left, one click at a time, until the page
    # changes; the settings written when the dialog is cancelled then tell which tab was shown.
    local width height x y found=0
    width=$(xwininfo -id "$dialog" | sed -n 's/.*Width: //p')
    height=$(xwininfo -id "$dialog" | sed -n 's/.*Height: //p')
    for y in 22 18 27; do
        for ((x = 20; x < width * 3 / 4; x += 12)); do
            xdotool mousemove --window "$dialog" "$x" "$y" click 1
            sleep 0.15
            import -window "$dialog" "$color"
            # The tab's own hover and highlight change a few pixels; a new page changes thousands.
            if [ "$(pixels_differ "$rules" "$color")" -gt $((width * height / 20)) ]; then
                found=1
                break 2
            fi
        done
    done
    [ "$found" = 1 ] || fail "$lang: no click on the row of tabs changed the page"
    # Away from the tab, so that it is not drawn hovered, then the picture again.
    xdotool mousemove --window "$dialog" "$((width - 5))" "$((height - 5))"
    sleep 0.5
    import -window "$dialog" "$color"
    echo "$lang: second tab at x=$x y=$y"

    # Cancel: the dialog writes which tab it was on, and nothing else of its pages.
    xdotool windowfocus --sync "$dialog" 2>/dev/null || true
    xdotool key Escape
    gone() { ! xwininfo -id "$dialog" 2>/dev/null | grep -q 'IsViewable'; }
    wait_for gone || fail "$lang: Escape did not close the dialog"
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    local ini
    ini=$(ls "$cfg"/*.ini 2>/dev/null | head -1)
    [ -n "$ini" ] || fail "$lang: no settings written"
    grep -q '^ConfigTab=1$' "$ini" || fail "$lang: the second picture is not of the Color tab ($(grep '^ConfigTab=' "$ini" || echo 'no ConfigTab'))"
    grep -q '^ConfigSel=0$' "$ini" || fail "$lang: the dialog was not on its first item"
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true

    mkdir -p "$root/docs"
    cp "$rules" "$root/docs/screenshot-options-rules-$suffix.png"
    cp "$color" "$root/docs/screenshot-options-color-$suffix.png"
    echo "wrote docs/screenshot-options-rules-$suffix.png docs/screenshot-options-color-$suffix.png"
}

shoot EN en 'Options'
shoot JP jp 'オプション設定'
