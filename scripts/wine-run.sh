#!/usr/bin/env bash
# Runs a Windows program under Wine with a prefix of its own in the build tree, so test runs
# never share state with a user's ~/.wine. The program's own header picks the loader: 32-bit
# programs run under /usr/lib/wine/wine, 64-bit ones under /usr/lib/wine/wine64.
set -euo pipefail
exe="$1"; shift
build_dir="${VEMOX_WINE_BUILD_DIR:-$(cd "$(dirname "$exe")" && pwd)}"
while [ ! -f "$build_dir/CMakeCache.txt" ] && [ "$build_dir" != "/" ]; do build_dir=$(dirname "$build_dir"); done
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# The PE header starts at the offset stored at 0x3C; its machine field follows the signature.
pe=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j $((pe + 4)) -N2 "$exe" | tr -d ' ')
if [ "$machine" = "014c" ]; then
    exec /usr/lib/wine/wine "$exe" "$@"
fi
exec /usr/lib/wine/wine64 "$exe" "$@"
