#!/bin/bash
# kelm scan end to end on SANE's test backend: the source list, and a page
# compared with what scanimage writes for the same options.
# kelm_scan_test.sh KELM
kelm=${1:?usage: kelm_scan_test.sh KELM}
here=$(dirname "$0")
. "$here/cli_lib.sh"
passed=0 failed=0 skipped=0

if ! command -v scanimage > /dev/null || ! command -v convert > /dev/null; then
    echo "SKIP: scanimage (sane-utils) or convert (imagemagick) missing"
    echo "kelm_scan: 0 passed, 0 failed, 1 skipped"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sane" "$work/windows"
echo test > "$work/sane/dll.conf"
printf 'number_of_devices 1\ntest-picture "Color pattern"\n' > "$work/sane/test.conf"
export SANE_CONFIG_DIR="$work/sane" KELM3_WINDIR="$work/windows"
# Under LeakSanitizer: SANE's backends keep allocations that none of their
# calls frees; they are not the tool's.
echo "leak:libsane" > "$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

check list 0 '^test:0' -- "$kelm" scan --list
check list-json 0 '"name":"test:0"' -- "$kelm" scan --list --json
check usage-bits 2 '1, 8 or 24' -- "$kelm" scan "$work/x.png" --bits 4
check usage-area 2 'millimetres' -- "$kelm" scan "$work/x.png" --area 10,10,5,5
check no-source 1 "no source named 'nothing'" -- "$kelm" scan "$work/x.png" --source nothing

# The same page as scanimage gives: compare the pixels with ImageMagick.
compare_scan() {  # NAME KELM_OPTIONS -- SCANIMAGE_OPTIONS
    local name=$1 k=() s=()
    shift
    while [ "$1" != -- ]; do k+=("$1"); shift; done
    shift
    s=("$@")
    rm -f "$work/k.png" "$work/s.pnm"
    if ! "$kelm" scan "$work/k.png" --quiet "${k[@]}" 2> "$work/err"; then
        report_fail "$name" "kelm scan failed" "$(cat "$work/err")"; return
    fi
    scanimage -d test:0 --format=pnm "${s[@]}" > "$work/s.pnm" 2> /dev/null
    local diff
    diff=$(compare -metric AE "$work/k.png" "$work/s.pnm" null: 2>&1)
    if [ "$diff" != 0 ]; then
        report_fail "$name" "pixels differ from scanimage: $diff"; return
    fi
    passed=$((passed + 1))
}
compare_scan colour-75dpi --dpi 75 --bits 24 -- --mode Color --resolution 75
compare_scan grey-area --dpi 50 --bits 8 --area 10,5,40,30 -- --mode Gray --resolution 50 -l 10 -t 5 -x 30 -y 25
compare_scan lineart --dpi 100 --bits 1 -- --mode Gray --depth 1 --resolution 100

check json-files 0 '"files":\["[^"]*/j-1.png"\]' -- "$kelm" scan "$work/j.png" --count 3 --json
finish kelm_scan
