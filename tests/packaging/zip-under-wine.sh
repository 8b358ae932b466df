#!/usr/bin/env bash
# The Windows package as a user gets it: cpack makes the zip from this build, the zip is
# unpacked into an empty folder, and there, under Wine, the commands of its QUICKSTART.txt run
# as it gives them and in its order, against the native simulator on COM3: the ones that need
# no file, then the example edited as the quick start says.
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
    [ "$listing" = "./QUICKSTART.txt ./Vemox.dll ./line.toml ./vemox-host.exe " ]
# Run from the build's Wine prefix; the prefix is Wine's, not part of the package.
export WINEPREFIX="$build/wineprefix"
host() { (cd "$folder" && "$source_dir/scripts/wine-run.sh" ./vemox-host.exe "$@") | tr -d '\r'; }
version=$(host --version)
check "vemox-host --version prints the package's version" \
    [ "vemox-$version" = "$(basename "$zip" | sed -E 's/-win(32|64)[.]zip$//')" ]

start_sim "$work" "$sim" --demo
mkdir -p "$WINEPREFIX/dosdevices"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com3"
trap 'stop_sim; rm -f "$WINEPREFIX/dosdevices/com3"; rm -rf "$work"' EXIT

# Each command of the quick start, and what its output must hold on the demo line.
mapfile -t commands < <(sed -n 's/^  vemox-host //p' "$folder/QUICKSTART.txt")
expected=(
    "scan COM3|address 1: .*address 2: "
    "read COM3 --address 1 net|= [0-9.-]+ \\[good\\]"
    "-c line.toml read --once|(.*\\[good\\]){10}"
)
check "the quick start gives these commands in this order" \
    [ "${commands[*]}" = "$(printf '%s\n' "${expected[@]%%|*}" | tr '\n' ' ' | sed 's/ $//')" ]
for entry in "${expected[@]}"; do
    command="${entry%%|*}"
    if [[ "$command" == -c* ]]; then
        # As the quick start says: COM1 replaced with the port everywhere in the example.
        sed -i 's/COM1/COM3/g' "$folder/line.toml"
    fi
    # shellcheck disable=SC2086
    out=$(host $command 2>&1) && status=0 || status=$?
    echo "$ vemox-host $command"
    echo "$out"
    check "vemox-host $command exits 0" [ "$status" -eq 0 ]
    check "and shows ${entry#*|}" grep -qzE "${entry#*|}" <<<"$out"
done
exit "$failed"
