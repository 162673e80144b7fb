#!/usr/bin/env bash
# Runs the benchmark under Wine with a display, from an empty temporary directory so that no
# "myfile.txt" of a real run is touched. The argument is the folder of the built programs.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
here=$WENDLE_TOOLS
bin=$(cd "${1:-$here/../build/win/bin}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# A network of its own, so the benchmark owns UDP port 6000 even while a monitor runs elsewhere.
"$here/with-display.sh" --own-network "$here/wine-run.sh" "$bin/wendle_bench.exe"
