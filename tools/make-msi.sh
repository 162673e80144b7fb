#!/usr/bin/env bash
# Builds the Windows Installer package of installer/Wendle.wxs with wixl. Its version is the
# product version of the program's own version record (res/Wendle.rc) unless one is given.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
here=$WENDLE_TOOLS
root=$WENDLE_ROOT
wendle_expect_args 2 3 $# "$0 BUILD_BIN_DIR OUT_MSI [VERSION]"
bin=$(cd "$1" && pwd)
out=$2
version=${3:-$(sed -n 's/^PRODUCTVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' \
    "$root/res/Wendle.rc")}
if ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+(\.[0-9]+)?$ ]]; then
    echo "make-msi: no product version (got '$version')" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/stage-package.sh" "$bin" "$work/stage"
# Every picture in the "image" folder goes in, whatever pictures the build draws.
{
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<Include xmlns="http://schemas.microsoft.com/wix/2006/wi">'
    for path in "$work/stage/image"/*; do
        name=$(basename "$path")
        echo "  <File Id=\"Image_${name//[^A-Za-z0-9_.]/_}\" Name=\"$name\" Source=\"image/$name\"/>"
    done
    echo '</Include>'
} > "$work/images.wxi"

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
rm -f "$out"
# wixl takes the files' sources relative to the folder it runs in.
(cd "$work/stage" && wixl -D Version="$version" -I "$work" -o "$out" "$root/installer/Wendle.wxs")
# What wixl cannot write is added after it: two attributes of the row that replaces older
# versions, though Wendle.wxs asks for both (its maximum counts as older too, 512; the replaced
# product's feature states carry over, MigrateFeatures, 1), and the feature conditions.
msiinfo export "$out" Upgrade | awk -F'\t' -v OFS='\t' '
    NR > 3 && $7 ~ /^WENDLE_OLDER_INSTALLED\r?$/ {
        if (int($5 / 512) % 2 == 0) $5 += 512
        if ($5 % 2 == 0) $5 += 1
    }
    { print }' > "$work/Upgrade.idt"
msibuild "$out" -i "$work/Upgrade.idt" -i "$root/installer/Condition.idt"
echo "Built $out (version $version)"
