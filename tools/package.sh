#!/usr/bin/env bash
# Builds what an operator gets, OUT_DIR/Wendle.zip and OUT_DIR/Wendle.msi, from one staged folder.
# The zip holds everything at the top of the archive, so that unpacking gives a folder Wendle can
# be started from as it is.
#
# Signs Wendle.exe and alarmsend.exe before they are packed, and then Wendle.msi, with Authenticode
# when the environment names a certificate:
#   WENDLE_SIGN_PFX        a PKCS#12 (.pfx) file holding the code-signing certificate and its key
#   WENDLE_SIGN_PASSWORD   the password of that file
#   WENDLE_SIGN_TIMESTAMP  optional: an RFC 3161 time-stamping server, so that the signatures stay
#                          valid after the certificate expires
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
here=$WENDLE_TOOLS
wendle_expect_args 2 2 $# "$0 BUILD_BIN_DIR OUT_DIR"
bin=$1
mkdir -p "$2"
out=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The password goes to osslsigncode in a file only this user can read, never on a command line.
sign() {
    local file
    (umask 077 && printf '%s' "${WENDLE_SIGN_PASSWORD:-}" > "$work/password")
    for file in "$@"; do
        local args=(sign -pkcs12 "$WENDLE_SIGN_PFX" -readpass "$work/password" -h sha256 -n Wendle)
        [[ -z ${WENDLE_SIGN_TIMESTAMP:-} ]] || args+=(-ts "$WENDLE_SIGN_TIMESTAMP")
        osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >/dev/null
        touch -r "$file" "$file.signed"
        mv "$file.signed" "$file"
    done
    rm -f "$work/password"
}

"$here/stage-package.sh" "$bin" "$work/stage"
if [[ -n ${WENDLE_SIGN_PFX:-} ]]; then
    sign "$work/stage/Wendle.exe" "$work/stage/alarmsend.exe"
else
    echo "unsigned: no certificate given (WENDLE_SIGN_PFX and WENDLE_SIGN_PASSWORD sign the packages)"
fi

rm -f "$out/Wendle.zip"
(cd "$work/stage" && TZ=UTC zip -q -X -r "$out/Wendle.zip" Wendle.exe image alarmsend.exe README-Windows.txt \
    README-Administrators.txt)
echo "Packed $out/Wendle.zip"
"$here/make-msi.sh" "$work/stage" "$out/Wendle.msi"
if [[ -n ${WENDLE_SIGN_PFX:-} ]]; then
    sign "$out/Wendle.msi"
    echo "Signed Wendle.exe, alarmsend.exe and Wendle.msi with $WENDLE_SIGN_PFX"
fi
