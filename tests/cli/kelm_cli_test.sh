#!/usr/bin/env bash
# End-to-end checks of the kelm tool: outputs, exit statuses, messages,
# the files it writes, and an installed copy. Files written by ImageMagick
# are checked in kelm_files_test.sh.
# Usage: kelm_cli_test.sh KELM SAMPLES_DIR [BUILD_DIR]
set -u
kelm=$1 samples=$2 build=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0
. "$(dirname "$0")/cli_lib.sh"

# --- usage, conventions --------------------------------------------------
check help 0 'kelm info FILE' -- "$kelm" --help
check version 0 '^kelm [0-9]+\.[0-9]+\.[0-9]+' -- "$kelm" --version
check no-command 2 'Usage: kelm' -- "$kelm"
check unknown-command 2 "unknown command 'frobnicate'" -- "$kelm" frobnicate
check new-help 0 'WIDTHxHEIGHTxBITS' -- "$kelm" new --help
check new-8bit 0 'biSizeImage +5000' -- "$kelm" new 100x50x8
check new-8bit-block 0 'block size +6064 bytes' -- "$kelm" new 100x50x8
check new-default-table 0 'palette type +7 \(default 256 colours\)' -- "$kelm" new 100x50x8
check new-two-plane 0 'biPlanes +2' -- "$kelm" new 10x10x24 --two-plane
check new-large-header-only 0 'not listed for images above' -- "$kelm" new 2000x1000x1
check new-bad-geometry 2 'not a geometry' -- "$kelm" new 100by50
check new-bad-depth 2 'depth 2 not supported: BITS is 1, 4, 8, 16, 24, 32' -- "$kelm" new 10x10x2
check new-bad-two-plane 2 'with --two-plane BITS is 8, 24 or 32' -- "$kelm" new 10x10x16 --two-plane
check new-negative 2 'width and height must be' -- "$kelm" new 10x-5x8
check new-bad-option 2 "unknown option '--nope'" -- "$kelm" new 10x10x8 --nope
check new-too-large 1 'too large' -- "$kelm" new 100000x100000x32

# Colours: CSS-style forms and names, the library's colour word, and the
# ambiguous bare hex refused with a hint. Pixel 0,0 of a new 24-bit image.
while read -r arg want <&3; do
    check "colour-$arg" 0 "\"colour\":\"$want\"" -- "$kelm" new 1x1x24 --fill "$arg" --json
done 3<<'CASES'
#ff8000 #ff8000
#f80 #ff8800
red #ff0000
Lime #00ff00
green #008000
navy #000080
0x00ff0000 #0000ff
0xff #ff0000
CASES
check colour-bare-hex 2 "ambiguous colour 'ff0000': write '#ff0000'.*that is #0000ff" -- "$kelm" new 1x1x24 --fill ff0000
check colour-bad 2 "not a colour: 'reddish'" -- "$kelm" new 1x1x24 --fill reddish
check colour-short-hash 2 'not a colour' -- "$kelm" new 1x1x24 --fill '#12345'
check fill-8-nearest 0 '#ff6633' -- "$kelm" new 3x2x8 --fill '#ff6633'

# --- coordinates: from the top-left; --stored-rows is the library's order
# make_samples.py gives each sample's pixels counted from the top-left:
# rgb24.bmp (bottom-up, 7x3) has red 255-30x, green 60y, blue 30x;
# topdown24.bmp (top-down, 5x3) red 200, green 50y+2, blue 10x+1.
check top-left-bottom-up 0 '^2,1 #c33c3c ' -- "$kelm" pixel "$samples/rgb24.bmp" 2 1
check top-left-top-down 0 '^3,2 #c8661f ' -- "$kelm" pixel "$samples/topdown24.bmp" 3 2
check stored-rows 0 '"y":2,"storedRow":0,"colour":"#c3783c"' -- "$kelm" pixel "$samples/rgb24.bmp" 2 0 --stored-rows --json
check stored-rows-json 0 '"x":2,"y":0,"storedRow":2' -- "$kelm" pixel "$samples/rgb24.bmp" 2 0 --json

# --- reading and writing pixels, raw values of the same width per depth --
cp "$samples/rgb24.bmp" "$work/p.bmp"
check pixel-write 0 'written to' -- "$kelm" pixel "$work/p.bmp" 1 0 '#102030'
check pixel-read-back 0 '^1,0 #102030 raw 102030$' -- "$kelm" pixel "$work/p.bmp" 1 0
check pixel-colour-word 0 '#0000ff' -- "$kelm" pixel "$work/p.bmp" 2 0 0x00FF0000
check pixel-outside 1 'outside the 7x3 image' -- "$kelm" pixel "$work/p.bmp" 1000 0
check pixel-negative 1 'outside the' -- "$kelm" pixel "$work/p.bmp" 0 -1
check pixel-bad-coords 2 'coordinates must be integers' -- "$kelm" pixel "$work/p.bmp" a 0
while read -r geometry flags raw <&3; do
    [ "$flags" = plain ] && flags=
    check "raw-$geometry$flags" 0 "\"raw\":\"$raw\"" -- "$kelm" new "$geometry" --fill '#ffffff' --json $flags
