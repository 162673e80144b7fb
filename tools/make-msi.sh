#!/usr/bin/env bash
# Builds the Windows Installer package of installer/Wendle.wxs with wixl, at the release's version
# (res/Version.h): the package's ProductVersion and the File table's version of every program in
# it. Nothing is built from programs whose version records or manifests carry another version.
#
# Given VERSION, it builds a stand-in for an earlier release instead: the same files, with the
# programs' version records stamped with VERSION, as an earlier release's would carry it.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
here=$WENDLE_TOOLS
root=$WENDLE_ROOT
wendle_expect_args 2 3 $# "$0 BUILD_BIN_DIR OUT_MSI [VERSION]"
bin=$(cd "$1" && pwd)
out=$2
version=${3:-$(wendle_release_version)}
if ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+(\.[0-9]+)?$ ]]; then
    echo "make-msi: no product version (got '$version')" >&2
    exit 1
fi
# The version record holds all four fields; a package version may leave out the fourth.
four_fields=$version
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] && four_fields=$version.0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/stage-package.sh" "$bin" "$work/stage"
programs=(Wendle.exe alarmsend.exe)
for program in "${programs[@]}"; do
    [[ -n ${3:-} ]] && "$here/program-version.py" "$work/stage/$program" --stamp "$version"
    read -r file_version product_version manifest_version < <("$here/program-version.py" "$work/stage/$program")
    carried=("$file_version" "$product_version")
    # A stand-in's manifests keep the release's version: Windows Installer never reads them.
    [[ -n ${3:-} || $manifest_version == - ]] || carried+=("$manifest_version")
    for one in "${carried[@]}"; do
        if [[ $one != "$four_fields" ]]; then
            echo "make-msi: $program carries version $one (file $file_version, product $product_version," \
                "manifest $manifest_version), the package is $four_fields: rebuild the programs" >&2
            exit 1
        fi
    done
done
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
# wixl writes no file version, and a hash for every file, which Windows Installer keeps for
# unversioned files. By the file versioning rules an unversioned file never replaces a versioned
# one on disk, so the running Wendle.exe would not count as a file in use that Restart Manager
# closes. Each program gets its version and loses its hash.
# The File table's key and version of a program, "-" for no version.
file_row() {
    msiinfo export "$out" File |
        awk -F'\t' -v name="$1" 'NR > 3 && ($3 == name || index($3, "|" name) > 0) { print $1, ($5 == "" ? "-" : $5) }'
}
for program in "${programs[@]}"; do
    read -r key _ < <(file_row "$program")
    msibuild "$out" -q "UPDATE \`File\` SET \`Version\` = '$four_fields' WHERE \`File\` = '$key'" \
        -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$key'"
done
# Read back, because msibuild says nothing of a query that matched no row.
hashed=$(msiinfo export "$out" MsiFileHash | awk -F'\t' 'NR > 3 { print $1 }')
for program in "${programs[@]}"; do
    read -r key listed < <(file_row "$program")
    if [[ $listed != "$four_fields" ]] || grep -qx "$key" <<< "$hashed"; then
        echo "make-msi: $program is listed with version $listed$(grep -qx "$key" <<< "$hashed" && echo ' and a hash')," \
            "not with version $four_fields alone" >&2
        exit 1
    fi
done
product=$(msiinfo export "$out" Property | awk -F'\t' '$1 == "ProductVersion" { sub(/\r$/, "", $2); print $2 }')
if [[ $product != "$version" ]]; then
    echo "make-msi: the package's ProductVersion is '$product', not $version" >&2
    exit 1
fi
echo "Built $out (version $version)"
