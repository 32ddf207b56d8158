#!/usr/bin/env bash
# wine_check.sh -- the Windows build, checked under wine.
#
# Cross-builds quombax.exe and the Windows unit tests with the mingw-w64
# toolchain, checks that the .exe needs no DLL but the system's, runs the
# unit tests under wine, and then runs the real quombax.exe under wine with
# piped numbers: two runs at once write their own files (the first lines of
# each are compared with the native build's output for the same numbers,
# since a whole run under wine takes most of an hour), a third run at that
# moment is refused the pipe, a second run in one folder is refused the
# file, both leaving the previous dagoma0.g as it was, and an output file
# that cannot be made or written ends the run with a message and status 1.
# A run writes dagoma0.g.part until it is whole; the runs here are killed
# before that, so their lines are read from dagoma0.g.part.
#
# Arguments: $1 the source folder, $2 a build folder for this script.
# Exits 77 (skipped) when the cross compiler or wine is missing.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 <source dir> <build dir>" >&2
    exit 2
fi
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null; then
    echo "SKIP: needs x86_64-w64-mingw32-g++-posix (g++-mingw-w64-x86-64-posix) and wine (wine64)"
    exit 77
fi

src=$(cd "$1" && pwd)
mkdir -p "$2"
build=$(cd "$2" && pwd)
googletest=${GOOGLETEST_SOURCE_DIR:-/usr/src/googletest}
if [ ! -f "$googletest/CMakeLists.txt" ]; then
    echo "FAIL: GoogleTest's sources are not in $googletest (Debian package googletest)"
    exit 1
fi

# Lines of dagoma0.g compared with the native build's, per run.
PREFIX_LINES=12000
# Only a stuck run reaches these (seconds).
GUARD_SECONDS=600

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

started_pids=()
cleanup() {
    local pid
    for pid in "${started_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

echo "== cross build"
cmake -S "$src/tests/windows" -B "$build/cross" \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DGOOGLETEST_SOURCE_DIR="$googletest" >"$build/cross-configure.log" ||
    { cat "$build/cross-configure.log"; exit 1; }
cmake --build "$build/cross" -j2
exe="$build/cross/quombax/quombax.exe"
tests_exe="$build/cross/windows_tests.exe"

echo "== the .exe"
header=$(x86_64-w64-mingw32-objdump -f "$exe")
if grep -q 'file format pei-x86-64' <<<"$header"; then pass "64-bit PE"; else fail "not a 64-bit PE: $header"; fi
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "size $(stat -c %s "$exe") bytes; imports: $(tr '\n' ' ' <<<"$dlls")"
while read -r dll; do
    case "$(tr '[:upper:]' '[:lower:]' <<<"$dll")" in
        kernel32.dll | user32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) ;;
        *) fail "imports $dll, which a bare Windows does not have" ;;
    esac
done <<<"$dlls"
grep -qi '^kernel32.dll$' <<<"$dlls" && pass "only system DLLs" || fail "no KERNEL32 import"

echo "== native build (the reference output)"
cmake -S "$src" -B "$build/native" -DCMAKE_BUILD_TYPE=Release -DQUOMBAX_TESTS=OFF >"$build/native-configure.log" ||
    { cat "$build/native-configure.log"; exit 1; }
cmake --build "$build/native" -j2 --target quombax
native="$build/native/quombax"

echo "== wine"
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then wineboot -i >/dev/null 2>&1; fi
wine --version

echo "== unit tests under wine"
# A pseudo-terminal gives wine a console, so the screen read-back runs too.
log="$build/windows_tests.log"
rm -f "$log"
status=0
if command -v script >/dev/null; then
    script -qec "wine '$tests_exe' >'$log' 2>&1" /dev/null </dev/null >/dev/null || status=$?
fi
if [ ! -f "$log" ]; then
    status=0
    wine "$tests_exe" >"$log" 2>&1 || status=$?
fi
cat "$log"
if [ "$status" -eq 0 ] && grep -q '^\[  PASSED  \]' "$log"; then pass "unit tests"; else fail "unit tests (status $status)"; fi