done 3<<'CASES'
2x2x1 plain [01]
2x2x4 plain [0-9a-f]
2x2x8 plain [0-9a-f]{2}
2x2x16 plain 7fff
2x2x24 plain ffffff
2x2x32 plain 00ffffff
2x2x8 --two-plane ff00
2x2x24 --two-plane ff00ff00ff00
2x2x32 --two-plane 0000ff00ff00ff00
CASES
check json-channels 0 '"rgba":\{"r":16,"g":32,"b":48,"a":0\}' -- "$kelm" new 1x1x24 --fill '#102030' --json

# --- saving: form changes are said, permissions kept, originals never lost
cp "$samples/rle8.bmp" "$work/r.bmp"
check pixel-rle-note 0 'saved uncompressed \(the file was RLE8\)' -- "$kelm" pixel "$work/r.bmp" 0 0 '#000000'
cp "$samples/topdown24.bmp" "$work/t.bmp"
check pixel-topdown-note 0 'rows saved bottom-up \(the file was top-down\)' -- "$kelm" pixel "$work/t.bmp" 0 0 red
cp "$samples/os2.bmp" "$work/o.bmp"
check pixel-os2-note 0 'saved with a 40-byte Windows header \(the file had a 12-byte OS/2 core header\)' -- "$kelm" pixel "$work/o.bmp" 0 0 red
cp "$samples/rgb24.bmp" "$work/mode.bmp"
chmod 640 "$work/mode.bmp"
"$kelm" pixel "$work/mode.bmp" 0 0 red >/dev/null 2>&1
expect_equal permissions-kept 640 "$(stat -c %a "$work/mode.bmp")"

"$kelm" new 300x300x24 --fill white "$work/big.bmp" >/dev/null
cp "$work/big.bmp" "$work/big.orig"
# The tool ignores SIGXFSZ itself; the copy case also sets it as a caller might.
check size-limit-pixel 1 'cannot write: File too large \(the file is unchanged\)' -- \
    bash -c '(ulimit -f 100; exec "$0" pixel "$1" 1 1 "#00ff00")' "$kelm" "$work/big.bmp"
expect_same_file size-limit-pixel-original "$work/big.orig" "$work/big.bmp"
check size-limit-copy 1 'File too large' -- \
    bash -c "(trap '' XFSZ; ulimit -f 100; exec \"\$0\" copy \"\$1\" \"\$2\")" "$kelm" "$work/big.orig" "$work/big.bmp"
expect_same_file size-limit-copy-original "$work/big.orig" "$work/big.bmp"
expect_equal no-temporary-left "" "$(ls -A "$work" | grep kelm- || true)"
check copy-unwritable 1 'cannot write: cannot create a file in' -- "$kelm" copy "$samples/rle8.bmp" "$work/no/such/dir/x.bmp"
check copy-usage 2 'expected IN and OUT' -- "$kelm" copy "$samples/rle8.bmp"
check copy-rle8 0 '' -- "$kelm" copy "$samples/rle8.bmp" "$work/a.bmp"
check copy-again 0 '' -- "$kelm" copy "$work/a.bmp" "$work/b.bmp"
expect_same_file copy-is-stable "$work/a.bmp" "$work/b.bmp"

# Standard input and output.
"$kelm" copy - - <"$samples/rgb24.bmp" >"$work/piped.bmp" 2>/dev/null
"$kelm" copy "$samples/rgb24.bmp" "$work/direct.bmp"
expect_same_file stdin-to-stdout "$work/direct.bmp" "$work/piped.bmp"
check info-stdin 0 '\(standard input\)' -- bash -c 'exec "$0" info - <"$1"' "$kelm" "$samples/rgb24.bmp"

# --- diagnosis of bad input: one case per cause ---------------------------
printf 'GIF89a\1\0\1\0\0\0\0;' >"$work/gif.bmp"
printf 'II*\0\10\0\0\0' >"$work/tiff.bmp"
printf '\377\330\377\340\0\20JFIF\0' >"$work/jpeg.bmp"
printf 'not a bitmap at all, just text that is long enough to hold a header' >"$work/text.bmp"
: >"$work/empty.bmp"
mkdir "$work/dir.bmp"
head -c 30 "$samples/rgb24.bmp" >"$work/short-header.bmp"
head -c 70 "$samples/rgb24.bmp" >"$work/short-pixels.bmp"
patched() {  # patched NAME OFFSET HEXBYTES: rgb24.bmp with bytes replaced
    cp "$samples/rgb24.bmp" "$work/$1.bmp"
    printf "$3" | dd of="$work/$1.bmp" bs=1 seek="$2" conv=notrunc status=none
}
patched depth2 28 '\2\0'
patched width 18 '\377\377\377\377'
patched jpeg-comp 30 '\4\0\0\0'
patched png-comp 30 '\5\0\0\0'
patched rle8-at-24 30 '\1\0\0\0'
patched planes 26 '\3\0'
patched header200 14 '\310\0\0\0'
while read -r name status pattern <&3; do
    check "diagnose-$name" "$status" "$pattern" -- "$kelm" info "$work/$name"
