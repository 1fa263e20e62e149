#!/usr/bin/env bash
# The kelm tool on files other programs write: BMP (V5, V4, BMP3, OS/2,
# 52- and 56-byte and OS/2 2.x headers) and PNG of every kind, made here by
# ImageMagick, an independent encoder and decoder. The pixels kelm reads are
# compared with ImageMagick's reading of the same file, as 8- or 16-bit RGBA.
# Usage: kelm_files_test.sh KELM SAMPLES_DIR
set -u
kelm=$1 samples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0
. "$(dirname "$0")/cli_lib.sh"

im=$(command -v convert-im6.q16 || { [ -x /usr/bin/convert ] && echo /usr/bin/convert; } || true)
if [ -z "$im" ]; then
    skip all "ImageMagick (convert-im6.q16 or /usr/bin/convert) is not installed"
    finish "kelm files"
    exit $?
fi

# same_pixels NAME REFERENCE OURS [DEPTH] [CHANNELS]: ImageMagick reads both
# files to the same samples.
same_pixels() {
    local name=$1 ref=$2 ours=$3 depth=${4:-8} ch=${5:-rgba}
    local a b
    a=$("$im" "$ref" -depth "$depth" "$ch:-" 2>/dev/null | od -An -v -tx1) || true
    b=$("$im" "$ours" -depth "$depth" "$ch:-" 2>/dev/null | od -An -v -tx1) || true
    if [ -n "$a" ] && [ "$a" = "$b" ]; then passed=$((passed + 1)); else report_fail "$name" "pixels differ from ImageMagick's reading of $ref"; fi
}

