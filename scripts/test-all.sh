#!/usr/bin/env bash
# The one command that proves the tree: on a Debian 12 machine it installs whatever tools are
# missing, checks that every C++ file is formatted, builds all four presets with zero
# warnings, runs the native tests (plain and under the sanitizers), runs the Windows tests
# under 64-bit and then 32-bit Wine, checks the libraries' export and import tables, and
# fuzzes every fuzz target for a bounded time (FUZZ_SECONDS per target, default 60). It
# prints a summary and exits non-zero if anything failed.
# A package that cannot be installed (a mirror in mid-sync) does not stop the run: each step
# that needs it is SKIPPED and names it, the others run. A kernel that cannot run 32-bit
# programs skips the 32-bit tests, and says so. Skips leave the exit status 0 when everything
# that ran passed; VEMOX_REQUIRE_ALL=1 makes any skip a failure.
# VEMOX_DRY_RUN=1 installs and decides as usual but runs no step (for the test of that logic).
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
skipped=()
outcome=""
ran=0
# The step under way and since when: a run stopped in the middle of one (a time-out, Ctrl-C)
# says so instead of summing up only the steps that had ended.
running=""
running_since=0

# absent_of <set>...: the packages of these sets that are not installed, on one line.
absent_of() {
    local p absent=()
    for p in $(packages_of "$@"); do
        package_installed "$p" || absent+=("$p")
    done
    echo "${absent[*]}"
}

# skip <name> <reason>
skip() {
    echo "SKIPPED $1: $2"
    results+=("SKIPPED $1: $2")
    skipped+=("$1")
    outcome=SKIPPED
}

# step <name> <package sets> <command...>: runs one step when every package of its sets is
# installed, records PASS, FAIL or SKIPPED (also in $outcome) with its time; never aborts.
step() {
    local name="$1" t0=$SECONDS absent
    # shellcheck disable=SC2086
    absent=$(absent_of $2)
    shift 2
    echo
    echo "==== $name"
    if [ -n "$absent" ]; then
        skip "$name" "$absent could not be installed"
        return 0
    fi
    ran=$((ran + 1))
    running="$name"
    running_since=$t0
    if [ -n "${VEMOX_DRY_RUN:-}" ]; then
        echo "(dry run) $*"
        results+=("DRY   $name")
        outcome=DRY
    elif "$@"; then
        results+=("PASS  $name ($((SECONDS - t0)) s)")
        outcome=PASS
    else
        results+=("FAIL  $name ($((SECONDS - t0)) s)")
        failed=1
        outcome=FAIL
    fi
    running=""
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

# Also runs when the script itself stops early, so a broken run never reads as a pass. The
# last line names what did not run.
summary() {
    local status="$1"
    echo
    echo "==== Summary"
    local line
    for line in "${results[@]}"; do
        echo "  $line"
    done
    if [ -n "$running" ]; then
        echo "  FAIL  $running (stopped after $((SECONDS - running_since)) s, before it ended)"
    fi
    echo "  total $((SECONDS - started)) s"
    local not_run
    not_run=$(printf '; %s' "${skipped[@]}")
    not_run=${not_run#; }
    if [ -n "$running" ]; then
        echo "RESULT: FAILED, stopped during $running${not_run:+; skipped: $not_run}"
    elif [ "$failed" -ne 0 ]; then
        echo "RESULT: FAILED (exit status $status)${not_run:+; skipped: $not_run}"
    elif [ -n "$not_run" ] && [ -n "${VEMOX_REQUIRE_ALL:-}" ]; then
        echo "RESULT: FAILED, not everything ran (VEMOX_REQUIRE_ALL=1); skipped: $not_run"
    elif [ "$status" -ne 0 ]; then
        echo "RESULT: FAILED (exit status $status)"
    elif [ -n "$not_run" ]; then
        echo "RESULT: what ran passed; skipped: $not_run"
    else
        echo "RESULT: all passed"
    fi
}
trap 'summary $?' EXIT

echo "==== install missing packages"
t0=$SECONDS
running="install missing packages"
running_since=$t0
mapfile -t packages < <(packages_of build tests format windows wine wine32 fuzz cache)
if install_missing "${packages[@]}"; then
    results+=("PASS  install missing packages ($((SECONDS - t0)) s)")
else
    for line in "${packages_failed[@]}"; do
        results+=("NOT INSTALLED $line")
    done
fi
running=""

# Compiled through the cache when there is one. Paths are taken from the clone's root and
# the folder is left out of the key, so that every clone of the tree shares one cache.
if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
fi

step "formatting" "format" bash scripts/check-format.sh

step "build linux" "build" build linux
[ "$outcome" = FAIL ] || step "tests linux" "build tests" run_tests linux
step "build linux-asan" "build" build linux-asan
[ "$outcome" = FAIL ] || step "tests linux-asan" "build tests" run_tests linux-asan
step "build win64" "build windows" build win64
[ "$outcome" = FAIL ] || step "tests win64 (wine64)" "build windows wine" \
    run_windows_tests win64 /usr/lib/wine/wine64
step "build win32" "build windows" build win32
if [ "$outcome" != FAIL ]; then
    name="tests win32 (32-bit wine)"
    if [ -z "$(absent_of build windows wine wine32)" ] && [ -z "${VEMOX_DRY_RUN:-}" ] &&
        reason=$(win32_runtime_missing); then
        skip "$name" "$reason"
    else
        step "$name" "build windows wine wine32" run_windows_tests win32 /usr/lib/wine/wine
    fi
fi
step "export and import tables" "build windows" bash scripts/check-binaries.sh build
step "fuzz (${FUZZ_SECONDS:-60} s per target)" "build fuzz" \
    bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}"

# Skips are a partial run; a machine on which no step could run at all has proved nothing.
if [ "$ran" -eq 0 ]; then
    results+=("FAIL  no step could run")
    failed=1
fi
if [ "$failed" -eq 0 ] && [ "${#skipped[@]}" -ne 0 ] && [ -n "${VEMOX_REQUIRE_ALL:-}" ]; then
    exit 1
fi
exit "$failed"
