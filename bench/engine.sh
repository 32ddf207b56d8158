#!/usr/bin/env bash
# engine.sh -- measures in one run, in turn, (a) the whole transfer of the
# reference input and (b) the one-thread writer that formats the same lines
# into one reused 1 MiB buffer and writes it whenever it is full; prints
# the medians, their ratio and the peak resident memory of (a).
# Usage: bench/engine.sh [build dir] [rounds]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rounds=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
transfer=() baseline=() rss=()
for ((i = 0; i < rounds; i++)); do
    out=$("$build/bench/bench_transfer")
    transfer+=("$(awk '/transfer_seconds/ {print $2}' <<<"$out")")
    rss+=("$(awk '/peak_rss_kib/ {print $2}' <<<"$out")")
    cp dagoma0.g transfer.g
    out=$("$build/bench/bench_baseline")
    baseline+=("$(awk '/baseline_seconds/ {print $2}' <<<"$out")")
    cmp -s dagoma0.g transfer.g || { echo "the two outputs differ"; exit 1; }
done
t=$(printf '%s\n' "${transfer[@]}" | median)
b=$(printf '%s\n' "${baseline[@]}" | median)
r=$(printf '%s\n' "${rss[@]}" | sort -n | tail -1)
echo "transfer (generator thread, link, receive loop, file): median of $rounds: ${t} s  (all: ${transfer[*]})"
echo "one-thread writer (reused 1 MiB buffer):                median of $rounds: ${b} s  (all: ${baseline[*]})"
awk -v t="$t" -v b="$b" 'BEGIN { printf "ratio transfer/writer: %.2f\n", t / b }'
echo "peak resident memory of the transfer: ${r} KiB"
echo "output: $(wc -c < transfer.g) bytes, $(wc -l < transfer.g) lines"
