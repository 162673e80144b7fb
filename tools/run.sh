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
# Windows grants the 8 MiB receive buffer Wendle asks for; under Wine, Linux caps it.
rmem_max=$(cat /proc/sys/net/core/rmem_max 2>/dev/null || echo 0)
if ((rmem_max < 8388608)); then
    echo "net.core.rmem_max is $rmem_max bytes: a storm beyond that can be lost before Wendle takes it (sysctl -w net.core.rmem_max=8388608)."
fi
exec "$here/with-display.sh" "$here/wine-run.sh" Wendle.exe
