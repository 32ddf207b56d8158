#!/usr/bin/env bash
# piped_input.sh -- the real binary with its numbers on standard input, one
# per line (the contract scripts rely on): the reference file, a rejected
# line then good ones, CR LF lines, and input that ends too early.
# Usage: piped_input.sh path/to/quombax
set -u
binary=$1
dir=$(mktemp -d /tmp/quombax-piped-XXXXXX)
trap 'rm -rf "$dir"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

check_reference_file() { # folder, what
    local file=$1/dagoma0.g
    [ -f "$file" ] || { fail "$2: no dagoma0.g"; return; }
    local size
    size=$(stat -c %s "$file")
    [ "$size" = 110767244 ] || fail "$2: size $size, not 110767244"
    [ "$(sed -n 2p "$file")" = "G1 F200 X70.000 Y-64.000 Z10" ] || fail "$2: line 2 is '$(sed -n 2p "$file")'"
    [ "$(tail -n 1 "$file")" = "G28" ] || fail "$2: the last line is '$(tail -n 1 "$file")'"
    local lines
    lines=$(wc -l < "$file")
    [ "$lines" = 6296730 ] || fail "$2: $lines lines, not 6296730"
}

# 1. The reference input: status 0, the reference file, nothing on stdout.
mkdir "$dir/reference"
(cd "$dir/reference" && printf '10\n210\n200\n' | "$binary" > out.txt)
status=$?
[ $status = 0 ] || fail "reference: status $status"
[ -s "$dir/reference/out.txt" ] && fail "reference: printed '$(cat "$dir/reference/out.txt")'"
check_reference_file "$dir/reference" reference

# 2. A rejected line (300 as calibration: the error line's 4 s), then a
#    cancel ("-" for the temperature drops the rest of its line, "5"), each
#    time the next line answering the first prompt; CR LF line ends; bytes
#    after the last line go to the final pause.
mkdir "$dir/restarts"
(cd "$dir/restarts" && printf '300\r\n10\n-5\n10\r\n210\r\n200\r\nmore\n' | "$binary" > out.txt)
status=$?
[ $status = 0 ] || fail "restarts: status $status"
cmp -s "$dir/reference/dagoma0.g" "$dir/restarts/dagoma0.g" || fail "restarts: the file differs from the reference"
rm -f "$dir/restarts/dagoma0.g" "$dir/reference/dagoma0.g"

# 3. Input that ends before three numbers: one clear line, status 1, no file.
for input in '10\n210\n' '' '10\n210\n200'; do
    mkdir -p "$dir/early"
    (cd "$dir/early" && printf "$input" | "$binary" > out.txt)
    status=$?
    [ $status = 1 ] || fail "early end '$input': status $status"
    [ -e "$dir/early/dagoma0.g" ] && fail "early end '$input': dagoma0.g was created"
    grep -q "Input ended before three numbers were accepted" "$dir/early/out.txt" ||
        fail "early end '$input': printed '$(cat "$dir/early/out.txt")'"
    [ "$(wc -l < "$dir/early/out.txt")" = 1 ] || fail "early end '$input': not one line"
    rm -rf "$dir/early"
done
mkdir "$dir/null"
(cd "$dir/null" && "$binary" < /dev/null > out.txt)
status=$?
[ $status = 1 ] || fail "/dev/null: status $status"
[ -e "$dir/null/dagoma0.g" ] && fail "/dev/null: dagoma0.g was created"

if [ $failures -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "piped input: all cases passed"
