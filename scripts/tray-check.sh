#!/bin/bash
# The window with a real tray, under a private X server: Xvfb, the trayer panel as the tray host,
# then the program. Checks that the tray icon appears, that a click on it hides the window and
# another brings it back, that the tray menu's Exit ends the program and that the settings were
# written, that a second start asks whether to go on and "No" leaves one copy and brings the
# hidden window out of the tray, and that the tray menu's "Auto Kill Session" changes the tooltip. With --screenshots also saves docs/screenshot-tray-menu.png and docs/screenshot-about.png.
#   scripts/tray-check.sh [--screenshots] [build-dir]      (default: build)
# Needs Xvfb, trayer, xdotool, xwininfo (x11-utils) and ImageMagick's import.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shots=0
if [ "${1:-}" = --screenshots ]; then shots=1; shift; fi
build=${1:-$root/build}
bin=$build/src/varnel
[ -x "$bin" ] || { echo "no $bin; build first" >&2; exit 1; }
. "$root/scripts/x-session.sh"
x_needs Xvfb trayer xdotool xwininfo import
x_workdir tray-check
start_xvfb "$work/xvfb.log"

trayer --edge top --align right --widthtype request --height 24 --SetDockType true >"$work/trayer.log" 2>&1 &
pids+=($!)
sleep 1

mkdir -p "$work/config" "$work/run"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run  # the single-instance lock of this check's own
"$bin" --lang EN --config-dir "$work/config" >"$work/varnel.log" 2>&1 &
program=$!
pids+=($program)

map_state() { xwininfo -id "$1" | sed -n 's/.*Map State: //p'; }

main=""
icon=""
find_windows() {
    main=$(xdotool search --name '^Varnel \(Kestrin\)$' 2>/dev/null | head -1)
    icon=""
    for id in $(xdotool search --class varnel 2>/dev/null); do
        [ "$id" = "$main" ] && continue
        width=$(xwininfo -id "$id" | sed -n 's/.*Width: //p')
        if [ "$(map_state "$id")" = IsViewable ] && [ "$width" -le 64 ]; then icon=$id; fi
    done
    [ -n "$main" ] && [ -n "$icon" ]
}
wait_for find_windows || fail "no tray icon (main window: ${main:-none})"
echo "tray icon: window $icon"

click_icon() { xdotool mousemove --window "$icon" 8 8 click "$1"; }
is_state() { [ "$(map_state "$1")" = "$2" ]; }

click_icon 1
wait_for is_state "$main" IsUnMapped || fail "a click did not hide the window"
echo "click: window hidden to the tray"
click_icon 1
wait_for is_state "$main" IsViewable || fail "a second click did not bring the window back"
echo "click: window back"

if [ "$shots" = 1 ]; then
    mkdir -p "$root/docs"
    # The About box, from the tab's menu.
    xdotool mousemove --window "$main" 50 12 click 3
    sleep 0.7
    xdotool key a
    about() { xdotool search --onlyvisible --name '^About$' >/dev/null 2>&1; }
    wait_for about || fail "no About box"
    sleep 0.7
    import -window root -crop 1024x460+0+0 +repage "$root/docs/screenshot-about.png"
    echo "wrote docs/screenshot-about.png"
    xdotool key Escape
    sleep 0.5
fi

# A second start asks "Already started. Continue?" in a box captioned with the program's name;
# No (Esc) ends it, leaves the first copy running and brings its window out of the tray.
click_icon 1
wait_for is_state "$main" IsUnMapped || fail "a click did not hide the window before the second start"
"$bin" --lang EN --config-dir "$work/config" >"$work/second.log" 2>&1 &
second=$!
pids+=($second)
question() { box=$(xdotool search --onlyvisible --name '^varnel$' 2>/dev/null | head -1); [ -n "$box" ]; }
wait_for question || fail "a second start did not ask"
xdotool windowfocus "$box" 2>/dev/null || true
xdotool key Escape
for _ in $(seq 100); do kill -0 "$second" 2>/dev/null || break; sleep 0.1; done
kill -0 "$second" 2>/dev/null && fail "No did not end the second start"
wait "$second" || fail "the second start ended with status $?"
kill -0 "$program" 2>/dev/null || fail "the first copy ended too"
wait_for is_state "$main" IsViewable || fail "No did not bring the hidden window forward"
echo "second start: asked, No leaves one copy and brings its window out of the tray"
xdotool windowfocus "$main" 2>/dev/null || true
sleep 0.5

# A window of the program's besides the main window and the icon: the tray menu or a tooltip.
popup=""
popup_open() {
    for id in $(xdotool search --onlyvisible --class varnel 2>/dev/null); do
        [ "$id" != "$main" ] && [ "$id" != "$icon" ] && { popup=$id; return 0; }
    done
    return 1
}
menu_open() { popup_open; }
# The tooltip as the tray shows it, as a checksum of its picture.
tooltip_picture() {
    xdotool mousemove 500 400
    sleep 0.5
    xdotool mousemove --window "$icon" 8 8
    wait_for popup_open || fail "no tooltip on the tray icon"
    sleep 0.3
    import -window "$popup" "$work/tooltip.png"
    md5sum <"$work/tooltip.png"
}

# The tray menu's "Auto Kill Session" (the second entry) switches auto kill; the tooltip says so.
before=$(tooltip_picture)
click_icon 3
wait_for menu_open || fail "no tray menu"
sleep 0.5
xdotool key Down Down Return
sleep 1
after=$(tooltip_picture)
[ "$before" != "$after" ] || fail "the tooltip did not change when auto kill was switched from the tray menu"
echo "tray menu Auto Kill Session: tooltip changed"
xdotool mousemove 500 400
sleep 0.5

# The tray menu; its Exit item is &X.
click_icon 3
wait_for menu_open || fail "no tray menu"
sleep 0.5
if [ "$shots" = 1 ]; then
    import -window root -crop 1024x460+0+0 +repage "$root/docs/screenshot-tray-menu.png"
    echo "wrote docs/screenshot-tray-menu.png"
fi
xdotool key x

# Exit waits for the resolver's lookups in flight; give it time.
for _ in $(seq 300); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program" 2>/dev/null && fail "Exit in the tray menu did not end the program"
wait "$program" || fail "the program ended with status $?"
echo "tray menu Exit: program ended"

ini=$(ls "$work"/config/*.ini 2>/dev/null | head -1)
[ -n "$ini" ] || fail "no settings file written"
for key in MainWindow IsZoomed Position LogRootFolder SplitSize AskDNS ColnmWidth; do
    grep -q "^$key=" "$ini" || fail "settings lack $key"
done
grep -q '^MainWindow=1$' "$ini" || fail "MainWindow is not 1"
grep -q '^AutoBlock=1$' "$ini" || fail "AutoBlock is not 1 after the tray menu switched it on"
echo "settings written: $(grep -c '=' "$ini") keys in $(basename "$ini")"
echo "tray-check: OK"
