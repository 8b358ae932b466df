#!/usr/bin/env bash
# The live view of `vemox-host run` in a real terminal (tmux) against vemox-sim's demo line:
# at each size no line is wider than the terminal or wraps, the title, the table's heading
# and the controllers panel are on screen; a resize redraws for the new size; q or Ctrl-C
# gives the terminal back as it was. With LIVE_VIEW_CAPTURE=DIR the 120x40 screen is kept
# there, with its colours, as live-120x40.ans.
# Usage: live-view.sh <vemox-host> <vemox-sim> <configuration>
set -euo pipefail
host="$1"
sim="$2"
config="$3"
export LC_ALL=C.UTF-8 # widths in characters; names are Cyrillic

if ! command -v tmux >/dev/null; then
    echo "SKIP: tmux is not installed (apt-get install tmux)"
    exit 77
fi
# shellcheck source=../../scripts/lib/sim.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/sim.sh"
skip_without_sim "$sim"
work=$(mktemp -d)
tmux_() { tmux -S "$work/tmux.sock" -f /dev/null "$@"; }
cleanup() {
    tmux_ kill-server 2>/dev/null || true
    stop_sim
    rm -rf "$work"
}
trap cleanup EXIT
start_sim "$work" "$sim" --demo

failed=0
check() { # check <description> <command...>
    if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi
}
screen() { tmux_ capture-pane -p -t live "$@"; }
# wait_for <regex>: until the screen shows it, at most ten seconds.
wait_for() {
    for _ in $(seq 100); do
        screen | grep -Eq -- "$1" && return 0
        sleep 0.1
    done
    return 1
}
# fits <width> <height>: the screen is the terminal's size, every line within the width and
# none wrapped (tmux joins wrapped lines with -J).
fits() {
    [ "$(screen | wc -l)" -eq "$2" ] && [ "$(screen | wc -L)" -le "$1" ] &&
        [ "$(screen -J | wc -l)" -eq "$2" ]
}
shows_view() {
    screen | head -n 1 | grep -q "^vemox-host run" &&
        screen | sed -n 2p | grep -q "^ITEM .*VALUE" && screen | grep -Eq "^CONTROLLER +LINK" &&
        screen | grep -Eq "^(Hopper|Belt|Tank) +up"
}

# width height shows | resized to: width height shows | quit with
cases=(
    "80 24 ^\+[0-9]+.more 200 60 TREND q"
    "120 40 ^Tank\.reply_ms 80 24 ^\+[0-9]+.more C-c"
    "200 60 TREND 120 40 ^Tank\.reply_ms q"
)
for row in "${cases[@]}"; do
    read -r width height shows width2 height2 shows2 quit <<<"$row"
    echo "== ${width}x${height}, then ${width2}x${height2}, quit with $quit"
    tmux_ new-session -d -s live -x "$width" -y "$height" \
        "trap : INT; echo before the live view; '$host' -c '$config' --device 'COM1=$pty' run; echo exit status \$?" \; \
        set-option -t live remain-on-exit on
    check "${width}x${height}: the view is up with its panel" wait_for "^(Hopper|Belt|Tank) +up"
    check "${width}x${height}: it shows $shows" wait_for "$shows"
    check "${width}x${height}: title, heading and panel on screen" shows_view
    check "${width}x${height}: every line fits, none wraps" fits "$width" "$height"
    if [ "$width" = 120 ] && [ -n "${LIVE_VIEW_CAPTURE:-}" ]; then
        sleep 5 # the trend fills in
        screen -e >"$LIVE_VIEW_CAPTURE/live-120x40.ans"
    fi
    tmux_ resize-window -t live -x "$width2" -y "$height2"
    check "${width2}x${height2} after a resize: it shows $shows2" wait_for "$shows2"
    check "${width2}x${height2}: title, heading and panel on screen" shows_view
    check "${width2}x${height2}: every line fits, none wraps" fits "$width2" "$height2"
    tmux_ send-keys -t live "$quit"
    check "$quit stops the host with status 0" wait_for "^exit status 0"
    check "$quit gives the screen back as it was" \
        bash -c '[ "$(grep -v -e "^$" -e "^Pane is dead" <<<"$1")" = "$(printf "before the live view\nstopped\nexit status 0")" ]' \
        - "$(screen -S -)"
    tmux_ kill-session -t live
done
exit "$failed"
