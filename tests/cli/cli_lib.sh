# Checks shared by the kelm end-to-end scripts. Each records one pass or
# failure; `finish` prints the tally and sets the exit status.

report_fail() {
    echo "FAIL $1: $2"
    [ -n "${3:-}" ] && echo "$3" | head -5
    failed=$((failed + 1))
}

check() {  # check NAME EXPECTED_STATUS PATTERN -- COMMAND...
    local name=$1 want=$2 pattern=$3
    shift 4
    local out status
    out=$("$@" 2>&1)
    status=$?
    if [ "$status" -ne "$want" ]; then
        report_fail "$name" "exit $status, wanted $want" "$out"; return
    fi
    if [ -n "$pattern" ] && ! grep -Eq -- "$pattern" <<<"$out"; then
        report_fail "$name" "output lacks /$pattern/" "$out"; return
    fi
    passed=$((passed + 1))
}

check_not() {  # check_not NAME ABSENT_PATTERN PRESENT_PATTERN -- COMMAND...: exit 0
    local name=$1 absent=$2 present=$3
    shift 4
    local out
    out=$("$@" 2>&1) || { report_fail "$name" "failed" "$out"; return; }
    if grep -Eq -- "$absent" <<<"$out"; then
        report_fail "$name" "output has /$absent/" "$out"; return
    fi
    if [ -n "$present" ] && ! grep -Eq -- "$present" <<<"$out"; then
        report_fail "$name" "output lacks /$present/" "$out"; return
    fi
    passed=$((passed + 1))
}

same_output() {  # same_output NAME -- COMMAND1... -- COMMAND2...
    local name=$1 a=() b=()
    shift 2
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do a+=("$1"); shift; done
    shift
    b=("$@")
    local x y
    x=$("${a[@]}" 2>&1 | sed 's/(written.*//')
    y=$("${b[@]}" 2>&1 | sed 's/(written.*//')
    if [ -n "$x" ] && [ "$x" = "$y" ]; then passed=$((passed + 1)); else report_fail "$name" "outputs differ" "$x
$y"; fi
}

expect_equal() {  # expect_equal NAME WANTED ACTUAL
    if [ "$2" = "$3" ]; then passed=$((passed + 1)); else report_fail "$1" "wanted '$2', got '$3'"; fi
}

expect_same_file() {  # expect_same_file NAME FILE1 FILE2
    if cmp -s "$2" "$3"; then passed=$((passed + 1)); else report_fail "$1" "$2 and $3 differ"; fi
}

json_ok() {  # json_ok NAME -- COMMAND...: standard output is one valid UTF-8 JSON document
    local name=$1
    shift 2
    if [ -z "${PYTHON:-}" ]; then
        skip "$name" "no python3 to check JSON"; return
    fi
    local err
    if err=$("$@" 2>/dev/null | "$PYTHON" -c 'import json, sys; json.loads(sys.stdin.buffer.read().decode("utf-8"))' 2>&1); then
        passed=$((passed + 1))
    else
        report_fail "$name" "not valid UTF-8 JSON" "$err"
    fi
}

skip() {  # skip NAME REASON
    echo "SKIP $1: $2"
    skipped=$((skipped + 1))
}

finish() {
    echo "$1: $passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ]
}

PYTHON=$(command -v python3 || true)
