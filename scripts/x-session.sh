# Sourced by the scripts that drive the real window under a private X server (tray-check.sh,
# options-screenshots.sh). After sourcing:
#   x_needs TOOL...      ends the script unless every tool is on PATH
#   x_workdir NAME       a scratch folder in $work; $pids are killed and it is removed on exit;
#                        fail() prints "NAME: FAILED: ..." and ends the script
#   start_xvfb LOG       a fresh Xvfb on a free display (told by the server itself), DISPLAY set
#   wait_for CMD...      waits up to 10 s for CMD to succeed

x_needs() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "needs $tool (sh scripts/install-deps.sh --tests)" >&2; exit 1; }
    done
}

x_workdir() {
    x_name=$1
    work=$(mktemp -d)
    pids=()
    trap x_cleanup EXIT
}
x_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
fail() { echo "$x_name: FAILED: $*" >&2; exit 1; }

start_xvfb() {
    local number
    exec 3<> >(:)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 2>"$1" &
    pids+=($!)
    read -r -t 10 number <&3 || fail "Xvfb did not start"
    exec 3<&-
    export DISPLAY=:$number
}

wait_for() {
    for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
    return 1
}
