#!/usr/bin/env bash
# Builds the fuzzers (preset `fuzz`: clang-14, libFuzzer, AddressSanitizer, UBSan) and runs
# each for a bounded time, two at a time, starting from its seed corpus. Any crash, sanitizer
# report or broken invariant fails the run; the input that caused it is left in
# build/fuzz/findings/<target>/ to be added to tests/fuzz/corpus/<target>/ once fixed.
# Usage: bash scripts/fuzz.sh [seconds per target, default 60] [target ...]
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    targets=(reply_handling frame settings host_config)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

out=build/fuzz/findings
mkdir -p "$out"

run_one() {
    local name="$1"
    local work="build/fuzz/corpus/$name"
    mkdir -p "$work" "$out/$name"
    # The fuzzer grows a working corpus of its own; the seeds in the tree stay as they are.
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "build/fuzz/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
        -rss_limit_mb=1024 -artifact_prefix="$out/$name/" \
        "$work" "tests/fuzz/corpus/$name" >"build/fuzz/$name.log" 2>&1
}

failed=0
pids=()
names=()
wait_oldest() {
    if ! wait "${pids[0]}"; then
        echo "FAIL  ${names[0]} (log: build/fuzz/${names[0]}.log)"
        tail -n 30 "build/fuzz/${names[0]}.log"
        failed=1
    else
        echo "PASS  ${names[0]}: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' \
            "build/fuzz/${names[0]}.log" | grep -o '[0-9]*$') runs in ${seconds} s"
    fi
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
}
for name in "${targets[@]}"; do
    if [ "${#pids[@]}" -ge 2 ]; then
        wait_oldest
    fi
    run_one "$name" &
    pids+=("$!")
    names+=("$name")
done
while [ "${#pids[@]}" -gt 0 ]; do
    wait_oldest
done
exit "$failed"
