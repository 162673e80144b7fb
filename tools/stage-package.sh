#!/usr/bin/env bash
# Lays out in one folder what an operator gets, the same for the zip and the installer: Wendle.exe
# with its "image" folder, the alarmsend tool and the read-mes for operators and administrators.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
here=$WENDLE_TOOLS
wendle_expect_args 2 2 $# "$0 BUILD_BIN_DIR STAGE_DIR"
bin=$1
stage=$2
for file in Wendle.exe alarmsend.exe image/close.bmp; do
    if [ ! -f "$bin/$file" ]; then
        echo "package: $bin/$file is missing; build first" >&2
        exit 1
    fi
done
mkdir -p "$stage"
cp "$bin/Wendle.exe" "$bin/alarmsend.exe" "$stage/"
cp -r "$bin/image" "$stage/image"
# Notepad before Windows 10 version 1809 shows a file with bare line feeds as one long line.
for readme in README-Windows.txt README-Administrators.txt; do
    sed 's/\r*$/\r/' "$here/$readme" > "$stage/$readme"
done
# Fixed times keep the packages the same from one build of the same files to the next.
TZ=UTC find "$stage" -exec touch -d '2000-01-01 00:00:00' {} +