# put32 FILE OFFSET VALUE: a little-endian 32-bit field.
put32() {
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
        dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# A picture with every channel varying, and one with partial transparency.
"$im" -size 13x7 gradient:'#ff2000'-'#0020ff' \( -size 13x7 gradient:'#00ff00'-'#000000' -rotate 90 -resize 13x7! \) \
    -compose plus -composite "$work/src.png"
"$im" "$work/src.png" -alpha set -channel A -fx '(i+j)/20' +channel "$work/srca.png"

# --- BMP written by ImageMagick: each loads with the right pixels ---------
while read -r name src opts <&3; do
    # shellcheck disable=SC2086
    "$im" "$work/$src" $opts "$work/$name.bmp"
    check "bmp-$name-loads" 0 '' -- "$kelm" copy "$work/$name.bmp" "$work/$name.out.png"
    same_pixels "bmp-$name-pixels" "$work/$name.bmp" "$work/$name.out.png"
done 3<<'CASES'
v5 src.png
v5-alpha srca.png
v5-palette src.png -colors 16 -type Palette
v5-grey src.png -colorspace Gray
v4 src.png -define bmp:format=bmp4
bmp3 src.png -define bmp:format=bmp3
bmp2 src.png -define bmp:format=bmp2
CASES
check v5-note 0 'note: converted its 124-byte \(V5\) header to the 108-byte form' -- "$kelm" info "$work/v5.bmp"
check v5-alpha-masks 0 '"masks":\{"r":"00ff0000","g":"0000ff00","b":"000000ff","a":"ff000000"\}' -- "$kelm" info --json "$work/v5-alpha.bmp"

# Header forms ImageMagick does not write, made from its files by moving
# bytes: the pixels must not change.
bmp3="$work/bmp3.bmp"
v5a="$work/v5-alpha.bmp"
{ head -c 54 "$bmp3"; head -c 24 /dev/zero; tail -c +55 "$bmp3"; } >"$work/os2v2-64.bmp"
put32 "$work/os2v2-64.bmp" 14 64
put32 "$work/os2v2-64.bmp" 10 $((54 + 24))
{ head -c 30 "$bmp3"; tail -c +55 "$bmp3"; } >"$work/os2v2-16.bmp"
put32 "$work/os2v2-16.bmp" 14 16
put32 "$work/os2v2-16.bmp" 10 30
off=$(od -An -tu4 -j10 -N4 "$v5a" | tr -d ' ')
for hs in 52 56; do
    { head -c $((14 + hs)) "$v5a"; tail -c +$((off + 1)) "$v5a"; } >"$work/h$hs.bmp"
    put32 "$work/h$hs.bmp" 14 "$hs"
    put32 "$work/h$hs.bmp" 10 $((14 + hs))
done
while read -r name ref channels note <&3; do
    check "$name-note" 0 "$note" -- "$kelm" copy "$work/$name.bmp" "$work/$name.out.png"
    same_pixels "$name-pixels" "$ref" "$work/$name.out.png" 8 "$channels"
done 3<<CASES
os2v2-64 $bmp3 rgb converted its 64-byte \(OS/2 2.x\) header to the 40-byte form
os2v2-16 $bmp3 rgb converted its 16-byte \(OS/2 2.x\) header to the 40-byte form
h56 $v5a rgba converted its 56-byte \(V3\) header to the 108-byte form
h52 $v5a rgb converted its 52-byte \(V2\) header to the 108-byte form
CASES

# OS/2 2.x RLE is read; Huffman and RLE24 are refused by name.
rle="$samples/rle8.bmp"
roff=$(od -An -tu4 -j10 -N4 "$rle" | tr -d ' ')
{ head -c $roff "$rle" | head -c 54; head -c 24 /dev/zero; tail -c +55 "$rle"; } >"$work/os2rle.bmp"
put32 "$work/os2rle.bmp" 14 64
put32 "$work/os2rle.bmp" 10 $((roff + 24))
"$kelm" copy "$rle" "$work/rle-ref.bmp"
check os2-rle8 0 'converted its 64-byte' -- "$kelm" copy "$work/os2rle.bmp" "$work/os2rle.out.bmp"
same_pixels os2-rle8-pixels "$work/rle-ref.bmp" "$work/os2rle.out.bmp"
cp "$work/os2v2-64.bmp" "$work/rle24.bmp"
put32 "$work/rle24.bmp" 30 4
check os2-rle24-refused 1 'RLE24 \(OS/2\) compression not supported' -- "$kelm" info "$work/rle24.bmp"
cp "$work/os2v2-64.bmp" "$work/huffman.bmp"
printf '\1\0' | dd of="$work/huffman.bmp" bs=1 seek=28 conv=notrunc status=none
put32 "$work/huffman.bmp" 30 3
check os2-huffman-refused 1 'Huffman 1D \(OS/2\) compression not supported' -- "$kelm" info "$work/huffman.bmp"

# An embedded colour profile is dropped with a note.
cp "$work/v5.bmp" "$work/profile.bmp"
printf 'DEBM' | dd of="$work/profile.bmp" bs=1 seek=70 conv=notrunc status=none
put32 "$work/profile.bmp" 130 3144
check v5-profile-note 0 'embedded colour profile \(3144 bytes\) was dropped' -- "$kelm" copy "$work/profile.bmp" "$work/profile.out.bmp"
same_pixels v5-profile-pixels "$work/v5.bmp" "$work/profile.out.bmp"

# --- PNG of every kind: read exactly, written back exactly ----------------
while IFS='|' read -r name depth kind opts prefix <&3; do
    # shellcheck disable=SC2086
    "$im" "$work/src.png" $opts "$prefix$work/$name.png"
    check "png-$name-kind" 0 "PNG 13x7, $kind" -- "$kelm" info --brief "$work/$name.png"
    check "png-$name-to-bmp" 0 '' -- "$kelm" copy "$work/$name.png" "$work/$name.bmp"
    check "png-$name-back" 0 '' -- "$kelm" copy "$work/$name.bmp" "$work/$name.back.png"
    same_pixels "png-$name-pixels" "$work/$name.png" "$work/$name.back.png" "$depth"
    check "png-$name-same-kind" 0 "PNG 13x7, $kind" -- "$kelm" info --brief "$work/$name.back.png"
done 3<<'CASES'
grey1|8|1-bit grey, loaded as 1-bit|-colorspace Gray -threshold 50% -define png:bit-depth=1 -define png:color-type=0
grey2|8|2-bit grey, loaded as 4-bit|-colorspace Gray -define png:bit-depth=2 -define png:color-type=0
grey4|8|4-bit grey, loaded as 4-bit|-colorspace Gray -define png:bit-depth=4 -define png:color-type=0
grey8|8|8-bit grey, loaded as 8-bit|-colorspace Gray -define png:bit-depth=8 -define png:color-type=0
grey16|16|16-bit grey, loaded as 8-bit in two planes|-colorspace Gray -depth 16 -define png:color-type=0
pal1|8|1-bit palette, loaded as 1-bit|-colors 2 -type Palette -define png:bit-depth=1|PNG8:
pal2|8|2-bit palette, loaded as 4-bit|-colors 4 -define png:bit-depth=2|PNG8:
pal4|8|4-bit palette, loaded as 4-bit|-colors 16 -define png:bit-depth=4 -define png:color-type=3
pal8|8|8-bit palette, loaded as 8-bit|-colors 60 -define png:bit-depth=8 -define png:color-type=3
rgb8|8|8-bit RGB, loaded as 24-bit|-define png:color-type=2 -depth 8
rgba8|8|8-bit RGBA, loaded as 32-bit|-alpha set -channel A -fx (i+j)/20 +channel -define png:color-type=6 -depth 8
rgb16|16|16-bit RGB, loaded as 24-bit in two planes|-depth 16 -define png:color-type=2
rgba16|16|16-bit RGBA, loaded as 32-bit in two planes|-alpha set -channel A -fx (i+j)/20 +channel -depth 16 -define png:color-type=6
CASES
check png-named-bmp 0 'PNG 13x7' -- "$kelm" info --brief "$work/rgb8.png"
cp "$work/rgb8.png" "$work/really-png.bmp"
check png-chosen-by-signature 0 'PNG 13x7' -- "$kelm" info --brief "$work/really-png.bmp"
check png-pixel-top-left 0 '"x":0,"y":0' -- "$kelm" pixel "$work/rgb8.png" 0 0 --json
"$kelm" pixel "$work/rgb8.png" 12 6 '#123456' >/dev/null 2>&1
check png-pixel-written 0 '^12,6 #123456 ' -- "$kelm" pixel "$work/rgb8.png" 12 6
expect_equal png-pixel-kept-png "PNG" "$(head -c 4 "$work/rgb8.png" | tail -c 3)"
check png-truncated 1 'PNG data damaged or truncated' -- bash -c 'head -c 200 "$1" | "$0" info -' "$kelm" "$work/rgb16.png"

finish "kelm files"
