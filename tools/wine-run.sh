#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, never the user's default one.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WENDLE_WINEPREFIX:-$here/../build/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
[ -f "$WINEPREFIX/system.reg" ] || "$here/wine-prefix.sh"
exec wine "$@"
