#!/usr/bin/env bash
# The colour commands of the kelm tool end to end: convert, palette, dither,
# grey, scale-to-grey, gamma, filter and sharpen on small images made with
# `kelm new` and `kelm pixel`, checked pixel by pixel against values worked
# out by hand; JSON and usage errors.
# Usage: kelm_colour_test.sh KELM
set -u
kelm=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0
. "$(dirname "$0")/cli_lib.sh"

pixel() {  # pixel FILE X Y: the colour #rrggbb
    "$kelm" pixel "$1" "$2" "$3" | awk '{print $2}'
}
pixels() {  # pixels FILE X,Y...: the colours, space-separated
    local f=$1 xy out=()
    shift
    for xy in "$@"; do out+=("$(pixel "$f" "${xy%,*}" "${xy#*,}")"); done
    echo "${out[*]}"
}
form() {  # form FILE: size and depth as stored, e.g. "4x3, 24-bit in two planes"
    "$kelm" info "$1" --brief | grep -Eo '[0-9]+x[0-9]+, [0-9]+-bit( in two planes)?'
}
grey_of() {  # grey_of #rrggbb: the grey (77 R + 151 G + 28 B) / 256 as #gggggg
    local c=${1#\#}
    local g=$(((77 * 16#${c:0:2} + 151 * 16#${c:2:2} + 28 * 16#${c:4:2}) / 256))
    printf '#%02x%02x%02x' "$g" "$g" "$g"
}

# grey: uniform images of known colours at each depth; 8 bits keep their
# pixels and grey the table, 16 bits go through 24.
while read -r geometry colour want; do
    "$kelm" new "$geometry" --fill "$colour" "$work/g.bmp" >/dev/null
    check "grey $geometry $colour" 0 "grey" -- "$kelm" grey "$work/g.bmp" "$work/g_out.bmp"
    [ "$want" = "model" ] && want=$(grey_of "$colour")
    expect_equal "grey $geometry $colour: pixels" "$want $want" "$(pixels "$work/g_out.bmp" 0,0 2,1)"
done <<'EOF'
3x2x24 #c86432 model
3x2x32 #c86432 model
3x2x24 #ffffff model
3x2x24 #00ff00 model
3x2x32 #0000ff model
3x2x8 #ff0000 model
3x2x4 #00ff00 model
3x2x16 #f80000 model
3x2x48 #c86432 model
EOF
"$kelm" new 3x2x8 --fill red "$work/g8.bmp" >/dev/null
"$kelm" grey "$work/g8.bmp" "$work/g8_out.bmp" >/dev/null
expect_equal "grey of an 8-bit image keeps 8 bits" "3x2, 8-bit" "$(form "$work/g8_out.bmp")"
"$kelm" new 3x2x24 --fill red "$work/g24.bmp" >/dev/null
"$kelm" grey "$work/g24.bmp" "$work/g24_out.bmp" >/dev/null
expect_equal "grey of a 24-bit image is 8 bits" "3x2, 8-bit" "$(form "$work/g24_out.bmp")"

# convert: depths round trip without loss where the colour fits every depth
# on the way (black, white and the primaries fit the default tables; 16 bits
# keep 5 bits a channel, so white comes back as #f8f8f8).
while IFS='|' read -r colour there stored white; do
    "$kelm" new 4x3x24 --fill "$colour" "$work/c.bmp" >/dev/null
    "$kelm" pixel "$work/c.bmp" 3 2 white >/dev/null
    check "convert $colour to $there bits" 0 "4x3, $there bits" -- "$kelm" convert "$work/c.bmp" "$work/c1.bmp" --bits "$there"
    expect_equal "convert to $there bits: depth" "4x3, $stored" "$(form "$work/c1.bmp")"
    check "convert $colour back from $there bits" 0 "" -- "$kelm" convert "$work/c1.bmp" "$work/c2.bmp" --bits 24
    expect_equal "convert $colour 24 -> $there -> 24" "$colour $white" "$(pixels "$work/c2.bmp" 0,0 3,2)"
done <<'EOF'
#c86432|32|32-bit|#ffffff
#c86432|48|24-bit in two planes|#ffffff
#c86432|64|32-bit in two planes|#ffffff
#ff0000|8|8-bit|#ffffff
#0000ff|4|4-bit|#ffffff
#000000|1|1-bit|#ffffff
#f8f8f8|16|16-bit|#f8f8f8
EOF
# To 1 bit by the grey value: 124 is black, 200 white.
"$kelm" new 4x3x24 --fill '#c86432' "$work/c.bmp" >/dev/null
"$kelm" pixel "$work/c.bmp" 1 1 '#c8c8c8' >/dev/null
"$kelm" convert "$work/c.bmp" "$work/c1.bmp" --bits 1 >/dev/null
expect_equal "convert to 1 bit takes the nearer of black and white" "#000000 #ffffff" "$(pixels "$work/c1.bmp" 0,0 1,1)"
check "convert through standard input and output" 0 "" -- \
    bash -c "cat '$work/c.bmp' | '$kelm' convert - - --bits 32 > '$work/cpipe.bmp'"
expect_equal "convert - -: depth" "4x3, 32-bit" "$(form "$work/cpipe.bmp")"

# dither: a uniform colour the target table holds comes out exact, with no
# error to diffuse.
while IFS='|' read -r fill to opts want; do
    "$kelm" new 7x5x24 --fill "$fill" "$work/d.bmp" >/dev/null
    [ "$opts" = "-" ] && opts=""
    # shellcheck disable=SC2086
    check "dither $fill --to $to $opts" 0 "dithered to $to bits?" -- "$kelm" dither "$work/d.bmp" "$work/d_out.bmp" --to "$to" $opts
    expect_equal "dither $fill --to $to $opts: depth" "7x5, $to-bit" "$(form "$work/d_out.bmp")"
    expect_equal "dither $fill --to $to $opts: pixels" "$want $want $want" "$(pixels "$work/d_out.bmp" 0,0 6,4 3,2)"
done <<'EOF'
#ffffff|1|-|#ffffff
#000000|1|-|#000000
#ff0000|4|-|#ff0000
#ffffff|4|-|#ffffff
#000000|4|-|#000000
#336699|8|-|#336699
#202020|8|-|#202020
#808080|8|--levels 2|#808080
#ff0000|8|--levels 2|#ff0000
#103050|8|--popular 1|#103050
#f88000|8|--levels 3 --popular 4|#f88000
EOF
"$kelm" new 7x5x24 --fill white "$work/d.bmp" >/dev/null
printf '0 %.0s' $(seq 256) > "$work/zero.map"
check "dither --to 1 with a grey map of zeros" 0 "" -- \
    "$kelm" dither "$work/d.bmp" "$work/dm.bmp" --to 1 --grey-map "$work/zero.map"
expect_equal "grey map of zeros: all black" "#000000 #000000" "$(pixels "$work/dm.bmp" 0,0 6,4)"
# A 50% grey dithers to about half white pixels.
"$kelm" new 8x8x24 --fill '#808080' "$work/half.bmp" >/dev/null
"$kelm" dither "$work/half.bmp" "$work/half1.bmp" --to 1 >/dev/null
whites=0
for y in 0 1 2 3 4 5 6 7; do for x in 0 1 2 3 4 5 6 7; do
    [ "$(pixel "$work/half1.bmp" $x $y)" = "#ffffff" ] && whites=$((whites + 1))
done; done
expect_equal "dither --to 1 of 50% grey: 32 of 64 white (within 2)" "yes" \
    "$([ $whites -ge 30 ] && [ $whites -le 34 ] && echo yes || echo "no ($whites)")"

# palette, and dithering to the table it chose. A chosen colour is the mean
# of its histogram cells' centres (4 c + 2 per channel), so channels whose two
# low bits are 2 come back exact.
"$kelm" new 6x4x24 --fill "#ca6632" "$work/p.bmp" >/dev/null
for xy in 0,0 1,0 2,0 0,1 1,1 2,1; do "$kelm" pixel "$work/p.bmp" "${xy%,*}" "${xy#*,}" '#2252a2' >/dev/null; done
check "palette of two colours" 0 "0 #(ca6632|2252a2)" -- "$kelm" palette "$work/p.bmp" "$work/pal.bmp" --colours 2
out=$("$kelm" palette "$work/p.bmp" "$work/pal.bmp" --colours 2 | awk 'NR > 1 {print $2}' | sort | tr '\n' ' ')
expect_equal "palette: the image's two colours" "#2252a2 #ca6632 " "$out"
expect_equal "palette image: 1 x 1, 8 bits" "1x1, 8-bit" "$(form "$work/pal.bmp")"
check "palette: 4 entries, the rest black" 0 "3 #000000" -- "$kelm" palette "$work/p.bmp" "$work/pal4.bmp" --colours 4
check "dither to the chosen palette" 0 "" -- "$kelm" dither "$work/p.bmp" "$work/pd.bmp" --to 8 --palette "$work/pal.bmp"
expect_equal "dither --palette: both colours exact" "#2252a2 #ca6632 #2252a2 #ca6632" \
    "$(pixels "$work/pd.bmp" 0,0 5,3 2,1 3,1)"
json_ok "palette --json" -- "$kelm" palette "$work/p.bmp" "$work/pj.bmp" --colours 3 --json
check "palette --json lists the table" 0 '"colours":\["#' -- "$kelm" palette "$work/p.bmp" "$work/pj.bmp" --colours 3 --json

# scale-to-grey: 1-bit blocks average to the 65-level ramp (entry k is
# round(255 k / 64)); the rectangle counts from the top-left.
"$kelm" new 8x8x1 --fill white "$work/m.bmp" >/dev/null
check "scale-to-grey 1 bit 8x8 to 4x4" 0 "4x4, 8 bits" -- "$kelm" scale-to-grey "$work/m.bmp" "$work/m4.bmp" 4x4
expect_equal "scale-to-grey: all white is level 63 (#fbfbfb)" "#fbfbfb #fbfbfb" "$(pixels "$work/m4.bmp" 0,0 3,3)"
"$kelm" pixel "$work/m.bmp" 0 0 black >/dev/null
"$kelm" pixel "$work/m.bmp" 1 0 black >/dev/null
"$kelm" scale-to-grey "$work/m.bmp" "$work/m4.bmp" 4x4 >/dev/null
expect_equal "scale-to-grey: half of the top-left block black is level 32 (#808080)" "#808080 #fbfbfb" \
    "$(pixels "$work/m4.bmp" 0,0 0,3)"
"$kelm" new 4x4x24 --fill red "$work/s.bmp" >/dev/null
"$kelm" pixel "$work/s.bmp" 0 0 lime >/dev/null
check "scale-to-grey --rect of the top-left pixel" 0 "1x1, 24 bits" -- \
    "$kelm" scale-to-grey "$work/s.bmp" "$work/s1.bmp" 1x1 --rect 0,0,0,0
expect_equal "scale-to-grey --rect 0,0,0,0 is the top-left pixel" "#00ff00" "$(pixel "$work/s1.bmp" 0 0)"
"$kelm" scale-to-grey "$work/s.bmp" "$work/s2.bmp" 2x2 --rect 2,2,3,3 >/dev/null
expect_equal "scale-to-grey --rect 2,2,3,3 is red" "#ff0000 #ff0000" "$(pixels "$work/s2.bmp" 0,0 1,1)"
check "scale-to-grey: rectangle outside" 1 "outside" -- "$kelm" scale-to-grey "$work/s.bmp" "$work/x.bmp" 1x1 --rect 0,0,4,0
check "scale-to-grey: reversed rectangle" 2 "TOP <= BOTTOM" -- "$kelm" scale-to-grey "$work/s.bmp" "$work/x.bmp" 1x1 --rect 0,3,0,1
check "scale-to-grey: bad size" 2 "WIDTHxHEIGHT" -- "$kelm" scale-to-grey "$work/s.bmp" "$work/x.bmp" 0x2

# gamma: 1.0 leaves the file's pixels as they were; 2.0 and 0.5 as the
# table 255 x (v / 255) ^ gamma, truncated, gives them.
while read -r geometry fill value want; do
    "$kelm" new "$geometry" --fill "$fill" "$work/y.bmp" >/dev/null
    check "gamma $geometry $fill $value" 0 "gamma" -- "$kelm" gamma "$work/y.bmp" "$work/y_out.bmp" "$value"
    expect_equal "gamma $geometry $fill $value: pixels" "$want $want" "$(pixels "$work/y_out.bmp" 0,0 2,1)"
done <<'EOF'
3x2x24 #804010 1.0 #804010
3x2x24 #804010 2.0 #401001
3x2x32 #404040 0.5 #7f7f7f
3x2x8 #808080 2 #404040
3x2x48 #808080 1 #808080
EOF
"$kelm" new 3x2x24 --fill '#c86432' "$work/y.bmp" >/dev/null
"$kelm" copy "$work/y.bmp" "$work/y_copy.bmp"
"$kelm" gamma "$work/y.bmp" "$work/y1.bmp" 1.0 >/dev/null
expect_same_file "gamma 1.0 writes the image unchanged" "$work/y_copy.bmp" "$work/y1.bmp"
a=$(pixel "$work/y.bmp" 1 1)
"$kelm" gamma "$work/y.bmp" "$work/y2.bmp" 2.5 >/dev/null
"$kelm" new 3x2x48 --fill '#c86432' "$work/y48.bmp" >/dev/null
"$kelm" gamma "$work/y48.bmp" "$work/y48g.bmp" 2.5 >/dev/null
expect_equal "gamma darkens two-plane images as one-plane ones (within a step)" "ok" \
    "$(b=$(pixel "$work/y2.bmp" 1 1); c=$(pixel "$work/y48g.bmp" 1 1)
       d=$(( 16#${b:1:2} - 16#${c:1:2} )); [ "$a" != "$b" ] && [ ${d#-} -le 1 ] && echo ok || echo "$a $b $c")"

# filter and sharpen.
"$kelm" new 3x3x24 --fill red "$work/f.bmp" >/dev/null
"$kelm" pixel "$work/f.bmp" 0 0 lime >/dev/null
printf '1 1\n256\n' > "$work/identity.k"
printf '3 3\n0 0 0\n0 0 0\n0 0 0\n' > "$work/zero.k"
printf '# takes the pixel above\n1 3\n256\n0\n0\n' > "$work/above.k"
printf '3 1\n0 0 256\n' > "$work/right.k"
printf '2 2\n1 1\n1 1\n' > "$work/even.k"
printf '3 3\n1 2 3\n' > "$work/short.k"
while read -r kernel offset want; do
    check "filter $kernel offset $offset" 0 "filtered" -- \
        "$kelm" filter "$work/f.bmp" "$work/f_out.bmp" --kernel "$work/$kernel" --offset "$offset"
    expect_equal "filter $kernel offset $offset: pixels (0,0) (0,1) (2,2) (1,0)" "$want" \
        "$(pixels "$work/f_out.bmp" 0,0 0,1 2,2 1,0)"
done <<'EOF'
identity.k 0 #00ff00 #ff0000 #ff0000 #ff0000
zero.k 128 #808080 #808080 #808080 #808080
above.k 0 #000000 #00ff00 #ff0000 #000000
right.k 0 #ff0000 #ff0000 #000000 #ff0000
identity.k -64 #00bf00 #bf0000 #bf0000 #bf0000
EOF
"$kelm" new 3x3x24 --fill '#646464' "$work/u.bmp" >/dev/null
check "sharpen" 0 "sharpened" -- "$kelm" sharpen "$work/u.bmp" "$work/u_out.png"
expect_equal "sharpen uniform 100: inside 100, edge 125, corner 150" "#646464 #7d7d7d #969696" \
    "$(pixels "$work/u_out.png" 1,1 1,0 2,2)"
"$kelm" new 3x3x32 --fill '#646464' "$work/u32.bmp" >/dev/null
"$kelm" sharpen "$work/u32.bmp" "$work/u32_out.bmp" >/dev/null
expect_equal "sharpen 32 bits" "#646464 #969696" "$(pixels "$work/u32_out.bmp" 1,1 0,0)"
"$kelm" new 3x3x8 --fill red "$work/f8.bmp" >/dev/null
check "filter: 8 bits refused" 1 "24- and 32-bit" -- "$kelm" filter "$work/f8.bmp" "$work/x.bmp" --kernel "$work/identity.k"
check "sharpen: 8 bits refused" 1 "kelm: .*f8.bmp: cannot sharpen" -- "$kelm" sharpen "$work/f8.bmp" "$work/x.bmp"
check "filter: even kernel" 1 "odd" -- "$kelm" filter "$work/f.bmp" "$work/x.bmp" --kernel "$work/even.k"
check "filter: too few weights" 1 "needs 9 weights, the file has 3" -- \
    "$kelm" filter "$work/f.bmp" "$work/x.bmp" --kernel "$work/short.k"
check "filter: no kernel file" 1 "kelm: .*nothing.k" -- "$kelm" filter "$work/f.bmp" "$work/x.bmp" --kernel "$work/nothing.k"
check "filter: --kernel missing" 2 "--kernel FILE" -- "$kelm" filter "$work/f.bmp" "$work/x.bmp"
check "filter: bad offset" 2 "-65535 to 65535" -- \
    "$kelm" filter "$work/f.bmp" "$work/x.bmp" --kernel "$work/identity.k" --offset 1e3
check "filter --help describes the kernel file" 0 '"W H"' -- "$kelm" filter --help

# An alpha channel survives gamma and filters, which correct or clear every
# byte of a 32-bit pixel.
im=$(command -v convert-im6.q16 || { [ -x /usr/bin/convert ] && echo /usr/bin/convert; } || true)
if [ -n "$im" ]; then
    "$im" -size 3x3 'xc:rgba(100,150,200,0.25)' "PNG32:$work/alpha.png"
    alpha() { "$kelm" pixel "$1" 1 1 --json | grep -Eo '"a":[0-9]+' | head -1; }
    before=$(alpha "$work/alpha.png")
    "$kelm" gamma "$work/alpha.png" "$work/alpha_g.png" 2.0 >/dev/null
    "$kelm" filter "$work/alpha.png" "$work/alpha_f.png" --kernel "$work/zero.k" --offset 10 >/dev/null
    expect_equal "alpha kept by gamma and filter" "$before $before #0a0a0a" \
        "$(alpha "$work/alpha_g.png") $(alpha "$work/alpha_f.png") $(pixel "$work/alpha_f.png" 1 1)"
    expect_equal "alpha of the test image is partial" "yes" "$([ "$before" != '"a":255' ] && [ -n "$before" ] && echo yes)"
else
    skip "alpha through gamma and filter" "ImageMagick is not installed"
fi

# Usage errors list what is allowed.
while IFS='|' read -r status pattern args; do
    # shellcheck disable=SC2086
    check "usage: $args" "$status" "$pattern" -- "$kelm" $args
done <<EOF
2|1, 4, 8, 16, 24, 32, 48 or 64|convert $work/c.bmp $work/x.bmp --bits 7
2|1, 4, 8, 16, 24, 32, 48 or 64|convert $work/c.bmp $work/x.bmp
2|IN OUT --bits N|convert $work/c.bmp --bits 8
2|1 to 256|palette $work/p.bmp $work/x.bmp --colours 257
2|1 to 256|palette $work/p.bmp $work/x.bmp --colours 0
2|1 .black and white., 4 .16 colours. or 8|dither $work/d.bmp $work/x.bmp --to 2
2|0 .no cube. or 2 to 6|dither $work/d.bmp $work/x.bmp --to 8 --levels 1
2|0 to 255|dither $work/d.bmp $work/x.bmp --to 8 --popular 256
2|at most 256|dither $work/d.bmp $work/x.bmp --to 8 --levels 6 --popular 41
2|no palette|dither $work/d.bmp $work/x.bmp --to 8 --levels 0
2|go with --to 8|dither $work/d.bmp $work/x.bmp --to 4 --levels 3
2|--grey-map goes with --to 1|dither $work/d.bmp $work/x.bmp --to 8 --grey-map $work/zero.map
2|replaces --levels|dither $work/d.bmp $work/x.bmp --to 8 --levels 3 --palette $work/pal.bmp
2|0.0001 to 100000|gamma $work/y.bmp $work/x.bmp 0
2|0.0001 to 100000|gamma $work/y.bmp $work/x.bmp -1
2|0.0001 to 100000|gamma $work/y.bmp $work/x.bmp bright
2|0.0001 to 100000|gamma $work/y.bmp $work/x.bmp nan
2|expected IN OUT|grey $work/y.bmp
2|unknown option|sharpen $work/y.bmp $work/x.bmp --strength 2
EOF
printf '0 1 2\n' > "$work/short.map"
check "dither: short grey map" 1 "3 entries, not 256" -- "$kelm" dither "$work/d.bmp" "$work/x.bmp" --to 1 --grey-map "$work/short.map"
check "dither: palette without a table" 1 "no colour table" -- \
    "$kelm" dither "$work/d.bmp" "$work/x.bmp" --to 8 --palette "$work/d.bmp"
for cmd in "convert IN OUT --bits 8" "palette IN OUT --colours 4" "dither IN OUT --to 4" "grey IN OUT" \
    "scale-to-grey IN OUT 2x2" "gamma IN OUT 1.5" "sharpen IN OUT"; do
    set -- $cmd
    name=$1
    shift
    args=("$@")
    args=("${args[@]/IN/$work/nothing.bmp}")
    args=("${args[@]/OUT/$work/x.bmp}")
    check "$name: missing file" 1 "kelm: .*nothing.bmp" -- "$kelm" "$name" "${args[@]}"
    check "$name: missing file, JSON" 1 '"error"' -- "$kelm" "$name" "${args[@]}" --json
    args=("${args[@]/$work\/nothing.bmp/$work/c.bmp}")
    json_ok "$name --json" -- "$kelm" "$name" "${args[@]}" --json
    check_not "$name --quiet prints nothing" "." "" -- "$kelm" "$name" "${args[@]}" --quiet
done

finish "kelm colour"
