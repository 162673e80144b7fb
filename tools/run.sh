#!/usr/bin/env bash
# Starts Wendle under Wine the way an operator starts it on Windows: from a folder that holds
# Wendle.exe and its "image" folder, where "myfile.txt" is written.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
here=$WENDLE_TOOLS
bin=$1
run_dir=$2
mkdir -p "$run_dir"
cp "$bin/Wendle.exe" "$run_dir/"
rm -rf "$run_dir/image"
cp -r "$bin/image" "$run_dir/image"
cd "$run_dir"
echo "Wendle is running in $(pwd); it listens on UDP port 6000. Close it with its close button or the tray menu."
exec "$here/with-display.sh" "$here/wine-run.sh" Wendle.exe
