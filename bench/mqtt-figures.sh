#!/usr/bin/env bash
# The MQTT gateway's two figures, in real time against vemox-sim on a pseudo-terminal and a
# mosquitto broker of its own on a loopback port:
#  1. latency: from the moment the host reads a reply off the line to the moment a subscriber
#     has the message with that read (bench/MqttLatency.cpp), median over READS reads, for
#     QoS 1 and QoS 0;
#  2. CPU: vemox-host run --plain on the demo line with every scan rate at 0, SECONDS each
#     without an [mqtt] section, with one (values published on change, the default), and
#     with one that publishes every read (heartbeat_s = 0); CPU time of the whole process
#     (all threads) from /proc/PID/stat, and per finished read.
# Usage: bench/mqtt-figures.sh [READS] [SECONDS]   (defaults 1000 60; expects a built linux
#        preset, mosquitto installed)
set -euo pipefail
cd "$(dirname "$0")/.."

reads=${1:-1000}
seconds=${2:-60}
build=build/linux
work=$(mktemp -d)
broker_pid=""
host_pid=""
# shellcheck source=../scripts/lib/sim.sh
source scripts/lib/sim.sh
finish() {
    for pid in "$host_pid" "$broker_pid"; do
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    stop_sim
    rm -rf "$work"
}
trap finish EXIT

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser %s\n' "$port" "$(id -un)" >"$work/broker.conf"
/usr/sbin/mosquitto -c "$work/broker.conf" 2>"$work/broker.log" &
broker_pid=$!
start_sim "$work" "$build/sim/vemox-sim" --demo

echo "== latency, reply on the line to message at a subscriber"
for qos in 1 0; do
    "$build/bench/vemox_bench_mqtt_latency" "$pty" "$port" "$reads" "$qos" 2>/dev/null
done

echo "== CPU of vemox-host run, demo line, every scan rate 0, ${seconds} s each"
sed -E 's/^scan_rate = [0-9]+/scan_rate = 0/' examples/demo.toml >"$work/off.toml"
cp "$work/off.toml" "$work/change.toml"
printf '\n[mqtt]\nurl = "mqtt://127.0.0.1:%s"\n' "$port" >>"$work/change.toml"
cp "$work/change.toml" "$work/every.toml"
echo "heartbeat_s = 0" >>"$work/every.toml"
ticks=$(getconf CLK_TCK)
for mode in off change every; do
    "$build/vemox-host" --config "$work/$mode.toml" --device "COM1=$pty" run --plain \
        >"$work/$mode.out" 2>"$work/$mode.err" &
    host_pid=$!
    sleep "$seconds"
    # utime and stime, fields 14 and 15, after the command name (which has no spaces here).
    cpu=$(awk '{print $14 + $15}' "/proc/$host_pid/stat")
    kill -INT "$host_pid"
    wait "$host_pid"
    host_pid=""
    lines=$(grep -c '\] ' "$work/$mode.out" || true)
    awk -v mode="$mode" -v cpu="$cpu" -v ticks="$ticks" -v s="$seconds" -v n="$lines" 'BEGIN {
        printf "publishing %-6s  CPU %.2f s in %d s (%.2f %%)  %d reads  %.1f us per read\n",
            mode, cpu / ticks, s, 100 * cpu / ticks / s, n, 1e6 * cpu / ticks / n }'
done
