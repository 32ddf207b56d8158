#!/usr/bin/env bash
# terminal_tmux.sh -- the real binary in a real terminal (tmux, 120 x 30):
# the numbers typed with one rejected entry first, the final screen, one
# key to end with status 0 and the terminal as it was; Ctrl-C, SIGTERM and
# SIGHUP in the middle of the transfer restore it too; a terminal smaller
# than 119 x 22 gets a notice, and the screen once it is large enough;
# under job control (Ctrl-Z, bg, fg, kill %1) only the foreground run
# touches the terminal; SIGABRT restores it; escape sequences split in
# time and control strings type nothing into a field.
# Usage: terminal_tmux.sh path/to/quombax   (exits 77, skipped, without tmux)
set -u
export LC_ALL=C.UTF-8 # ${line:column:length} counts characters
binary=$1
command -v tmux > /dev/null || { echo "tmux is not installed: skipped"; exit 77; }
dir=$(mktemp -d /tmp/quombax-tmux-XXXXXX)
socket="quombax-test-$$"
cases=0
session=run
tmux_() { tmux -L "$socket-$cases" -f /dev/null "$@"; }
finish() {
    tmux_ kill-server 2> /dev/null
    sleep 0.5
    rm -rf "$dir"
}
trap finish EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
expect_eq() { # what, actual, expected
    [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}

screen() { tmux_ capture-pane -p -t "$session" 2> /dev/null; }
row() { screen | sed -n "$(($1 + 1))p"; }
cells() { # column row length
    local line
    line=$(row "$2")
    line="$line$(printf '%*s' 130 '')"
    printf '%s' "${line:$1:$3}"
}
wait_for() { # pattern seconds
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        screen | grep -q -- "$1" && return 0
        sleep 0.1
    done
    fail "waited $2 s for '$1'"
    screen | sed 's/^/    | /'
    return 1
}
program_pid() {
    local shell
    shell=$(tmux_ display -p -t "$session" '#{pane_pid}' 2> /dev/null) || return
    [ -n "$shell" ] || return
    # The shell's child named quombax that has not ended (from /proc: no
    # procps needed); an ended one the shell has not reaped yet is a zombie.
    cat /proc/[0-9]*/stat 2> /dev/null |
        awk -v parent="$shell" '$2 == "(quombax)" && $4 == parent && $3 != "Z" { print $1; exit }'
}
wait_for_exit() {
    local i
    for ((i = 0; i < 600; i++)); do
        [ -z "$(program_pid)" ] && return 0
        sleep 0.1
    done
    fail "the program did not end"
    return 1
}
start() { # columns rows: a new tmux server for each case
    tmux_ kill-server 2> /dev/null
    cases=$((cases + 1))
    tmux_ new-session -d -s "$session" -x "$1" -y "$2" \
        "env -i PATH=/usr/bin:/bin TERM=screen LANG=C.UTF-8 HOME=$dir PS1='$ ' bash --norc --noprofile -i"
    tmux_ set-option -t "$session" status off
    sleep 0.3
    tmux_ send-keys -t "$session" "cd $dir && rm -f dagoma0.g && clear && $binary" Enter
}
type_entry() { # text; waits until the field has taken it all
    tmux_ send-keys -t "$session" -l "$1"
    sleep 0.2
    tmux_ send-keys -t "$session" Enter
    sleep 0.3
}
# After the program ended: its status, the terminal's modes, the cursor.
check_way_out() { # what expected-status
    tmux_ send-keys -t "$session" 'echo STATUS=$?; stty -a | tr " " "\n" | grep -x -e echo -e -echo -e icanon -e -icanon | tr "\n" " "; echo; echo CHECKED$((6 * 7))' Enter
    wait_for "CHECKED42" 10 || return
    local status modes
    status=$(screen | grep -o "STATUS=[0-9]*" | tail -n 1)
    expect_eq "$1: exit status" "$status" "STATUS=$2"
    modes=$(screen | grep -E "^-?(echo|icanon) " | tail -n 1)
    [[ " $modes " == *" echo "* && " $modes " == *" icanon "* ]] ||
        fail "$1: echo and line mode not back after the end: '$modes'"
    expect_eq "$1: cursor shown after the end" "$(tmux_ display -p -t "$session" '#{cursor_flag}')" 1
    # The prompt stands on a fresh line below the screen.
    local prompt_row
    prompt_row=$(screen | grep -n "^\\$ echo STATUS" | tail -n 1 | cut -d: -f1)
    [ -n "$prompt_row" ] && [ "$prompt_row" -gt 22 ] || fail "$1: the prompt is on row $((prompt_row - 1)), inside the screen"
    # Colours back to the terminal's own.
    tmux_ capture-pane -p -e -t "$session" | tail -n 3 | grep -q $'\e\[3[0-9]m' && fail "$1: colours left set after the end"
}
type_the_numbers() {
    wait_for "Enter calibrating point" 10 || return
    type_entry 10
    wait_for "Enter heating temperature" 10 || return
    type_entry 210
    wait_for "Enter speed value" 10 || return
    type_entry 200
}

# ---- 1. A whole run: a rejected entry first, then the three numbers ----
start 120 30
wait_for "Enter calibrating point" 10
expect_eq "cursor hidden on the form" "$(tmux_ display -p -t "$session" '#{cursor_flag}')" 0
type_entry 300
wait_for "Error:            typed number is invalid" 3
expect_eq "error line at (4, 14)" "$(cells 4 14 41)" "Error:            typed number is invalid"
expect_eq "rejected text echoed" "$(cells 67 16 3)" "300"
# After 4 s the form starts again from a cleared screen.
wait_for "Progress:         |" 8
expect_eq "echo cleared by the new cycle" "$(cells 67 16 10)" "          "
type_the_numbers
wait_for "Created file:" 780

expect_eq "header" "$(cells 35 4 41)" "Brindlewoxhaft - 3d quelt dagoma printing"
tmux_ capture-pane -p -e -t "$session" | sed -n 5p | grep -q $'\e\[33mBrindlewoxhaft' || fail "header not in dark yellow"
expect_eq "label row 11" "$(cells 4 11 35)" "3d object:        quombax collector"
expect_eq "label row 12" "$(cells 4 12 36)" "Version:          1.0.6 - 10/03/2022"
expect_eq "live line" "$(cells 4 13 65)" "Writing gcode:    G28$(printf '%44s' '')"
expect_eq "bar" "$(cells 22 14 82)" "|$(printf '=%.0s' $(seq 80))|"
expect_eq "percentage" "$(cells 104 14 10)" "    100 % "
expect_eq "completion line" "$(cells 4 15 50)" "Created file:     dagoma0.g (in current directory)"
expect_eq "calibration" "$(cells 4 16 65)" "Enter calibrating point (number between -40.000 and 200.000):  10"
expect_eq "temperature" "$(cells 77 17 7)" "):  210"
expect_eq "speed" "$(cells 4 18 61)" "Enter speed value (200 strongly encouraged 600 maximum):  200"
# The frame: one closed outline around rows 9 to 20.
horizontal=$(printf '─%.0s' $(seq 116))
expect_eq "frame top" "$(cells 0 9 120)" " ┌${horizontal}┐ "
expect_eq "frame bottom" "$(cells 0 21 120)" " └${horizontal}┘ "
for r in 10 15 20; do
    expect_eq "frame left, row $r" "$(cells 1 $r 1)" "│"
    expect_eq "frame right, row $r" "$(cells 118 $r 1)" "│"
done
[ "$(stat -c %s "$dir/dagoma0.g")" = 110767244 ] || fail "dagoma0.g has $(stat -c %s "$dir/dagoma0.g") bytes"
expect_eq "cursor hidden at the end" "$(tmux_ display -p -t "$session" '#{cursor_flag}')" 0
# One key press ends it.
tmux_ send-keys -t "$session" x
wait_for_exit
check_way_out "whole run" 0
# The finished screen stays above the prompt.
expect_eq "screen kept after the end" "$(cells 4 15 13)" "Created file:"

# ---- 2. Ctrl-C, SIGTERM and SIGHUP in the middle of the transfer ----
for way in ctrl-c TERM HUP; do
    start 120 30
    type_the_numbers
    wait_for "|==" 300 || continue
    case $way in
    ctrl-c) tmux_ send-keys -t "$session" C-c; expected=130 ;;
    TERM) kill -TERM "$(program_pid)"; expected=143 ;;
    HUP) kill -HUP "$(program_pid)"; expected=129 ;;
    esac
    wait_for_exit
    check_way_out "$way" $expected
