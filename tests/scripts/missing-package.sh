#!/usr/bin/env bash
# The test command when a package cannot be installed: a copy of scripts/test-all.sh whose
# fuzzing set holds a package that does not exist runs in dry mode against stand-ins of
# apt-get, dpkg, dpkg-query and id placed first on PATH, so no real package is touched. The
# install step names the package with apt's reason and installs the rest, the other steps
# run, the summary's last line names the skipped step, and VEMOX_REQUIRE_ALL=1 fails on it.
# Usage: missing-package.sh <source dir>
set -euo pipefail
source_dir="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/scripts/lib" "$work/bin"
cp "$source_dir/scripts/test-all.sh" "$work/tree/scripts/"
cp "$source_dir/scripts/lib/packages.sh" "$work/tree/scripts/lib/"
sed -i 's/^packages_fuzz=(/packages_fuzz=(no-such-package /' "$work/tree/scripts/lib/packages.sh"

# The stand-ins' machine has every package but 64-bit Wine and clang; the first apt-get
# update meets a mirror in mid-sync.
export STUB_INSTALLED="$work/installed" STUB_UPDATED="$work/updated"
(source "$work/tree/scripts/lib/packages.sh" && packages_of build tests format windows wine \
    wine32 fuzz) | grep -vx -e wine64 -e clang-14 -e no-such-package >"$STUB_INSTALLED"
stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1" && chmod +x "$work/bin/$1"; }
stub id 'echo 0'
stub dpkg 'case "$1" in --print-architecture) echo amd64 ;; --print-foreign-architectures) echo i386 ;; esac'
stub dpkg-query 'grep -qx -- "${!#}" "$STUB_INSTALLED" && echo "install ok installed"'
stub apt-get 'if [ "$1" = update ]; then
    echo update >>"$STUB_UPDATED"
    [ "$(wc -l <"$STUB_UPDATED")" -gt 1 ] && exit 0
    echo "E: File has unexpected size. Mirror sync in progress?" >&2; exit 100
fi
[ "$1" = install ] || exit 0
shift; packages=()
while [ $# -gt 0 ]; do case "$1" in -o) shift 2 ;; -*) shift ;; *) packages+=("$1"); shift ;; esac; done
if [[ " ${packages[*]} " == *" no-such-package "* ]]; then
    echo "E: Unable to locate package no-such-package" >&2; exit 100
fi
printf "%s\n" "${packages[@]}" >>"$STUB_INSTALLED"'

failed=0
check() { # check <description> <command...>
    if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi
}
# Settings of the run that started this test (test-all.sh runs ctest) must not leak in.
isolated=(env -u VEMOX_REQUIRE_ALL -u FUZZ_SECONDS PATH="$work/bin:$PATH" VEMOX_APT_PAUSE=0)
run() { # run [VARIABLE=value...]: the copy's output in $work/out, its exit status in $status
    status=0
    "${isolated[@]}" VEMOX_DRY_RUN=1 "$@" bash "$work/tree/scripts/test-all.sh" >"$work/out" 2>&1 ||
        status=$?
    cat "$work/out"
}
skip_line="SKIPPED fuzz (60 s per target): no-such-package could not be installed"
run
for expected in "apt-get update failed (try 1 of 3)" \
    "  no-such-package: E: Unable to locate package no-such-package" \
    "  DRY   build linux" "  DRY   tests win32 (32-bit wine)" "  $skip_line"; do
    check "the run says: $expected" grep -qxF -- "$expected" "$work/out"
done
check "apt-get update was tried again" [ "$(wc -l <"$STUB_UPDATED")" -eq 2 ]
check "the installable packages were installed" grep -qx clang-14 "$STUB_INSTALLED"
check "a skip alone exits 0" [ "$status" -eq 0 ]
check "the summary's last line names the skip" \
    [ "$(tail -n 1 "$work/out")" = "RESULT: what ran passed; skipped: fuzz (60 s per target)" ]
run VEMOX_REQUIRE_ALL=1
check "VEMOX_REQUIRE_ALL=1 makes the skip a failure" [ "$status" -ne 0 ]
check "and its last line says so" grep -qx "RESULT: FAILED, not everything ran.*; skipped: fuzz.*" \
    <(tail -n 1 "$work/out")

# A run stopped in the middle of a step (the time-out of a fresh machine, Ctrl-C) is no pass.
printf 'echo checking\nsleep 5\n' >"$work/tree/scripts/check-format.sh"
"${isolated[@]}" bash "$work/tree/scripts/test-all.sh" >"$work/out" 2>&1 &
until grep -qx checking "$work/out"; do sleep 0.1; done
kill -TERM $! && wait $! || true
cat "$work/out"
check "a run stopped during a step says so on its last line" \
    [ "$(tail -n 1 "$work/out")" = "RESULT: FAILED, stopped during formatting" ]
exit "$failed"
