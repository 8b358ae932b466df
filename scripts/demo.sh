#!/usr/bin/env bash
# The driver at work without an OPC server: builds the tree, starts the controller simulator
# with its demo line (three controllers, the third addressed by serial number) on a
# pseudo-terminal, and runs the reference host against it with examples/demo.toml, which
# uses every operation. Ctrl-C stops both.
# Usage (as root on a fresh Debian 12 machine, or as anyone once the packages are there):
#   bash scripts/demo.sh [vemox-host options, e.g. --log]
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

# shellcheck source=lib/packages.sh
source scripts/lib/packages.sh

install_missing "${packages_build[@]}" || exit 1
echo "Building the driver, the host and the simulator (build/linux)..."
cmake --preset linux >/dev/null
cmake --build --preset linux --target vemox_plugin vemox-host vemox-sim

build=build/linux
work=$(mktemp -d)
sim_pid=""
stop_sim() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap stop_sim EXIT

"$build/sim/vemox-sim" --demo >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
pty=""
for _ in $(seq 50); do
    pty=$(sed -n 's/^pty: //p' "$work/sim.out")
    [ -n "$pty" ] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        cat "$work/sim.err" >&2
        echo "vemox-sim did not start" >&2
        exit 1
    fi
    sleep 0.1
done
if [ -z "$pty" ]; then
    echo "vemox-sim printed no pseudo-terminal" >&2
    exit 1
fi
echo "Simulator on $pty; starting the host (Ctrl-C stops both)."

# The host stops on Ctrl-C by itself; the shell must outlive it to stop the simulator.
trap '' INT
status=0
"$build/vemox-host" --config examples/demo.toml --device "COM1=$pty" "$@" run || status=$?
exit "$status"
