#!/usr/bin/env bash
# The geometry commands of the kelm tool end to end: rotate, stretch and
# blend on small images made with `kelm new` and `kelm pixel`, coordinates
# from the top-left, colours, JSON, standard input and output, PNG, usage
# errors; right-angle turns compared with ImageMagick's where it is there.
# Usage: kelm_geometry_test.sh KELM
set -u
kelm=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0
. "$(dirname "$0")/cli_lib.sh"

pixel() {  # pixel FILE X Y: the colour #rrggbb
    "$kelm" pixel "$1" "$2" "$3" | awk '{print $2}'
}

# A 5 x 3 red image whose top-left pixel is lime.
"$kelm" new 5x3x24 --fill red "$work/a.bmp" >/dev/null
"$kelm" pixel "$work/a.bmp" 0 0 lime >/dev/null

# rotate
check "rotate 90" 0 "3x5" -- "$kelm" rotate "$work/a.bmp" "$work/r90.bmp" 90
expect_equal "rotate 90: the top-left corner turns to the bottom-left" "#00ff00" "$(pixel "$work/r90.bmp" 0 4)"
expect_equal "rotate 90: the rest stays red" "#ff0000" "$(pixel "$work/r90.bmp" 0 0)"
check "rotate -90" 0 "3x5" -- "$kelm" rotate "$work/a.bmp" "$work/r270.bmp" -90
expect_equal "rotate -90: the top-left corner turns to the top-right" "#00ff00" "$(pixel "$work/r270.bmp" 2 0)"
check "rotate 180" 0 "5x3" -- "$kelm" rotate "$work/a.bmp" "$work/r180.bmp" 180
expect_equal "rotate 180: top-left to bottom-right" "#00ff00" "$(pixel "$work/r180.bmp" 4 2)"
check "rotate 45.5 with a background" 0 "turned by 45.5 degrees" -- \
    "$kelm" rotate "$work/a.bmp" "$work/r45.png" 45.5 --background white
expect_equal "rotate 45.5: an uncovered corner is the background" "#ffffff" "$(pixel "$work/r45.png" 0 0)"
check "rotate without background leaves corners 0" 0 "" -- "$kelm" rotate "$work/a.bmp" "$work/r45n.bmp" 30 --background none
expect_equal "rotate 30: uncovered corner black" "#000000" "$(pixel "$work/r45n.bmp" 0 0)"
json_ok "rotate --json" -- "$kelm" rotate "$work/a.bmp" "$work/rj.bmp" 12.5 --json
check "rotate --json fields" 0 '"tenths":-125' -- "$kelm" rotate "$work/a.bmp" "$work/rj.bmp" -12.5 --json
check "rotate through standard input and output" 0 "" -- \
    bash -c "cat '$work/a.bmp' | '$kelm' rotate - - 90 > '$work/pipe.bmp'"
expect_same_file "rotate - - equals files" "$work/r90.bmp" "$work/pipe.bmp"
check "rotate: two decimals" 2 "one decimal" -- "$kelm" rotate "$work/a.bmp" "$work/x.bmp" 12.25
check "rotate: not a number" 2 "ANGLE" -- "$kelm" rotate "$work/a.bmp" "$work/x.bmp" left
check "rotate: bad background" 2 "background" -- "$kelm" rotate "$work/a.bmp" "$work/x.bmp" 10 --background ff0000
check "rotate: missing file" 1 "kelm: .*nothing.bmp" -- "$kelm" rotate "$work/nothing.bmp" "$work/x.bmp" 10
check "rotate: missing file, JSON" 1 '"error"' -- "$kelm" rotate "$work/nothing.bmp" "$work/x.bmp" 10 --json
check "rotate: wrong argument count" 2 "IN OUT ANGLE" -- "$kelm" rotate "$work/a.bmp"

# stretch
check "stretch to 10x6" 0 "10x6" -- "$kelm" stretch "$work/a.bmp" "$work/s.bmp" 10x6
expect_equal "stretch: top-left 2x2 block" "#00ff00 #00ff00 #00ff00 #ff0000" \
    "$(pixel "$work/s.bmp" 0 0) $(pixel "$work/s.bmp" 1 1) $(pixel "$work/s.bmp" 1 0) $(pixel "$work/s.bmp" 2 0)"
