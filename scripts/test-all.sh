#!/usr/bin/env bash
# The one command that proves the tree: on a Debian 12 machine it installs whatever tools are
# missing, checks that every C++ file is formatted, builds all four presets with zero
# warnings, runs the native tests (plain and under the sanitizers), runs the Windows tests
# under 64-bit and then 32-bit Wine, checks the libraries' export and import tables, and
# fuzzes every fuzz target for a bounded time (FUZZ_SECONDS per target, default 120). It
# prints a summary and exits non-zero if anything failed. A kernel that cannot run 32-bit
# programs skips the 32-bit tests, and says so.
# Usage (as root on a fresh machine, or as anyone once the packages are there):
#   bash scripts/test-all.sh
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
started=$SECONDS
logs=build/test-all
mkdir -p "$logs"

# shellcheck source=lib/packages.sh
source scripts/lib/packages.sh

results=()
failed=0

# step <name> <command...>: runs one step, records its outcome and time, never aborts the run.
step() {
    local name="$1" t0=$SECONDS
    shift
    echo
    echo "==== $name"
    if "$@"; then
        results+=("PASS  $name ($((SECONDS - t0)) s)")
        return 0
    fi
    results+=("FAIL  $name ($((SECONDS - t0)) s)")
    failed=1
    return 1
}

# Configures and builds one preset; any warning anywhere in the log (compiler or linker) fails.
build() {
    local preset="$1"
    local log="$logs/build-$preset.log"
    cmake --preset "$preset" >"$log" 2>&1 && cmake --build --preset "$preset" >>"$log" 2>&1 || {
        tail -n 60 "$log"
        return 1
    }
    if grep -n -E 'warning:|CMake Warning' "$log"; then
        echo "warnings in the $preset build (full log: $log)" >&2
        return 1
    fi
    echo "built $preset (log: $log)"
}

run_tests() {
    ctest --preset "$1" --timeout 600
}

# run_windows_tests <preset> <Wine loader>
run_windows_tests() {
    # A fresh Wine prefix is made once, before the test programs start side by side: two
    # programs creating the same prefix at once can stall until the time-out.
    WINEPREFIX="$PWD/build/$1/wineprefix" WINEDEBUG=-all "$2" wineboot --init
    WINEPREFIX="$PWD/build/$1/wineprefix" /usr/lib/wine/wineserver -w
    xvfb-run -a ctest --preset "$1" --timeout 300
}

# 32-bit Windows programs need a kernel that runs 32-bit code. The 32-bit Wine loader is such
# a program: when it cannot start, its error is the reason (on standard output).
win32_runtime_missing() {
    local out
    if [ ! -x /usr/lib/wine/wine ]; then
        echo "no 32-bit Wine loader (/usr/lib/wine/wine)"
    elif ! out=$(/usr/lib/wine/wine --version 2>&1); then
        echo "the 32-bit Wine loader does not start: $(head -n 1 <<<"$out")"
    else
        return 1
    fi
}

# Also runs when the script itself stops early, so a broken run never reads as a pass.
summary() {
    local status="$1"
    echo
    echo "==== Summary"
    local line
    for line in "${results[@]}"; do
        echo "  $line"
    done
    echo "  total $((SECONDS - started)) s"
    if [ "$failed" -ne 0 ] || [ "$status" -ne 0 ]; then
        echo "RESULT: FAILED (exit status $status)"
    elif [[ "${results[*]}" == *SKIPPED* ]]; then
        echo "RESULT: what ran passed; not everything ran (SKIPPED above)"
    else
        echo "RESULT: all passed"
    fi
}
trap 'summary $?' EXIT

mapfile -t packages < <(packages_of build tests format windows wine wine32 fuzz)
step "install missing packages" install_missing "${packages[@]}" || exit 1
step "formatting" bash scripts/check-format.sh || true

if step "build linux" build linux; then
    step "tests linux" run_tests linux || true
fi
if step "build linux-asan" build linux-asan; then
    step "tests linux-asan" run_tests linux-asan || true
fi
if step "build win64" build win64; then
    step "tests win64 (wine64)" run_windows_tests win64 /usr/lib/wine/wine64 || true
fi
if step "build win32" build win32; then
    if reason=$(win32_runtime_missing); then
        results+=("SKIPPED win32 runtime: $reason")
    else
        step "tests win32 (32-bit wine)" run_windows_tests win32 /usr/lib/wine/wine || true
    fi
fi
step "export and import tables" bash scripts/check-binaries.sh build || true
step "fuzz (${FUZZ_SECONDS:-120} s per target)" bash scripts/fuzz.sh "${FUZZ_SECONDS:-120}" || true

exit "$failed"
