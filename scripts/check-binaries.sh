#!/usr/bin/env bash
# Checks what the built libraries show to the outside world:
#  - each Vemox.dll is of its own architecture and exports GetKibDriver2 under exactly that
#    name (no @4 decoration) and nothing else;
#  - every Windows binary (the driver, vemox-host.exe, the test programs) imports only DLLs
#    that ship with Windows, so neither the host process nor a user needs our compiler's
#    runtime beside them;
#  - libvemox.so defines GetKibDriver2 as its only dynamic symbol.
# Usage: scripts/check-binaries.sh [build-root]   (default: ./build)
set -euo pipefail

root="${1:-build}"
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }

# Windows' own DLLs (lower case). The C runtime counts: msvcrt and the api-ms-win-crt set.
system_dll() {
    case "${1,,}" in
    kernel32.dll | ole32.dll | oleaut32.dll | user32.dll | advapi32.dll | gdi32.dll | \
        comctl32.dll | msvcrt.dll | api-ms-win-crt-*.dll) return 0 ;;
    *) return 1 ;;
    esac
}

# check_dll <file> <objdump> <expected file format>
check_dll() {
    local dll="$1" objdump="$2" format="$3" dump exports
    if [ ! -f "$dll" ]; then
        fail "$dll is missing"
        return
    fi
    if ! dump=$("$objdump" -p "$dll" 2>&1); then
        fail "$objdump cannot read $dll: $dump"
        return
    fi
    if ! grep -q "file format $format\$" <<<"$dump"; then
        fail "$dll is not $format"
    fi
    # The names listed after the name-pointer table header, up to the next blank line.
    exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                   on && NF == 0 {on = 0}
                   on {print $NF}' <<<"$dump")
    if [ "$exports" = "GetKibDriver2" ]; then
        pass "$dll exports exactly GetKibDriver2"
    else
        fail "$dll exports [$(tr '\n' ' ' <<<"$exports")], expected exactly GetKibDriver2"
    fi
}

# check_imports <file> <objdump>
check_imports() {
    local file="$1" objdump="$2" dump name bad=""
    if ! dump=$("$objdump" -p "$file" 2>&1); then
        fail "$objdump cannot read $file: $dump"
        return
    fi
    while read -r name; do
        system_dll "$name" || bad+=" $name"
    done < <(awk '/DLL Name:/ {print $3}' <<<"$dump")
    if [ -n "$bad" ]; then
        fail "$file imports non-system DLLs:$bad"
    else
        pass "$file imports system DLLs only"
    fi
}

check_windows_build() {
    local dir="$root/$1" objdump="$2" format="$3" file found=0
    check_dll "$dir/Vemox.dll" "$objdump" "$format"
    # The host that ships beside the driver; its imports are checked with the rest below.
    [ -f "$dir/vemox-host.exe" ] || fail "$dir/vemox-host.exe is missing"
    # Every DLL and program of the build, but not Wine's own files in the test prefix.
    while IFS= read -r -d '' file; do
        found=1
        check_imports "$file" "$objdump"
    done < <(find "$dir" -path "$dir/wineprefix" -prune -o -path '*/CMakeFiles' -prune -o \
        -type f \( -name '*.dll' -o -name '*.exe' \) -print0)
    [ "$found" = 1 ] || fail "no Windows binaries under $dir"
}

check_windows_build win64 x86_64-w64-mingw32-objdump pei-x86-64
check_windows_build win32 i686-w64-mingw32-objdump pei-i386

so="$root/linux/libvemox.so"
if [ -f "$so" ]; then
    if ! symbols=$(nm -D --defined-only "$so" 2>&1); then
        fail "nm cannot read $so: $symbols"
    elif symbols=$(awk '{print $NF}' <<<"$symbols") && [ "$symbols" = "GetKibDriver2" ]; then
        pass "$so defines exactly GetKibDriver2"
    else
        fail "$so defines [$(tr '\n' ' ' <<<"$symbols")], expected exactly GetKibDriver2"
    fi
else
    fail "$so is missing"
fi

if [ "$failures" -ne 0 ]; then
    echo "check-binaries: $failures check(s) failed" >&2
    exit 1
fi
echo "check-binaries: all checks passed"
