#!/usr/bin/env bash
# The Windows package as a user gets it: cpack makes the zip from this build, the zip is
# unpacked into an empty folder, and that copy of vemox-host.exe (with the Vemox.dll beside
# it and nothing of the build tree) reads the native simulator under Wine.
# Usage: zip-under-wine.sh <build dir> <native vemox-sim> <source dir>
set -euo pipefail
build="$1"
sim="$2"
source_dir="$3"
# shellcheck source=../../scripts/lib/sim.sh
source "$source_dir/scripts/lib/sim.sh"
skip_without_sim "$sim"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
zip=$(find "$work/out" -maxdepth 1 -name 'vemox-*-win*.zip')
echo "package: $(basename "$zip")"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
folder="$work/unpacked/$(basename "$zip" .zip)"

failed=0
check() { # check <description> <command...>
    if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi
}
listing=$(cd "$folder" && find . -type f | sort | tr '\n' ' ')
check "the zip holds the driver, the host, the example and the quick start" \
    [ "$listing" = "./QUICKSTART.txt ./Vemox.dll ./examples/demo.toml ./vemox-host.exe " ]
# Run from the build's Wine prefix; the prefix is Wine's, not part of the package.
export WINEPREFIX="$build/wineprefix"
version=$("$source_dir/scripts/wine-run.sh" "$folder/vemox-host.exe" --version | tr -d '\r')
check "vemox-host --version prints the package's version" \
    [ "vemox-$version-win32.zip" = "$(basename "$zip")" ]
check "the unpacked host reads the simulator" \
    bash "$source_dir/tests/wine-host/host-under-wine.sh" "$folder/vemox-host.exe" "$sim" \
    "$source_dir/scripts/wine-run.sh"
exit "$failed"
