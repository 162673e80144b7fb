#!/usr/bin/env bash
# Packs what an operator copies to a Windows workstation into one zip, all at the top of the
# archive so that unpacking gives a folder Wendle can be started from as it is.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
here=$WENDLE_TOOLS
wendle_expect_args 2 2 $# "$0 BUILD_BIN_DIR OUT_ZIP"
bin=$1
out=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
"$here/stage-package.sh" "$bin" "$stage"

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
rm -f "$out"
(cd "$stage" && TZ=UTC zip -q -X -r "$out" Wendle.exe image alarmsend.exe README-Windows.txt)
echo "Packed $out"
