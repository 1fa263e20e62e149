#!/usr/bin/env bash
# The kelm tool's device commands: `postscript` writes a CMYK image through
# the printer road, and Ghostscript, an independent PostScript interpreter,
# renders the file back to the image's own inks; `spline` draws a curve.
# Usage: kelm_device_test.sh KELM
set -u
kelm=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0
. "$(dirname "$0")/cli_lib.sh"

# put32 FILE OFFSET VALUE: a little-endian 32-bit field.
put32() {
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
        dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# cmyk_bmp FILE W H: a bottom-up 32-bit BMP with a V4 header marked CMYK;
# pixel (x, stored row r) holds the bytes x*16+r, r*32+x, 255-x*8, x*r.
cmyk_bmp() {
    local f=$1 w=$2 h=$3 x r
    local size=$((14 + 108 + w * h * 4))
    head -c "$size" /dev/zero >"$f"
    printf 'BM' | dd of="$f" conv=notrunc status=none
    put32 "$f" 2 "$size"
    put32 "$f" 10 122
    put32 "$f" 14 108
    put32 "$f" 18 "$w"
    put32 "$f" 22 "$h"
    put32 "$f" 26 $((1 | 32 << 16))
    put32 "$f" 70 2  # colour-space type: CMYK
    local bytes=""
    for ((r = 0; r < h; r++)); do
        for ((x = 0; x < w; x++)); do
            bytes+=$(printf '\\%03o\\%03o\\%03o\\%03o' $(((x * 16 + r) & 255)) $(((r * 32 + x) & 255)) \
                $(((255 - x * 8) & 255)) $(((x * r) & 255)))
        done
    done
    printf "$bytes" | dd of="$f" bs=1 seek=122 conv=notrunc status=none
}

# The inks the page must show for that image at (0,0), one line per pixel
# row from the top: cyan, magenta, yellow, black = bytes 2, 1, 0, 3.
expected_inks() {
    local w=$1 h=$2 x r
    for ((r = h - 1; r >= 0; r--)); do
        for ((x = 0; x < w; x++)); do
            printf '%02x%02x%02x%02x' $(((255 - x * 8) & 255)) $(((r * 32 + x) & 255)) $(((x * 16 + r) & 255)) \
                $(((x * r) & 255))
        done
        echo
    done
}

cmyk_bmp "$work/c.bmp" 7 5
check "info sees CMYK" 0 'CMYK|cmyk' -- "$kelm" info "$work/c.bmp"
check "postscript writes" 0 'DeviceCMYK' -- "$kelm" postscript "$work/c.bmp" "$work/c.ps"
check "file is PostScript" 0 '^%!PS-Adobe-3.0' -- head -1 "$work/c.ps"
check "file has the image" 0 '/Width 7 /Height 5' -- cat "$work/c.ps"
json_ok "postscript --json" -- "$kelm" postscript --json "$work/c.bmp" "$work/j.ps"
check "postscript to stdout" 0 '' -- sh -c "'$kelm' postscript '$work/c.bmp' - > '$work/s.ps'"
expect_same_file "stdout equals file" "$work/c.ps" "$work/s.ps"

if command -v gs >/dev/null; then
    check "gs renders without error" 0 '' -- gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bitcmyk -dGrayValues=256 -r72 \
        -o "$work/c.cmyk" "$work/c.ps"
    rendered=$(for ((r = 0; r < 5; r++)); do
        dd if="$work/c.cmyk" bs=4 skip=$((r * 612)) count=7 status=none | od -An -v -tx1 | tr -d ' \n'
        echo
    done)
    expect_equal "gs shows the image's inks at 1:1" "$(expected_inks 7 5)" "$rendered"
    check "postscript --size" 0 '' -- "$kelm" postscript --quiet --size 14x10 "$work/c.bmp" "$work/d.ps"
    check "gs renders the doubled size" 0 '' -- gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bitcmyk -dGrayValues=256 \
        -r72 -o "$work/d.cmyk" "$work/d.ps"
    doubled=$(for ((r = 0; r < 10; r += 2)); do
        dd if="$work/d.cmyk" bs=4 skip=$((r * 612)) count=14 status=none | od -An -v -tx1 | tr -d ' \n' |
            sed -E 's/(.{8}).{8}/\1/g'
        echo
    done)
    expect_equal "gs shows each ink twice as large" "$(expected_inks 7 5)" "$doubled"
else
    skip "ghostscript" "gs is not installed (Debian package ghostscript)"
fi

"$kelm" new 4x4x24 "$work/rgb.bmp" >/dev/null
check "an RGB image is refused" 1 'not a 32-bit CMYK image' -- "$kelm" postscript "$work/rgb.bmp" "$work/r.ps"
check "nothing written for it" 1 '' -- test -e "$work/r.ps"
check "bad size" 2 'WIDTHxHEIGHT' -- "$kelm" postscript --size 0x5 "$work/c.bmp" "$work/x.ps"
check "missing input" 1 'kelm: .*nope.bmp' -- "$kelm" postscript "$work/nope.bmp" "$work/x.ps"
check "postscript usage" 2 'IN and OUT' -- "$kelm" postscript "$work/c.bmp"

# spline: the published vertices of the three-point curve lie on the
# drawing (every vertex but the last starts a segment).
check "spline draws" 0 'spline of 3 control points' -- "$kelm" spline "$work/s.bmp" 0,0 100,0 100,100
check "spline vertex" 0 '#000000' -- "$kelm" pixel "$work/s.bmp" 55 11
check "spline vertex 2" 0 '#000000' -- "$kelm" pixel "$work/s.bmp" 96 64
check "spline leaves white" 0 '#ffffff' -- "$kelm" pixel "$work/s.bmp" 5 50
check "spline size" 0 '101' -- "$kelm" info --brief "$work/s.bmp"
check "spline colour" 0 '' -- "$kelm" spline --size 30x20 --colour red "$work/t.png" 1,1 28,2 15,18
check "spline colour pixel" 0 '#ff0000' -- "$kelm" pixel "$work/t.png" 1 1
json_ok "spline --json" -- "$kelm" spline --json "$work/u.bmp" 0,0 9,9 0,9
check "spline two points" 0 '' -- "$kelm" spline "$work/v.bmp" 0,0 9,0
check "spline one point" 2 'at least two points' -- "$kelm" spline "$work/w.bmp" 3,3
check "spline bad point" 2 'not a point' -- "$kelm" spline "$work/w.bmp" 3,3 4
check "spline bad colour" 2 '' -- "$kelm" spline --colour ff0000 "$work/w.bmp" 3,3 4,4

finish "kelm device"
