#!/usr/bin/env bash
# The packages signed with a certificate, as "make package" signs them when one is given: a
# throwaway self-signed code-signing certificate, both packages built with it, and the signature
# of every program in them and of Wendle.msi verified against that certificate. Then the refusal
# of programs whose version is not the release's.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Wendle test signing" \
    -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signing.pfx -passout pass:'throw away'
WENDLE_SIGN_PFX=$work/signing.pfx WENDLE_SIGN_PASSWORD='throw away' "$root/tools/package.sh" "$bin" out

python3 -m zipfile -e out/Wendle.zip zip
msiextract -C msi out/Wendle.msi >/dev/null
mapfile -t files < <(echo zip/Wendle.exe; echo zip/alarmsend.exe; echo out/Wendle.msi; find msi -name '*.exe' | sort)
passed=0 failed=0
for file in "${files[@]}"; do
    if osslsigncode verify -CAfile cert.pem -in "$file" > verify.log 2>&1; then
        echo "signed: $file"
        passed=$((passed + 1))
    else
        echo "not signed by the test certificate: $file"
        cat verify.log
        failed=$((failed + 1))
    fi
done
# Both programs inside the installer too, not only the installer itself.
((${#files[@]} == 5)) || { echo "expected 5 files, found: ${files[*]}"; failed=$((failed + 1)); }

# No installer is built from a program whose version record says another version than the release.
mkdir other
cp -r "$bin/Wendle.exe" "$bin/alarmsend.exe" "$bin/image" other/
"$root/tools/program-version.py" other/alarmsend.exe --stamp 9.9.9.9
if "$root/tools/make-msi.sh" other refused.msi 2> refused.log || ! grep -q 'alarmsend.exe carries version 9.9.9.9' refused.log; then
    echo "an installer was built from an alarmsend.exe of version 9.9.9.9:"
    cat refused.log
    failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
((failed == 0))
