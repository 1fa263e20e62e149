#!/usr/bin/env bash
# `kelm barcode` end to end, on symbols rendered by zint (an independent
# encoder) as BMP and PNG: each symbology, --only, --rows/--columns on turned
# symbols, --new-only, JSON, exit statuses, usage errors, the progress bar.
# Usage: kelm_barcode_test.sh KELM
set -u
kelm=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0
. "$(dirname "$0")/cli_lib.sh"

# Usage errors need no images.
check usage-no-file 2 'missing FILE' -- "$kelm" barcode
check usage-only 2 'allowed: ean13, ean8, ean5, ean2, i2of5, code39' -- "$kelm" barcode --only qr x.bmp
check usage-option 2 '' -- "$kelm" barcode --sideways x.bmp
check missing-file 1 "kelm: $work/none.bmp: " -- "$kelm" barcode "$work/none.bmp"
json_ok missing-file-json -- "$kelm" barcode --json "$work/none.bmp"

if ! command -v zint >/dev/null; then
    skip images "zint is not installed (scripts/test.sh installs Debian's zint)"
    finish "kelm barcode"
    exit $?
fi

zint -b EANX -d 590123412345+12345 --scale=1.5 -o "$work/ean.bmp" >/dev/null
zint -b EANX -d 9638507 -o "$work/ean8.png" >/dev/null
zint -b CODE39 -d 'KELM 3' --rotate=90 -o "$work/c39_up.bmp" >/dev/null
zint -b C25INTER -d 12345678 --fg=000080 --bg=FFFF80 --rotate=180 -o "$work/itf.png" >/dev/null
zint -b CODE128 -d 'not ours' -o "$work/c128.bmp" >/dev/null

check ean13-addon 0 '^5901234123457\+12345  ean13\+ean5  \(row [0-9]+, [0-9]+ lines\)' -- "$kelm" barcode "$work/ean.bmp"
check ean13-addon-alone 0 '^12345  ean5  ' -- "$kelm" barcode "$work/ean.bmp"
check ean8-png 0 '^96385074  ean8  ' -- "$kelm" barcode "$work/ean8.png"
check code39-columns 0 '^KELM 3  code39  \(column [0-9]+' -- "$kelm" barcode --columns "$work/c39_up.bmp"
check code39-rows-only 1 'no barcode found' -- "$kelm" barcode --rows "$work/c39_up.bmp"
check itf-turned-colour 0 '^12345678  i2of5  ' -- "$kelm" barcode "$work/itf.png"
check only-excludes 1 'no barcode found' -- "$kelm" barcode --only code39,i2of5 "$work/ean.bmp"
check only-ean13 0 '^5901234123457  ean13  ' -- "$kelm" barcode --only ean13 "$work/ean.bmp"
check_not new-only 'lines\)' '^5901234123457\+12345  ean13\+ean5  \(row [0-9]+\)$' -- "$kelm" barcode --new-only "$work/ean.bmp"
check not-ours 1 'no barcode found' -- "$kelm" barcode "$work/c128.bmp"
check quiet-none 1 '' -- "$kelm" barcode --quiet "$work/c128.bmp"
check several-files 0 "^$work/ean8.png: 96385074  ean8" -- "$kelm" barcode "$work/c128.bmp" "$work/ean8.png"
check stdin 0 '^5901234123457\+12345' -- sh -c "'$kelm' barcode - < '$work/ean.bmp'"
check one-unreadable 1 "96385074" -- "$kelm" barcode "$work/ean8.png" "$work/none.bmp"
json_ok json -- "$kelm" barcode --json "$work/ean.bmp"
check json-fields 0 '"text":"5901234123457\+12345","symbology":"ean13\+ean5","bits":18,"first":\{"row":[0-9]+\},"lines":[0-9]+' -- "$kelm" barcode --json "$work/ean.bmp"
check json-list 0 '^\[\{"file":.*"found":false.*\},\{"file":.*"found":true' -- "$kelm" barcode --json "$work/c128.bmp" "$work/ean8.png"

# The progress bar, on a terminal only.
if command -v script >/dev/null; then
    check progress-terminal 0 'barcode .*ean.bmp \[#+\] 100%' -- script -qec "'$kelm' barcode '$work/ean.bmp'" /dev/null
    check_not progress-quiet '%' '' -- script -qec "'$kelm' barcode --quiet '$work/ean.bmp'" /dev/null
else
    skip progress-terminal "no 'script' program to give the tool a terminal"
fi
check_not progress-pipe '%' '' -- "$kelm" barcode "$work/ean.bmp"

finish "kelm barcode"