done

# ---- 3. Too small a terminal: a notice, then the screen once it fits ----
start 100 20
wait_for "needs a terminal of at least 119 columns by 22 rows" 10
tmux_ resize-window -t "$session" -x 120 -y 30
wait_for "Enter calibrating point" 10
expect_eq "header after the resize" "$(cells 35 4 41)" "Brindlewoxhaft - 3d quelt dagoma printing"
expect_eq "frame after the resize" "$(cells 0 9 3)" " ┌─"
# A resize redraws the whole screen.
tmux_ resize-window -t "$session" -x 125 -y 32
sleep 0.5
expect_eq "header after a second resize" "$(cells 35 4 41)" "Brindlewoxhaft - 3d quelt dagoma printing"
expect_eq "prompt after a second resize" "$(cells 4 16 23)" "Enter calibrating point"
tmux_ send-keys -t "$session" C-c
wait_for_exit
check_way_out "small terminal" 130

# The terminal's modes as stty reports them, for a check (what) that they
# are echo and line mode, the shell's own.
check_shell_modes() { # what
    local marker="MODES$((RANDOM % 900 + 100))" modes
    tmux_ send-keys -t "$session" "stty -a | tr ' ' '\n' | grep -x -e echo -e -echo -e icanon -e -icanon | tr '\n' ' '; echo; echo ${marker}DONE" Enter
    wait_for "^${marker}DONE" 10 || return
    modes=$(screen | grep -E "^-?(echo|icanon) " | tail -n 1)
    [[ " $modes " == *" echo "* && " $modes " == *" icanon "* ]] || fail "$1: the shell's terminal is not in line mode with echo: '$modes'"
}

