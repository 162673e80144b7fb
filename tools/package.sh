#!/usr/bin/env bash
# Packs what an operator copies to a Windows workstation into one zip: Wendle.exe with its
# "image" folder, the alarmsend tool and the read-me, all at the top of the archive so that
# unpacking gives a folder Wendle can be started from as it is.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_BIN_DIR OUT_ZIP" >&2
    exit 2
fi
bin=$1
out=$2
for file in Wendle.exe alarmsend.exe image/close.bmp; do
    if [ ! -f "$bin/$file" ]; then
        echo "package: $bin/$file is missing; build first" >&2
        exit 1
    fi
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$bin/Wendle.exe" "$bin/alarmsend.exe" "$stage/"
cp -r "$bin/image" "$stage/image"
# Notepad before Windows 10 version 1809 shows a file with bare line feeds as one long line.
sed 's/\r*$/\r/' "$here/README-Windows.txt" > "$stage/README-Windows.txt"
# Fixed times keep the archive the same from one build of the same files to the next.
export TZ=UTC
find "$stage" -exec touch -d '2000-01-01 00:00:00' {} +

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
rm -f "$out"
(cd "$stage" && zip -q -X -r "$out" Wendle.exe image alarmsend.exe README-Windows.txt)
echo "Packed $out"
