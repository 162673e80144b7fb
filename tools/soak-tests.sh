#!/usr/bin/env bash
# Runs the Windows test suite N times in a row from one build and counts the runs that pass: a
# test that fails one run in ten shows here, not on a newcomer's first "make test".
#
#   tools/soak-tests.sh N            N runs, one after the other
#   tools/soak-tests.sh N --load     the same while one busy loop per core keeps the machine
#                                    occupied, as a shared CI machine is
#
# Each run's whole output is kept in build/soak/run-K.log.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$WENDLE_ROOT"

usage() {
    echo "usage: tools/soak-tests.sh N [--load]" >&2
    exit 2
}

(($# >= 1 && $# <= 2)) || usage
[[ $1 =~ ^[1-9][0-9]*$ ]] || usage
runs=$1
load=0
if (($# == 2)); then
    [[ $2 == --load ]] || usage
    load=1
fi

make --no-print-directory build

busy=()
stop_load() {
    local pid
    for pid in "${busy[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
trap stop_load EXIT
# An interrupted soak still takes its busy loops with it.
trap 'exit 130' INT TERM
if ((load)); then
    for _ in $(seq "$(nproc)"); do
        (while :; do :; done) &
        busy+=("$!")
    done
    echo "Load: ${#busy[@]} busy loops, one per core"
fi

# The tests must pass whatever buffer the kernel grants a socket; say which one they had.
echo "net.core.rmem_max: $(cat /proc/sys/net/core/rmem_max 2>/dev/null || echo unknown) bytes"

logs=build/soak
mkdir -p "$logs"
passed=0
failed=0
for run in $(seq "$runs"); do
    log="$logs/run-$run.log"
    started=$SECONDS
    # The recipe of "make test-windows", without rebuilding: every run tests the same build.
    if make --no-print-directory -o build test-windows >"$log" 2>&1; then
        result=PASS
        passed=$((passed + 1))
    else
        result=FAIL
        failed=$((failed + 1))
    fi
    echo "run $run/$runs: $result in $((SECONDS - started)) s"
    if [[ $result == FAIL ]]; then
        grep -E '^\[  FAILED  \] [^ ]+\.[^ ]+|\(Failed\)|\(Timeout\)' "$log" | sort -u | sed 's/^/    /' || true
        echo "    whole output: $log"
    fi
done

echo "$passed passed, $failed failed"
((failed == 0))
