#!/usr/bin/env bash
# End to end in real time: vemox-host (`run`, scan rate 0, so every item is read again as
# soon as its last read is done) against vemox-sim on a pseudo-terminal that paces its
# replies at the line rate. Two controllers, one net weight each, so a request always waits
# while another is on the line. Prints exchanges per second and the ratio to the line's
# limit.
#
# The pseudo-terminal carries the host's requests at once; only the replies take their wire
# time. The limit is therefore one exchange per (turnaround + reply bytes at 10 bits each);
# on a real line the request's own wire time comes on top of both.
#
# Usage: bench/host-on-pty.sh [BAUD] [TURNAROUND_MS] [EXECUTE_MS] [SECONDS]
#        (defaults 9600 5 10 10; expects a built linux preset)
#        VEMOX_HOST=PATH runs another build's host (and the driver beside it), e.g. to
#        compare with an earlier version.
set -euo pipefail
cd "$(dirname "$0")/.."

baud=${1:-9600}
turnaround=${2:-5}
period=${3:-10}
seconds=${4:-10}
build=build/linux
host=${VEMOX_HOST:-$build/vemox-host}
work=$(mktemp -d)
sim_pid=""
host_pid=""
finish() {
    for pid in "$host_pid" "$sim_pid"; do
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$work"
}
trap finish EXIT

"$build/sim/vemox-sim" -v --baud "$baud" --turnaround-ms "$turnaround" \
    --controller addr=1 --controller addr=2 >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
pty=""
for _ in $(seq 50); do
    pty=$(sed -n 's/^pty: //p' "$work/sim.out")
    [ -n "$pty" ] && break
    sleep 0.1
done
[ -n "$pty" ] || { cat "$work/sim.log" >&2; echo "vemox-sim did not start" >&2; exit 1; }

cat >"$work/host.toml" <<EOF
[driver]
WaitTimeout = 1000
CalcCRC = true

[host]
execute_ms = ${period}

[[port]]
name = "COM1"
baud = ${baud}

[[node]]
name = "A"
port = "COM1"
address = 1
scan_rate = 0

[[node]]
name = "B"
port = "COM1"
address = 2
scan_rate = 0

[[item]]
node = "A"
name = "net"
operation = "Вес Нетто"

[[item]]
node = "B"
name = "net"
operation = "Вес Нетто"
EOF

"$host" --config "$work/host.toml" --device "COM1=$pty" run --plain \
    >"$work/host.out" 2>"$work/host.err" &
host_pid=$!
sleep "$seconds"
kill -INT "$host_pid"
wait "$host_pid" || { cat "$work/host.err" >&2; exit 1; }
host_pid=""

python3 - "$work/sim.log" "$baud" "$turnaround" "$period" <<'PY'
import re, sys

log, baud, turnaround, period = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
exchanges = []  # (request time, line time the exchange needs), answered ones only
unanswered = 0
for line in open(log):
    m = re.match(r"\s*([\d.]+)\s+Rx .*?Tx ([0-9A-F ]+)$", line)
    if m:
        reply_bytes = len(m.group(2).split())
        exchanges.append((float(m.group(1)), turnaround / 1000 + reply_bytes * 10 / baud))
    elif " Rx " in line:
        unanswered += 1
# The first second is warm-up; the window runs from a request to the last request, and
# holds the exchanges started inside it.
start = next(i for i, e in enumerate(exchanges) if e[0] >= exchanges[0][0] + 1.0)
window = exchanges[start:]
elapsed = window[-1][0] - window[0][0]
need = sum(e[1] for e in window[:-1])
rate = (len(window) - 1) / elapsed
limit = (len(window) - 1) / need
# The median exchange shows the host's own pace; the mean also holds the stalls a busy
# machine inflicts on either program.
spans = sorted(b[0] - a[0] for a, b in zip(window, window[1:]))
median = spans[len(spans) // 2]
print(f"{baud:>6} baud  turnaround {turnaround:>2} ms  execute {period:>3} ms  "
      f"{rate:7.1f} exch/s  limit {limit:7.1f}  ratio {need / elapsed:.3f}  "
      f"median exchange {median * 1000:6.2f} ms (limit {1000 / limit:6.2f})  "
      f"unanswered {unanswered}")
PY
