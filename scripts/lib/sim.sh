# Sourced by the scripts and tests that run vemox-sim on a pseudo-terminal.

# skip_without_sim <vemox-sim>: a test that needs the native simulator skips (status 77, as
# ctest is told) when the linux build has not made it.
skip_without_sim() {
    if [ ! -x "$1" ]; then
        echo "SKIP: no native simulator at $1 (build the linux preset first)"
        exit 77
    fi
}

# start_sim <work dir> <vemox-sim> [option...]: starts the simulator in the background and
# waits for the pseudo-terminal it serves; sets sim_pid and pty. Fails, showing the
# simulator's errors, when it prints none within five seconds.
start_sim() {
    local work="$1"
    shift
    "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    pty=""
    for _ in $(seq 50); do
        pty=$(sed -n 's/^pty: //p' "$work/sim.out")
        [ -n "$pty" ] && return 0
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "vemox-sim did not start" >&2
    cat "$work/sim.err" >&2
    return 1
}

# stop_sim: stops the simulator that start_sim started, if it still runs.
stop_sim() {
    if [ -n "${sim_pid:-}" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
}
