#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, never the user's default one.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
wendle_wine_env
[[ -f $WINEPREFIX/system.reg ]] || "$WENDLE_TOOLS/wine-prefix.sh"
exec wine "$@"
