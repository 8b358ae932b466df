#!/usr/bin/env bash
# Builds the linux preset and runs every benchmark program, then prints the end-to-end
# throughput as a ratio of the line's limit: on simulated time, and in real time with
# vemox-host against vemox-sim on a pseudo-terminal (bench/host-on-pty.sh). Extra arguments go to the micro benchmarks
# (e.g. --benchmark_repetitions=5).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset linux >/dev/null
cmake --build --preset linux
bench=build/linux/bench

for program in codec run_tasks reply execute memory; do
    echo "== vemox_bench_${program}"
    "${bench}/vemox_bench_${program}" "$@"
done

json=$(mktemp)
trap 'rm -f "${json}"' EXIT
echo "== vemox_bench_end_to_end"
"${bench}/vemox_bench_end_to_end" --benchmark_format=json >"${json}" 2>/dev/null

python3 - "${json}" <<'PY'
import json, re, sys

runs = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    args = dict(re.findall(r"(\w+):(\d+)", b["name"]))
    key = (int(args["node"]), int(args["sleep"]), int(args["exec_ms"]), int(args["turn_ms"]))
    runs.setdefault(key, {})[int(args["baud"])] = b

bauds = [9600, 19200, 38400, 57600, 115200]
sets = {0: "net (1 item/node)", 1: "node (20 items/node)"}
hosts = {0: "wait", 1: "sleep"}

def table(title, counter, fmt):
    print(f"\n{title}")
    print(f"{'items':<21}{'host':<7}{'exec':>5}{'turn':>6} " + "".join(f"{b:>9}" for b in bauds))
    for key in sorted(runs):
        node, sleep, period, turn = key
        cells = "".join(fmt.format(runs[key][b][counter]) for b in bauds)
        print(f"{sets[node]:<21}{hosts[sleep]:<7}{period:>4}ms{turn:>4}ms {cells}")

table("Line ratio (line time the exchanges need / simulated time they took):",
      "line_ratio", "{:>9.3f}")
table("Exchanges per second:", "exch_per_s", "{:>9.1f}")
table("Good item updates per second:", "items_per_s", "{:>9.0f}")

waiting = [b["line_ratio"] for (node, sleep, _, _), row in runs.items() if sleep == 0
           for b in row.values()]
failed = sum(b["failed_tasks"] for row in runs.values() for b in row.values())
print(f"\nTasks completed with a failure, all runs: {failed:.0f}")
print(f"Lowest ratio with the host waiting on the line: {min(waiting):.4f} "
      f"(goal >= 0.95)")
PY

echo
echo "== vemox-host against vemox-sim on a pseudo-terminal, real time, 10 s each"
for run in "9600 5 10" "9600 5 1" "9600 0 10" "38400 5 10" "115200 0 10" "115200 0 1"; do
    # shellcheck disable=SC2086
    bench/host-on-pty.sh ${run} 10
done
