# What every script of ours shares, sourced first thing: one strictness level, where the project
# is, the settings of its own Wine prefixes, and installing missing Debian packages.
set -euo pipefail

WENDLE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WENDLE_TOOLS=$WENDLE_ROOT/tools

# The project's own Wine prefix, build/wine unless WENDLE_WINEPREFIX names another (the tests
# use build/wine-test), never the user's ~/.wine; quiet, and with no Mono or Gecko prompts.
wendle_wine_env() {
    export WINEPREFIX=${WENDLE_WINEPREFIX:-$WENDLE_ROOT/build/wine}
    export WENDLE_WINEPREFIX=$WINEPREFIX
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
}

# Installs those of the named packages that are missing, with apt-get (through sudo unless root).
wendle_install_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed' || missing+=("$package")
    done
    ((${#missing[@]} == 0)) && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The release's version, MAJOR.MINOR.BUILD.REVISION, from the header the resource scripts include.
wendle_release_version() {
    local field value fields=()
    for field in MAJOR MINOR BUILD REVISION; do
        value=$(sed -n "s/^#define WENDLE_VERSION_$field \([0-9][0-9]*\)\$/\1/p" "$WENDLE_ROOT/res/Version.h")
        [[ -n $value ]] || { echo "res/Version.h defines no WENDLE_VERSION_$field" >&2; return 1; }
        fields+=("$value")
    done
    (IFS=.; echo "${fields[*]}")
}

# Ends the script with its usage line unless it was given from MIN to MAX arguments.
wendle_expect_args() {
    local min=$1 max=$2 count=$3 usage=$4
    if ((count < min || count > max)); then
        echo "usage: $usage" >&2
        exit 2
    fi
}