# ---- 4. Ctrl-Z, bg: the shell keeps its terminal; fg: redrawn, finished ----
start 120 30
wait_for "Enter calibrating point" 10
type_entry 10
wait_for "Enter heating temperature" 10
tmux_ send-keys -t "$session" C-z
wait_for "Stopped" 5
tmux_ send-keys -t "$session" "bg" Enter
sleep 0.5
check_shell_modes "after bg"
# The background run draws nothing: the shell's lines stay.
sleep 1
screen | grep -q "DONE" || fail "after bg: the run drew over the shell"
expect_eq "cursor shown while in the background" "$(tmux_ display -p -t "$session" '#{cursor_flag}')" 1
tmux_ send-keys -t "$session" "fg" Enter
wait_for "Brindlewoxhaft - 3d quelt dagoma printing" 10
sleep 0.5
expect_eq "header after fg" "$(cells 35 4 41)" "Brindlewoxhaft - 3d quelt dagoma printing"
expect_eq "first number after fg" "$(cells 4 16 65)" "Enter calibrating point (number between -40.000 and 200.000):  10"
screen | grep -q "DONE" && fail "after fg: the shell's lines were not cleared by the redraw"
expect_eq "cursor hidden after fg" "$(tmux_ display -p -t "$session" '#{cursor_flag}')" 0
type_entry 210
wait_for "Enter speed value" 10
type_entry 200
wait_for "Writing gcode:    [GM]" 60
tmux_ send-keys -t "$session" C-c
wait_for_exit
check_way_out "ctrl-z, bg, fg" 130

# ---- 5. kill %1 on a stopped run: nothing is restored a second time ----
start 120 30
wait_for "Enter calibrating point" 10
tmux_ send-keys -t "$session" C-z
wait_for "Stopped" 5
tmux_ send-keys -t "$session" "kill %1" Enter
wait_for_exit
# bash's own line for the job varies ("Terminated", or now and then a
# second "Stopped" for a job it has not reaped yet): the program's end is
# what counts, and that the lines above stay as the shell wrote them.
tmux_ send-keys -t "$session" Enter
sleep 0.5
# A second restore would move the cursor back below the screen and write
# over the shell's lines, the command line among them.
screen | grep -qx '\$ kill %1' || fail "kill %1: the shell's lines were written over"
check_shell_modes "after kill %1"
expect_eq "cursor shown after kill %1" "$(tmux_ display -p -t "$session" '#{cursor_flag}')" 1

# ---- 6. SIGABRT during the form: the terminal restored, the default action kept ----
start 120 30
wait_for "Enter calibrating point" 10
kill -ABRT "$(program_pid)"
wait_for_exit
check_way_out "SIGABRT" 134

# ---- 7. A CSI split in time and control strings with digits type nothing ----
start 120 30
wait_for "Enter calibrating point" 10
tmux_ send-keys -t "$session" -l 1
tmux_ send-keys -t "$session" -H 1b 5b # ESC [ ...
sleep 0.3                              # ... well past the Escape's wait ...
tmux_ send-keys -t "$session" -l "5~"  # ... then the rest: Page Up
tmux_ send-keys -t "$session" -H 1b 5d && tmux_ send-keys -t "$session" -l "0;98765" && tmux_ send-keys -t "$session" -H 07
tmux_ send-keys -t "$session" -H 1b 50 && tmux_ send-keys -t "$session" -l "1;2|3456" && tmux_ send-keys -t "$session" -H 1b 5c
tmux_ send-keys -t "$session" -l 0
sleep 0.3
expect_eq "field after split and string sequences" "$(cells 67 16 10)" "10        "
tmux_ send-keys -t "$session" Enter
wait_for "Enter heating temperature" 5
tmux_ send-keys -t "$session" C-c
wait_for_exit
check_way_out "split sequences" 130

if [ $failures -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "terminal: all cases passed"
