#!/usr/bin/env bash
# Runs a command with an X display for Wine's windows and one persistent wineserver for the
# project's prefix. Without a display set, a private Xvfb is started for the command.
#
# With --own-network, the command runs in a network namespace of its own when the machine
# allows it, so that its programs own UDP port 6000 even while a monitor runs elsewhere.
set -u
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "--own-network" ]; then
    shift
    if [ -z "${WENDLE_OWN_NETWORK:-}" ] && [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
        exec unshare -n env WENDLE_OWN_NETWORK=1 "$0" "$@"
    fi
    [ -n "${WENDLE_OWN_NETWORK:-}" ] || echo "No private network namespace: the tests share UDP port 6000" >&2
fi
[ -n "${WENDLE_OWN_NETWORK:-}" ] && ip link set lo up
export WINEPREFIX=${WENDLE_WINEPREFIX:-$here/../build/wine}
export WENDLE_WINEPREFIX=$WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
"$here/wine-prefix.sh"

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 90 130); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
    done
    echo "No display set: starting Xvfb on $display" >&2
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=$display
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X${display#:}" ] && break
        sleep 0.1
    done
fi
# One wineserver for every program the command starts, instead of one per program. Its
# background services start here, with no output of ours to hold open: a test runner that
# reads a program's output would otherwise wait for them to end.
wineserver -p
"$here/wine-run.sh" cmd /c exit >/dev/null 2>&1 </dev/null
"$@"
status=$?
wineserver -k >/dev/null 2>&1
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
exit $status
