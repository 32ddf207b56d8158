#!/usr/bin/env bash
# lock_step.sh -- the whole program (reference input piped in, standard
# output to a file) against the one-thread writer (bench_baseline), run in
# turn, N rounds (3 by default), medians. Cases:
#   idle  each alone: wall time, processor time (user + sys), peak memory;
#   core  each pinned to processor 0 (taskset -c 0);
#   pair  two programs at once, each in its own folder, against one writer;
#         each file is checked byte for byte (sha256);
# then the lock step alone (bench_lock_step_floor): a bare switch round
# trip and a pipe round trip, and what each comes to over a run.
# Usage: bench/lock_step.sh [build dir] [rounds]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rounds=${2:-3}
binary=$build/quombax
writer=$build/bench/bench_baseline
expected=7dbde1216c652c13a1e3606570c7c1138d485ec113f5ac5948fbe61f2a74a5e0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/a" "$work/b"
printf '10\n210\n200\n' > "$work/input"

# run DIR [PREFIX...] -- one program run in DIR; prints "wall cpu rss_kib".
# A run that finds both instances of the pipe name taken (by other runs
# on the machine, such as tests) is tried again.
run() {
    local dir=$1
    shift
    for ((attempt = 0; attempt < 100; attempt++)); do
        (cd "$dir" && /usr/bin/time -f '%e %U %S %M' -o "$dir/.time" "$@" "$binary" < "$work/input" > "$dir/.out") && break
        grep -q 'Cannot create named pipe' "$dir/.out" || { echo "the program failed in $dir" >&2; exit 1; }
        sleep 0.2
    done
    check "$dir"
    awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$dir/.time"
}
# write DIR [PREFIX...] -- one writer run in DIR, the same figures
write() {
    local dir=$1
    shift
    (cd "$dir" && /usr/bin/time -f '%e %U %S %M' -o "$dir/.time" "$@" "$writer" > "$dir/.out")
    check "$dir"
    awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$dir/.time"
}
check() {
    [ "$(sha256sum < "$1/dagoma0.g" | cut -d' ' -f1)" = $expected ] || { echo "wrong dagoma0.g in $1" >&2; exit 1; }
    rm -f "$1/dagoma0.g"
}
now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -a p_wall p_cpu p_rss w_wall w_cpu c_prog c_writer pair pair_writer
for ((i = 0; i < rounds; i++)); do
    read -r wall cpu rss < <(write "$work/a")
    w_wall+=("$wall") w_cpu+=("$cpu")
    read -r wall cpu rss < <(run "$work/a")
    p_wall+=("$wall") p_cpu+=("$cpu") p_rss+=("$rss")

    read -r wall cpu rss < <(write "$work/a" taskset -c 0)
    c_writer+=("$wall")
    read -r wall cpu rss < <(run "$work/a" taskset -c 0)
    c_prog+=("$wall")

    read -r wall cpu rss < <(write "$work/a")
    pair_writer+=("$wall")
    start=$(now)
    run "$work/a" > "$work/a.pair" &
    first=$!
    run "$work/b" > "$work/b.pair" &
    second=$!
    wait $first
    wait $second
    pair+=("$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }')")
done

m() { printf '%s\n' "$@" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
pw=$(m "${p_wall[@]}") pc=$(m "${p_cpu[@]}") pr=$(printf '%s\n' "${p_rss[@]}" | sort -n | tail -1)
ww=$(m "${w_wall[@]}") wc=$(m "${w_cpu[@]}")
cp=$(m "${c_prog[@]}") cw=$(m "${c_writer[@]}")
pp=$(m "${pair[@]}") pwr=$(m "${pair_writer[@]}")
echo "medians of $rounds rounds (s); ratios against the one-thread writer of the same round set"
printf '%-34s %8s %8s %7s\n' case program writer ratio
printf '%-34s %8s %8s %7s\n' "idle: wall" "$pw" "$ww" "$(ratio "$pw" "$ww")"
printf '%-34s %8s %8s %7s\n' "idle: cpu (user+sys)" "$pc" "$wc" "$(ratio "$pc" "$wc")"
printf '%-34s %8s %8s %7s\n' "idle: program cpu / program wall" "" "" "$(ratio "$pc" "$pw")"
printf '%-34s %8s %8s %7s\n' "one core (taskset -c 0): wall" "$cp" "$cw" "$(ratio "$cp" "$cw")"
printf '%-34s %8s %8s %7s\n' "two programs at once: pair wall" "$pp" "$pwr" "$(ratio "$pp" "$pwr")"
echo "peak resident memory of the program: $pr KiB; every dagoma0.g exact (sha256)"
echo "all: program ${p_wall[*]} | writer ${w_wall[*]} | core ${c_prog[*]} / ${c_writer[*]} | pair ${pair[*]} / ${pair_writer[*]}"
# The lock step alone, without lines: the layer's switch and its pipe.
if [ -x "$build/bench/bench_lock_step_floor" ]; then
    "$build/bench/bench_lock_step_floor" | while read -r name ns _ _ run _; do
        echo "$name $ns: over a run $run s, $(ratio "$run" "$ww") of the writer's wall"
    done
fi