# start_run <program> <dir> <numbers>: starts the program in a fresh dir
# with the numbers, one a line, on its standard input.
start_run() {
    local program=$1 dir=$2 numbers=$3
    rm -rf "$dir"
    mkdir -p "$dir"
    printf '%s\n' $numbers >"$dir/input"
    (cd "$dir" && exec "$program" <input >output 2>errors) &
    started_pids+=($!)
    last_pid=$!
}

# line_count <file>: complete lines in it so far.
line_count() {
    if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi
}

# wait_for_lines <pid> <file> <count>: until the file has count lines or
# the program ended.
wait_for_lines() {
    local pid=$1 file=$2 count=$3 waited=0
    while [ "$(line_count "$file")" -lt "$count" ] && kill -0 "$pid" 2>/dev/null; do
        sleep 0.2
        waited=$((waited + 1))
        if [ "$waited" -gt $((GUARD_SECONDS * 5)) ]; then
            fail "$file: still fewer than $count lines after $GUARD_SECONDS s"
            return 1
        fi
    done
}

# wait_for_end <pid>: the program's exit status, or 124 when it is stuck.
wait_for_end() {
    local pid=$1 waited=0
    while kill -0 "$pid" 2>/dev/null; do
        sleep 0.2
        waited=$((waited + 1))
        if [ "$waited" -gt $((GUARD_SECONDS * 5)) ]; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
            return 124
        fi
    done
    local status=0
    wait "$pid" || status=$?
    return "$status"
}

