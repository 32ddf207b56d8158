#!/usr/bin/env bash
# whole_program.sh -- measures in one run, best of N rounds each:
#   (a) the engine's transfer alone (bench_transfer, no console);
#   (b) the whole program with the reference input piped in and standard
#       output redirected to a file (nothing drawn);
#   (c) the whole program with the reference input piped in and standard
#       output a terminal (tmux, 120 x 30: the screen is drawn);
# and the processor time the program takes while the form waits for a key
# in a terminal, over 5 seconds (should be none).
# Usage: bench/whole_program.sh [build dir] [rounds]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rounds=${2:-3}
binary=$build/quombax
work=$(mktemp -d)
socket="quombax-bench-$$"
tmux_() { tmux -L "$socket" -f /dev/null "$@"; }
trap 'tmux_ kill-server 2> /dev/null || true; rm -rf "$work"' EXIT
cd "$work"
best() { sort -n | head -1; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
have_tmux=0
command -v tmux > /dev/null && have_tmux=1

engine=() redirected=() terminal=()
for ((i = 0; i < rounds; i++)); do
    out=$("$build/bench/bench_transfer" < /dev/null)
    engine+=("$(awk '/transfer_seconds/ {print $2}' <<<"$out")")
    rm -f dagoma0.g

    start=$(now)
    printf '10\n210\n200\n' | "$binary" > stdout.txt
    redirected+=("$(elapsed "$start" "$(now)")")
    [ "$(stat -c %s dagoma0.g)" = 110767244 ] || { echo "wrong output size"; exit 1; }
    rm -f dagoma0.g

    if [ $have_tmux = 1 ]; then
        rm -f "$work/done"
        tmux_ kill-server 2> /dev/null || true
        tmux_ new-session -d -x 120 -y 30 \
            "cd $work && s=\$(date +%s.%N) && printf '10\n210\n200\n' | $binary; e=\$(date +%s.%N); echo \"\$s \$e\" > $work/done.tmp && mv $work/done.tmp $work/done; sleep 60"
        while [ ! -f "$work/done" ]; do sleep 0.05; done
        read -r s e < "$work/done"
        terminal+=("$(elapsed "$s" "$e")")
        tmux_ kill-server 2> /dev/null || true
        rm -f dagoma0.g
    fi
done

e=$(printf '%s\n' "${engine[@]}" | best)
r=$(printf '%s\n' "${redirected[@]}" | best)
echo "engine transfer alone:                      best of $rounds: ${e} s  (all: ${engine[*]})"
echo "whole program, piped input, stdout to file: best of $rounds: ${r} s  (all: ${redirected[*]})"
awk -v r="$r" -v e="$e" 'BEGIN { printf "  ratio to the engine: %.2f\n", r / e }'
if [ $have_tmux = 1 ]; then
    t=$(printf '%s\n' "${terminal[@]}" | best)
    echo "whole program, piped input, stdout tmux:    best of $rounds: ${t} s  (all: ${terminal[*]})"
    awk -v t="$t" -v e="$e" 'BEGIN { printf "  ratio to the engine: %.2f\n", t / e }'

    # Processor time while the form waits for a key, in a terminal.
    tmux_ new-session -d -x 120 -y 30 "cd $work && exec $binary"
    sleep 1
    pid=$(tmux_ display -p '#{pane_pid}')
    [ "$(cat "/proc/$pid/comm")" = quombax ] || { echo "the program did not start"; exit 1; }
    ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
    before=$(ticks "$pid")
    sleep 5
    after=$(ticks "$pid")
    hz=$(getconf CLK_TCK)
    awk -v t=$((after - before)) -v hz="$hz" \
        'BEGIN { printf "processor time while the form waits for a key, over 5 s: %d ticks (%.3f s)\n", t, t / hz }'
    tmux_ kill-server 2> /dev/null || true
else
    echo "tmux is not installed: the terminal figures are left out"
fi
