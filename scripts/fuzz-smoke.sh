#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) into
# build-fuzz/ and runs each one over the sample files of its format (tests/data/<format>, where
# there is such a folder), its minimised corpus (fuzz/corpus/<format>) and the inputs that once
# crashed it (fuzz/regressions/<format>), then on new inputs for the rest of its time. Fails on any crash,
# sanitizer report, leak, timeout or excess of memory. New inputs go to a scratch folder: the
# repository stays as it is. The Access target runs its inputs once with the reader in its own
# process too, so a memory fault in the reader shows (the program reads in a child process,
# where it would only be an error text).
#   scripts/fuzz-smoke.sh            30 seconds per target
#   scripts/fuzz-smoke.sh SECONDS    another time per target
# FUZZ_SMOKE_EXTRA holds more libFuzzer options for every run.
# Needs clang and libclang-rt-14-dev (scripts/deps.sh --test installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCHACHONG_FUZZ=ON -DCHACHONG_TESTS=OFF -DCHACHONG_BENCH=OFF >/dev/null
formats=(dbf xls xlsx mdb csv)
cmake --build build-fuzz -j"$(nproc)" --target "${formats[@]/#/fuzz_}"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
options=(-timeout=25 -rss_limit_mb=2048 -print_final_stats=1 ${FUZZ_SMOKE_EXTRA:-})
failed=()

# run NAME LOG FUZZER-ARGS...: the fuzzer's figures on success, its last lines on failure.
run() {
    local name="$1" log="$2"
    shift 2
    if "$@" >"$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units' "$log" || true
    else
        tail -n 60 "$log" >&2
        failed+=("$name")
    fi
}

for f in "${formats[@]}"; do
    inputs=()
    [ -d tests/data/"$f" ] && inputs+=(tests/data/"$f")
    inputs+=(fuzz/corpus/"$f")
    [ -d fuzz/regressions/"$f" ] && inputs+=(fuzz/regressions/"$f")
    mkdir -p "$scratch/new-$f"
    if [ "$f" = mdb ]; then
        echo "== fuzz_mdb, reader in process: ${inputs[*]}"
        run "fuzz_mdb (reader in process)" "$scratch/mdb-in-process.log" \
            env FUZZ_MDB_IN_PROCESS=1 build-fuzz/fuzz/fuzz_mdb -runs=0 "${options[@]}" \
            -artifact_prefix="$scratch/in-process-" "${inputs[@]}"
    fi
    echo "== fuzz_$f: ${seconds}s from ${inputs[*]}"
    run "fuzz_$f" "$scratch/$f.log" build-fuzz/fuzz/fuzz_"$f" -max_total_time="$seconds" \
        "${options[@]}" -artifact_prefix="$scratch/$f-" "$scratch/new-$f" "${inputs[@]}"
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]}" >&2
    exit 1
fi