# stop_run <pid> [signal]
stop_run() {
    kill -"${2:-TERM}" "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

runs="$build/runs"

echo "== native runs for the reference lines"
# killed outright, so that their partial files stay to be compared
start_run "$native" "$runs/native-a" "10 210 200"
wait_for_lines "$last_pid" "$runs/native-a/dagoma0.g.part" "$PREFIX_LINES" || true
stop_run "$last_pid" KILL
start_run "$native" "$runs/native-b" "-12.5 170 080"
wait_for_lines "$last_pid" "$runs/native-b/dagoma0.g.part" "$PREFIX_LINES" || true
stop_run "$last_pid" KILL

echo "== two runs at once under wine, and a third one"
# The .exe is started from a copy in each folder, as a user would.
mkdir -p "$runs"
rm -rf "$runs/wine-a" "$runs/wine-b" "$runs/wine-c"
for name in a b c; do mkdir -p "$runs/wine-$name"; cp "$exe" "$runs/wine-$name/quombax.exe"; done
printf '10\n210\n200\n' >"$runs/wine-a/input"
printf -- '-12.5\n170\n080\n' >"$runs/wine-b/input"
printf '10\n210\n200\n' >"$runs/wine-c/input"
echo previous >"$runs/wine-a/dagoma0.g"
(cd "$runs/wine-a" && exec wine quombax.exe <input >output 2>errors) &
started_pids+=($!)
pid_a=$!
(cd "$runs/wine-b" && exec wine quombax.exe <input >output 2>errors) &
started_pids+=($!)
pid_b=$!
# Once both files grow, both runs hold their server ends.
wait_for_lines "$pid_a" "$runs/wine-a/dagoma0.g.part" 500 || true
wait_for_lines "$pid_b" "$runs/wine-b/dagoma0.g.part" 500 || true
echo stale >"$runs/wine-c/dagoma0.g"
(cd "$runs/wine-c" && exec wine quombax.exe <input >output 2>errors) &
started_pids+=($!)
status=0
wait_for_end $! || status=$?
# Standard output is in text mode on Windows: each "\n" arrives as "\r\n".
if [ "$status" -eq 1 ] && tr -d '\r' <"$runs/wine-c/output" | grep -qx 'Cannot create named pipe.' &&
    [ "$(cat "$runs/wine-c/dagoma0.g")" = stale ] && [ ! -e "$runs/wine-c/dagoma0.g.part" ]; then
    pass "a third run: \"Cannot create named pipe.\", status 1, the previous dagoma0.g intact, no partial file"
else
    fail "a third run: status $status, output: $(cat "$runs/wine-c/output"), dagoma0.g: $(head -c 40 "$runs/wine-c/dagoma0.g" 2>&1)"
fi
# A second run in the folder of a run that is writing: refused the file.
cp "$runs/wine-a/input" "$runs/wine-a/input-second"
(cd "$runs/wine-a" && exec wine quombax.exe <input-second >output-second 2>errors-second) &
started_pids+=($!)
status=0
wait_for_end $! || status=$?
if [ "$status" -eq 1 ] &&
    tr -d '\r' <"$runs/wine-a/output-second" | grep -qx 'Cannot create dagoma0.g: another run is writing it in this folder.' &&
    [ "$(cat "$runs/wine-a/dagoma0.g")" = previous ]; then
    pass "a second run in one folder: refused, status 1, the previous dagoma0.g intact"
else
    fail "a second run in one folder: status $status, output: $(cat "$runs/wine-a/output-second")"
fi

for name in a b; do
    pid_var=pid_$name
    pid=${!pid_var}
    wait_for_lines "$pid" "$runs/wine-$name/dagoma0.g.part" "$PREFIX_LINES" || true
    # killed outright: the run in tmux below needs the pipe's instances
    # that these two held, so it shows that a killed run blocks no other
    stop_run "$pid" KILL
    got=$(line_count "$runs/wine-$name/dagoma0.g.part")
    if [ "$got" -lt "$PREFIX_LINES" ]; then
        fail "wine run $name ended after $got lines: $(cat "$runs/wine-$name/output")"
    elif cmp -s <(head -n "$PREFIX_LINES" "$runs/wine-$name/dagoma0.g.part") \
        <(head -n "$PREFIX_LINES" "$runs/native-$name/dagoma0.g.part"); then
        pass "wine run $name: the first $PREFIX_LINES lines equal the native build's ($got written when stopped)"
    else
        fail "wine run $name: its first $PREFIX_LINES lines differ from the native build's:"
        diff <(head -n "$PREFIX_LINES" "$runs/wine-$name/dagoma0.g.part") \
            <(head -n "$PREFIX_LINES" "$runs/native-$name/dagoma0.g.part") | head -n 10
    fi
done
# Lines the reference input must give, whatever both builds agree on.
expect_line() {
    local file=$1 number=$2 text=$3
    local got
    got=$(sed -n "${number}p" "$file")
    if [ "$got" = "$text" ]; then pass "line $number: $text"; else fail "line $number is \"$got\", not \"$text\""; fi
}
expect_line "$runs/wine-a/dagoma0.g.part" 1 "G90"
expect_line "$runs/wine-a/dagoma0.g.part" 2 "G1 F200 X70.000 Y-64.000 Z10"
expect_line "$runs/wine-a/dagoma0.g.part" 5 "G1 F200 E0.000"
expect_line "$runs/wine-a/dagoma0.g.part" 4831 "G1 F200 X-0.000"
expect_line "$runs/wine-b/dagoma0.g.part" 2 "G1 F080 X70.000 Y-64.000 Z-12.5"
if head -n "$PREFIX_LINES" "$runs/wine-a/dagoma0.g.part" | grep -q $'\r'; then fail "a carriage return in dagoma0.g"; fi
# a killed run leaves the previous file as it was
if [ "$(cat "$runs/wine-a/dagoma0.g")" = previous ]; then pass "a killed run: the previous dagoma0.g intact"; else fail "a killed run changed dagoma0.g"; fi

echo "== an output file that cannot be made or written"
check_file_failure() {
    local name=$1 expected=$2
    local dir="$runs/wine-$name"
    status=0
    (cd "$dir" && exec wine quombax.exe <input >output 2>errors) &
    started_pids+=($!)
    wait_for_end $! || status=$?
    if [ "$status" -eq 1 ] && grep -q "^$expected" "$dir/output"; then
        pass "$name: status 1, \"$(head -n 1 "$dir/output")\""
    else
        fail "$name: status $status, output: $(cat "$dir/output")"
    fi
}
rm -rf "$runs/wine-directory" "$runs/wine-full"
mkdir -p "$runs/wine-directory/dagoma0.g" "$runs/wine-full"
ln -s /dev/full "$runs/wine-full/dagoma0.g"
for name in directory full; do
    cp "$exe" "$runs/wine-$name/quombax.exe"
    printf '10\n210\n200\n' >"$runs/wine-$name/input"
done
check_file_failure directory "Cannot create dagoma0.g: "
check_file_failure full "Cannot write dagoma0.g: "

echo "== the form on wine's console, in tmux"
# wine's console on a terminal may hand over a key's press and release in
# one read; then the field's last read after an accepted Enter waits for
# one more key. So after each Enter an "x", which the field ignores, is
# typed until the next prompt shows; digits go one at a time, each once the
# one before it is echoed (a burst would be taken as one key).
if command -v tmux >/dev/null; then
    tmux_socket="quombax-wine-$$"
    tmux_run() { tmux -L "$tmux_socket" "$@"; }
    screen_text() { tmux_run capture-pane -p -t form 2>/dev/null || true; }
    # wait_for_screen <extended regex> [key]: until the screen shows it,
    # typing the key (if any) every second meanwhile.
    wait_for_screen() {
        local waited=0
        until screen_text | grep -Eq -- "$1"; do
            if [ $# -gt 1 ] && [ $((waited % 5)) -eq 0 ]; then tmux_run send-keys -t form "$2"; fi
            sleep 0.2
            waited=$((waited + 1))
            if [ "$waited" -gt $((GUARD_SECONDS * 5)) ]; then
                fail "the screen never showed /$1/:"
                screen_text
                return 1
            fi
        done
    }
    # An "x" typed while the run writes may stand echoed at the start of a
    # row on wine's console: the rows after the form are matched from their
    # fifth column. The bar may be past its first mark when looked at.
    # type_number <prompt regex> <digits>: once the prompt shows and its
    # field has had time to discard pending keys, the digits, then Enter.
    type_number() {
        local prompt=$1 digits=$2 typed="" i
        wait_for_screen "^    $prompt\$" x || return 1
        sleep 1
        for ((i = 0; i < ${#digits}; i++)); do
            typed+=${digits:i:1}
            tmux_run send-keys -t form "${digits:i:1}"
            wait_for_screen "^    $prompt  $typed\$" || return 1
        done
        tmux_run send-keys -t form Enter
    }
    dir="$runs/wine-form"
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$exe" "$dir/quombax.exe"
    tmux_run new-session -d -s form -x 130 -y 32 \
        "cd '$dir' && WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all wine quombax.exe; sleep 600"
    form_ok=1
    {
        wait_for_screen '^ {35}Brindlewoxhaft - 3d quelt dagoma printing$' &&
            type_number 'Enter calibrating point \(number between -40.000 and 200.000\):' 10 &&
            type_number 'Enter heating temperature \(depends on filament number between 170 and 270\):' 210 &&
            type_number 'Enter speed value \(200 strongly encouraged 600 maximum\):' 200 &&
            wait_for_screen '^.{4}Writing gcode:    G1 F200 ' x &&
            wait_for_screen '^.{4}Progress:         \|=+ +[0-9]+ %$'
    } || form_ok=0
    screen_text | sed -n '1,20p'
    # wine's console hands the console title to the terminal
    title=$(tmux_run display-message -p -t form '#{pane_title}' 2>/dev/null || true)
    if [ "$title" = "Brindlewoxhaft | Quelt" ]; then pass "the console title"; else fail "the console title is \"$title\""; fi
    # read before the run is ended, which removes its partial file
    second_line=$(head -n 2 "$dir/dagoma0.g.part" 2>/dev/null | tail -n 1)
    tmux_run kill-server 2>/dev/null || true
    if [ "$form_ok" -eq 1 ] && [ "$second_line" = "G1 F200 X70.000 Y-64.000 Z10" ]; then
        pass "the form took 10, 210, 200 on wine's console; the live line and the bar show"
    else
        fail "the form on wine's console"
    fi
else
    echo "tmux is missing: the form on wine's console is not tried"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all Windows checks passed"