check "stretch a rectangle" 0 "4x4" -- "$kelm" stretch "$work/a.bmp" "$work/s1.png" 4x4 --rect 0,0,0,0
expect_equal "stretch --rect: the top-left pixel everywhere" "#00ff00 #00ff00" \
    "$(pixel "$work/s1.png" 0 0) $(pixel "$work/s1.png" 3 3)"
check "stretch a rectangle from the bottom" 0 "" -- "$kelm" stretch "$work/a.bmp" "$work/s2.bmp" 2x2 --rect 3,1,4,2
expect_equal "stretch --rect 3,1,4,2 is red" "#ff0000" "$(pixel "$work/s2.bmp" 0 0)"
json_ok "stretch --json" -- "$kelm" stretch "$work/a.bmp" "$work/sj.bmp" 3x3 --json
check "stretch: bad size" 2 "WIDTHxHEIGHT" -- "$kelm" stretch "$work/a.bmp" "$work/x.bmp" 10by6
check "stretch: zero size" 2 "WIDTHxHEIGHT" -- "$kelm" stretch "$work/a.bmp" "$work/x.bmp" 0x6
check "stretch: reversed rectangle" 2 "LEFT <= RIGHT" -- "$kelm" stretch "$work/a.bmp" "$work/x.bmp" 2x2 --rect 3,0,1,1
check "stretch: rectangle outside" 1 "outside" -- "$kelm" stretch "$work/a.bmp" "$work/x.bmp" 2x2 --rect 0,0,5,1

# blend
"$kelm" new 4x4x24 --fill red "$work/d.bmp" >/dev/null
"$kelm" new 2x2x24 --fill blue "$work/b.bmp" >/dev/null
check "blend at 1,1 with opacity 128" 0 "2x2 at 1,1" -- \
    "$kelm" blend "$work/d.bmp" "$work/b.bmp" "$work/m.bmp" --at 1,1 --opacity 128
expect_equal "blend: mixed inside, red outside" "#7f0080 #7f0080 #ff0000 #ff0000" \
    "$(pixel "$work/m.bmp" 1 1) $(pixel "$work/m.bmp" 2 2) $(pixel "$work/m.bmp" 0 0) $(pixel "$work/m.bmp" 3 3)"
check "blend scaled to the whole image, opacity 0" 0 "" -- \
    "$kelm" blend "$work/d.bmp" "$work/b.bmp" "$work/m0.bmp" --size 4x4 --opacity 0
expect_equal "blend: opacity 0 keeps DEST" "#ff0000" "$(pixel "$work/m0.bmp" 2 1)"
check "blend opaque by default" 0 "" -- "$kelm" blend "$work/d.bmp" "$work/b.bmp" "$work/m1.png"
expect_equal "blend: opacity 255 copies" "#0000ff #ff0000" "$(pixel "$work/m1.png" 0 0) $(pixel "$work/m1.png" 2 2)"
json_ok "blend --json" -- "$kelm" blend "$work/d.bmp" "$work/b.bmp" "$work/mj.bmp" --json
check "blend: bad opacity" 2 "0 .transparent. to 255" -- "$kelm" blend "$work/d.bmp" "$work/b.bmp" "$work/x.bmp" --opacity 300
check "blend: bad --at" 2 "--at X,Y" -- "$kelm" blend "$work/d.bmp" "$work/b.bmp" "$work/x.bmp" --at 1
check "blend: both from standard input" 2 "standard input" -- "$kelm" blend - - "$work/x.bmp"
check "blend: missing SRC" 1 "nothing.bmp" -- "$kelm" blend "$work/d.bmp" "$work/nothing.bmp" "$work/x.bmp"

# Right angles against ImageMagick (its -rotate is clockwise).
im=$(command -v convert-im6.q16 || { [ -x /usr/bin/convert ] && echo /usr/bin/convert; } || true)
if [ -n "$im" ]; then
    "$im" -size 13x7 gradient:'#ff2000'-'#0020ff' "$work/g.png"
    for turn in 90 180 270; do
        "$kelm" rotate "$work/g.png" "$work/g$turn.png" "$turn" >/dev/null
        "$im" "$work/g.png" -rotate "-$turn" "$work/ref$turn.png"
        a=$("$im" "$work/g$turn.png" -depth 8 rgb:- | od -An -v -tx1)
        b=$("$im" "$work/ref$turn.png" -depth 8 rgb:- | od -An -v -tx1)
        expect_equal "rotate $turn equals ImageMagick's -rotate -$turn" "$b" "$a"
    done
else
    skip "ImageMagick comparison" "ImageMagick is not installed"
fi

finish "kelm geometry"
