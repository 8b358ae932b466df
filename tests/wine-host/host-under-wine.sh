#!/usr/bin/env bash
# Runs vemox-host.exe (and the Vemox.dll beside it) under Wine against a native vemox-sim:
# the simulator serves a pseudo-terminal, $WINEPREFIX/dosdevices/com5 points at it, and the
# host opens \\.\COM5 like any Windows program would. Reads every item once (both
# addressings), writes an output and reads it back.
set -euo pipefail
host_exe="$1"
sim="$2"
wine_run="$3"

# shellcheck source=../../scripts/lib/sim.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/sim.sh"
skip_without_sim "$sim"

build_dir=$(cd "$(dirname "$host_exe")" && pwd)
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
work=$(mktemp -d)
cleanup() {
    stop_sim
    rm -f "$WINEPREFIX/dosdevices/com5"
    rm -rf "$work"
}
trap cleanup EXIT

# The first start of a fresh prefix creates it; do that before the line is needed.
"$wine_run" "$host_exe" --help >/dev/null

start_sim "$work" "$sim" --demo
mkdir -p "$WINEPREFIX/dosdevices"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com5"

cat >"$work/wine.toml" <<'TOML'
[driver]
WaitTimeout = 1000
CountTry = 2

[[port]]
name = "COM5"

[[node]]
name = "Hopper"
port = "COM5"
address = 1

[[node]]
name = "Tank"
port = "COM5"
serial = 123456

[[item]]
node = "Hopper"
name = "net"
operation = "Вес Нетто"

[[item]]
node = "Hopper"
name = "counter1"
operation = "Счетчик"
counter = 1

[[item]]
node = "Hopper"
name = "output3"
operation = "Дискретные выходы"
output = 3

[[item]]
node = "Tank"
name = "gross"
operation = "Вес Брутто"

[[item]]
node = "Tank"
name = "input4"
operation = "Дискретные входы"
input = 4
TOML
config="Z:$work/wine.toml"

failed=0
check() { # check <description> <command...>
    local what="$1"
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

"$wine_run" "$host_exe" --config "$config" read --once --json >"$work/read.json" 2>"$work/read.err" \
    && read_status=0 || read_status=$?
cat "$work/read.json" "$work/read.err"
check "read --once exits 0" [ "$read_status" -eq 0 ]
check "five items good" [ "$(grep -c '"good": true' "$work/read.json")" -eq 5 ]
check "Hopper counter 1 scaled by the weight's decimals" grep -q '"value": 42000' "$work/read.json"

"$wine_run" "$host_exe" --config "$config" write Hopper.output3 true >"$work/write.out" 2>&1 \
    && write_status=0 || write_status=$?
cat "$work/write.out"
check "write exits 0" [ "$write_status" -eq 0 ]
"$wine_run" "$host_exe" --config "$config" read --once --json >"$work/after.json" 2>&1 || true
check "output 3 reads back as 1" python3 -c "
import json, sys
items = {i['name']: i for i in json.load(open('$work/after.json'))['items']}
sys.exit(0 if items['Hopper.output3']['value'] == 1 and items['Hopper.output3']['good'] else 1)"
# Without a file: COM5 stands for the system's device of that port, \\.\COM5 under Wine.
"$wine_run" "$host_exe" read COM5 --serial 123456 counter 1 >"$work/adhoc.out" 2>&1 \
    && adhoc_status=0 || adhoc_status=$?
cat "$work/adhoc.out"
check "an ad-hoc read of COM5 exits 0" [ "$adhoc_status" -eq 0 ]
check "the ad-hoc counter is scaled like a configured one" \
    grep -q 'serial 123456.counter 1 = 61000 \[good\]' "$work/adhoc.out"
exit "$failed"
