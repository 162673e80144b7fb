#!/usr/bin/env bash
# Runs a command with an X display for Wine's windows and one persistent wineserver for the
# project's prefix. Without a display set, a private Xvfb is started for the command.
#
# With --own-network, the command runs in a network namespace of its own when the machine
# allows it, so that its programs own UDP port 6000 even while a monitor runs elsewhere.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
if [[ ${1:-} == --own-network ]]; then
    shift
    if [[ -z ${WENDLE_OWN_NETWORK:-} ]] && [[ $(id -u) -eq 0 ]] && unshare -n true 2>/dev/null; then
        exec unshare -n env WENDLE_OWN_NETWORK=1 "$0" "$@"
    fi
    if [[ -z ${WENDLE_OWN_NETWORK:-} ]]; then
        # Sharing the port is fine while nobody holds it; a monitor that does would take the
        # tests' datagrams, and they would fail for a reason nobody could see.
        if awk 'FNR > 1 && $2 ~ /:1770$/ { held = 1 } END { exit !held }' /proc/net/udp /proc/net/udp6 2>/dev/null; then
            echo "with-display: UDP port 6000 is in use on this machine, and no private network namespace" >&2
            echo "can be had (that needs root and unshare): stop the program that holds the port, then try again." >&2
            exit 1
        fi
        echo "No private network namespace: the tests share UDP port 6000" >&2
    fi
fi
if [[ -n ${WENDLE_OWN_NETWORK:-} ]]; then
    ip link set lo up
fi
wendle_wine_env
"$WENDLE_TOOLS/wine-prefix.sh"

xvfb_pid=""
stop_xvfb() {
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
    fi
}
trap stop_xvfb EXIT
if [[ -z ${DISPLAY:-} ]]; then
    # Xvfb picks a free display itself and names it only once it takes clients: two runs that
    # start together never share one, and a slow start is waited for instead of guessed.
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 600); do
        if [[ -s $display_file ]] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    display=$(cat "$display_file")
    rm -f "$display_file"
    if [[ -z $display ]]; then
        if kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "with-display: Xvfb did not take clients within a minute" >&2
        else
            echo "with-display: Xvfb could not start: no free display number, or Xvfb is not installed" >&2
        fi
        exit 1
    fi
    echo "No display set: started Xvfb on :$display" >&2
    export DISPLAY=:$display
fi
# One wineserver for every program the command starts, instead of one per program. Its
# background services start here, with no output of ours to hold open: a test runner that
# reads a program's output would otherwise wait for them to end.
wineserver -p
"$WENDLE_TOOLS/wine-run.sh" cmd /c exit >/dev/null 2>&1 </dev/null || true
status=0
"$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
exit "$status"