done 3<<'CASES'
nothere.bmp 1 nothere.bmp: no such file
dir.bmp 1 dir.bmp: a directory, not an image file
empty.bmp 1 empty.bmp: an empty file
gif.bmp 1 a GIF file, not a BMP or PNG image
tiff.bmp 1 a TIFF file, not a BMP or PNG image
jpeg.bmp 1 a JPEG file, not a BMP or PNG image
text.bmp 1 not a BMP or PNG image
short-header.bmp 1 truncated \(expected 54 bytes for the 40-byte header, found 30\)
short-pixels.bmp 0 warning: truncated \(expected 126 bytes, found 70\)
depth2.bmp 1 depth 2 bits not supported \(1, 4, 8, 16, 24 or 32\)
width.bmp 1 width -1 not supported
jpeg-comp.bmp 1 BI_JPEG compression \(an embedded JPEG image\) not supported
png-comp.bmp 1 BI_PNG compression \(an embedded PNG image\) not supported
rle8-at-24.bmp 1 RLE8 compression at 24 bits not supported
planes.bmp 1 3 planes not supported
header200.bmp 1 header size 200 not read
CASES
check info-usage 2 'missing FILE' -- "$kelm" info
check info-several-brief 1 'rgb24.bmp: BMP 7x3, 24-bit' -- "$kelm" info --brief "$samples/rgb24.bmp" "$work/empty.bmp"
check info-core-fields 0 'bcBitCount' -- "$kelm" info "$samples/os2.bmp"
expect_equal info-core-fields-only "bcSize bcWidth bcHeight bcPlanes bcBitCount" \
    "$("$kelm" info "$samples/os2.bmp" | sed -n '/header as stored/,/header as loaded/p' | awk '/^  [a-z]/ {printf "%s%s", s, $1; s=" "}')"
check info-masks 0 'masks +red 0000f800  green 000007e0  blue 0000001f' -- "$kelm" info "$samples/bitfields16.bmp"

# --- JSON: valid UTF-8 objects for results and errors ----------------------
odd="$work/caf$(printf '\351')-\"q\".bmp"  # a Latin-1 byte: not UTF-8
cp "$samples/rgb24.bmp" "$odd"
json_ok json-info -- "$kelm" info --json "$samples/rle8.bmp"
json_ok json-info-odd-name -- "$kelm" info --json "$odd"
json_ok json-info-several -- "$kelm" info --json "$samples/os2.bmp" "$work/nothere.bmp"
json_ok json-brief -- "$kelm" info --brief --json "$samples/os2.bmp" "$odd"
json_ok json-error -- "$kelm" info --json "$work/dir.bmp"
json_ok json-usage-error -- "$kelm" new 10x10x2 --json
json_ok json-pixel -- "$kelm" pixel "$odd" 0 0 --json
check json-error-shape 1 '^\{"error":"no such file","file":".*nothere.bmp"\}$' -- "$kelm" info --json "$work/nothere.bmp"
check json-name-replaced 0 'caf\\ufffd-\\"q\\".bmp' -- "$kelm" info --json "$odd"

# --- the progress bar: on a terminal only, silenced by --quiet -------------
if command -v script >/dev/null; then
    check progress-terminal 0 'working \[#+\] 100%' -- script -qec "$kelm _progress 40" /dev/null
    check_not progress-quiet '%' '' -- script -qec "$kelm _progress 40 --quiet" /dev/null
else
    skip progress-terminal "no 'script' program to give the tool a terminal"
fi
check_not progress-pipe '%' '' -- "$kelm" _progress 40

# --- an installed kelm runs from its prefix --------------------------------
if [ -n "$build" ] && cmake --install "$build" --prefix "$work/prefix" >/dev/null 2>&1; then
    check installed-runs 0 '^kelm ' -- env -u LD_LIBRARY_PATH "$work/prefix/bin/kelm" --version
    check installed-loads 0 'BMP 10x5' -- env -u LD_LIBRARY_PATH "$work/prefix/bin/kelm" info --brief "$samples/rle8.bmp"
else
    skip installed-runs "no build directory given, or cmake --install failed"
fi

finish "kelm cli"
