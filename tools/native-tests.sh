#!/usr/bin/env bash
# Builds the alarm rules natively under AddressSanitizer and UBSan, runs their
# tests through ctest, then runs each libFuzzer target briefly on a fresh copy
# of its seed corpus.
#
#   tools/native-tests.sh               build, test, fuzz ${FUZZ_SECONDS:-20} s each
#   tools/native-tests.sh --fuzz SECS   build, then fuzz SECS s each on the corpus
#                                       kept in build-native/fuzz-corpus (tools/fuzz.sh)
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$WENDLE_ROOT"
ROOT=$WENDLE_ROOT
BUILD="$ROOT/build-native"
SEEDS="$ROOT/tests/fuzz/corpus"
FUZZERS=("FuzzDatagram:datagram:1024" "FuzzLogPieces:logpieces:262144")

build() {
    cmake -S "$ROOT/tests/native" -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >"$BUILD/configure.log" 2>&1 ||
        { cat "$BUILD/configure.log"; return 1; }
    cmake --build "$BUILD" -j"$(nproc)" >"$BUILD/build.log" 2>&1 ||
        { cat "$BUILD/build.log"; return 1; }
    echo "Built into $BUILD"
}

# run_fuzzer NAME CORPUS_DIR MAX_LEN SECONDS
run_fuzzer() {
    local name=$1 corpus=$2 max_len=$3 seconds=$4
    local log="$BUILD/fuzz-logs/$name.log"
    mkdir -p "$BUILD/fuzz-logs" "$BUILD/fuzz-artifacts"
    echo "Fuzzing $name for ${seconds}s on $corpus"
    if ! "$BUILD/$name" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$BUILD/fuzz-artifacts/$name-" "$corpus" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "$name FAILED; reproducer in $BUILD/fuzz-artifacts/" >&2
        return 1
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)' "$log" | sed 's/^/  /'
}

fuzz_all() {
    local seconds=$1 corpus_root=$2 entry name dir max_len seed
    for entry in "${FUZZERS[@]}"; do
        IFS=: read -r name dir max_len <<<"$entry"
        mkdir -p "$corpus_root/$dir"
        for seed in "$SEEDS/$dir/"*; do
            [[ -e $corpus_root/$dir/${seed##*/} ]] || cp "$seed" "$corpus_root/$dir/"
        done
        run_fuzzer "$name" "$corpus_root/$dir" "$max_len" "$seconds"
    done
}

main() {
    wendle_install_packages clang libclang-rt-14-dev cmake make googletest
    mkdir -p "$BUILD"
    build
    if [[ ${1:-} == --fuzz ]]; then
        fuzz_all "${2:-600}" "$BUILD/fuzz-corpus"
        return
    fi
    (cd "$BUILD" && ctest --output-on-failure)
    rm -rf "$BUILD/fuzz-smoke"
    fuzz_all "${FUZZ_SECONDS:-20}" "$BUILD/fuzz-smoke"
    echo "Native tests and fuzz smoke run passed"
}

main "$@"
