#!/usr/bin/env bash
# Runs a Windows test program under 64-bit Wine with a prefix of its own in the build tree,
# so test runs never share state with a user's ~/.wine.
set -euo pipefail
exe="$1"; shift
build_dir="${VEMOX_WINE_BUILD_DIR:-$(cd "$(dirname "$exe")" && pwd)}"
while [ ! -f "$build_dir/CMakeCache.txt" ] && [ "$build_dir" != "/" ]; do build_dir=$(dirname "$build_dir"); done
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec /usr/lib/wine/wine64 "$exe" "$@"
