# checks.sh -- what the test scripts share: the count of failed checks,
# and one line for each check that fails or passes. Sourced by the scripts
# in e2e/, windows/ and package/.
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}
