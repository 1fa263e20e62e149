#!/usr/bin/env bash
# End-to-end checks of the kelm tool: outputs, exit statuses and files it
# writes. Usage: kelm_cli_test.sh KELM SAMPLES_DIR
set -u
kelm=$1 samples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0

check() {  # check NAME EXPECTED_STATUS PATTERN -- COMMAND...
    local name=$1 want=$2 pattern=$3
    shift 4
    local out status
    out=$("$@" 2>&1)
    status=$?
    if [ "$status" -ne "$want" ]; then
        echo "FAIL $name: exit $status, wanted $want"; echo "$out" | head -5; failed=$((failed + 1)); return
    fi
    if [ -n "$pattern" ] && ! grep -Eq -- "$pattern" <<<"$out"; then
        echo "FAIL $name: output lacks /$pattern/"; echo "$out" | head -5; failed=$((failed + 1)); return
    fi
    passed=$((passed + 1))
}

check help 0 'kelm info FILE.bmp' -- "$kelm" --help
check no-command 2 'Usage: kelm' -- "$kelm"
check unknown-command 2 "unknown command 'frobnicate'" -- "$kelm" frobnicate
check new-help 0 'WIDTHxHEIGHTxBITS' -- "$kelm" new --help
check new-8bit 0 'biSizeImage +5000' -- "$kelm" new 100x50x8
check new-8bit-block 0 'block size +6064 bytes' -- "$kelm" new 100x50x8
check new-default-table 0 'palette type +7 \(default 256 colours\)' -- "$kelm" new 100x50x8
check new-two-plane 0 'biPlanes +2' -- "$kelm" new 10x10x24 --two-plane
check new-fill-24 0 '"colour":"#ff8000"' -- "$kelm" new 3x2x24 --fill '#ff8000' --json
check new-fill-8-nearest 0 '#ff6633' -- "$kelm" new 3x2x8 --fill '#ff6633'
check new-bad-geometry 2 'not a geometry' -- "$kelm" new 100by50
check new-bad-depth 1 'cannot create' -- "$kelm" new 10x10x2
check new-bad-option 2 "unknown option '--nope'" -- "$kelm" new 10x10x8 --nope

check info-missing-file 1 'nothere.bmp: No such file' -- "$kelm" info "$work/nothere.bmp"
printf 'not a bitmap at all, just text that is long enough to hold a header......' >"$work/text.bmp"
check info-not-bitmap 1 'text.bmp: not a bitmap' -- "$kelm" info "$work/text.bmp"
check info-usage 2 'missing FILE' -- "$kelm" info
check info-os2 0 'OS/2 core header' -- "$kelm" info "$samples/os2.bmp"
check info-rle8-completed 0 '"completed":\{[^}]*"biCompression":0' -- "$kelm" info --json "$samples/rle8.bmp"
check info-rle8-stored 0 '"header":\{[^}]*"biCompression":1,' -- "$kelm" info --json "$samples/rle8.bmp"
check info-topdown 0 'biHeight +-' -- "$kelm" info "$samples/topdown24.bmp"

check copy-rle8 0 '' -- "$kelm" copy "$samples/rle8.bmp" "$work/a.bmp"
check copy-again 0 '' -- "$kelm" copy "$work/a.bmp" "$work/b.bmp"
if cmp -s "$work/a.bmp" "$work/b.bmp"; then passed=$((passed + 1)); else echo "FAIL copy-is-stable: a decoded copy changed when copied again"; failed=$((failed + 1)); fi
check copy-unwritable 1 'cannot write' -- "$kelm" copy "$samples/rle8.bmp" "$work/no/such/dir/x.bmp"
check copy-usage 2 'expected IN.bmp and OUT.bmp' -- "$kelm" copy "$samples/rle8.bmp"

cp "$samples/rgb24.bmp" "$work/p.bmp"
check pixel-write 0 'written to' -- "$kelm" pixel "$work/p.bmp" 1 0 '#102030'
check pixel-read-back 0 '^1,0 #102030 raw 302010$' -- "$kelm" pixel "$work/p.bmp" 1 0
check pixel-colour-word 0 '#0000ff' -- "$kelm" pixel "$work/p.bmp" 2 0 0x00FF0000
check pixel-outside 1 'outside the' -- "$kelm" pixel "$work/p.bmp" 1000 0
check pixel-negative 1 'outside the' -- "$kelm" pixel "$work/p.bmp" 0 -1
check pixel-bad-colour 2 'not a colour' -- "$kelm" pixel "$work/p.bmp" 0 0 '#12345'
check pixel-bad-coords 2 'coordinates must be integers' -- "$kelm" pixel "$work/p.bmp" a 0

echo "kelm cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
