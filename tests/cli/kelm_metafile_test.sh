#!/usr/bin/env bash
# The metafile commands of the kelm tool end to end: rotate-wmf (placeable
# header kept, standard input and output, JSON, bad files and usage) and
# rotate-emf; the turned WMF files read by an independent renderer, libwmf's
# wmf2svg, whose drawing of each turned file is its drawing of the original
# turned.
# Usage: kelm_metafile_test.sh KELM
set -u
kelm=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0
. "$(dirname "$0")/cli_lib.sh"

if [ -z "${PYTHON:-}" ]; then
    skip "metafile commands" "no python3 to write the test metafiles"
    finish kelm_metafile
    exit $?
fi

# A placeable 400 x 300 WMF: a red pen, a rectangle, a polyline, an ellipse;
# the same without the placeable header; and an EMF with a rectangle.
"$PYTHON" - "$work" <<'PY'
import struct, sys
d = sys.argv[1]
def rec(fn, *p):
    return struct.pack('<IH', 3 + len(p), fn) + b''.join(struct.pack('<h', v) for v in p)
body = rec(0x0103, 8) + rec(0x020B, 0, 0) + rec(0x020C, 300, 400)
body += rec(0x02FA, 0, 1, 0, 0x00FF, 0) + rec(0x012D, 0)
body += rec(0x041B, 250, 350, 50, 60)
body += rec(0x0325, 3, 10, 10, 100, 20, 200, 150)
body += rec(0x0418, 280, 390, 200, 300)
body += struct.pack('<IH', 3, 0)
wmf = struct.pack('<HHHIHIH', 1, 9, 0x300, (18 + len(body)) // 2, 1, 8, 0) + body
ph = struct.pack('<IHhhhhHI', 0x9AC6CDD7, 0, 0, 0, 400, 300, 96, 0)
s = 0
for i in range(0, 20, 2):
    s ^= struct.unpack('<H', ph[i:i + 2])[0]
open(d + '/a.wmf', 'wb').write(ph + struct.pack('<H', s) + wmf)
open(d + '/plain.wmf', 'wb').write(wmf)
recs = struct.pack('<II4i', 43, 24, 60, 50, 350, 250)
eof = struct.pack('<5I', 14, 20, 0, 16, 20)
size = 108 + len(recs) + len(eof)
head = struct.pack('<II4i4iIIIIHHIII2i2iIII2i', 1, 108, 60, 50, 349, 249, 0, 0, 10000, 7000,
                   0x464D4520, 0x10000, size, 3, 1, 0, 0, 0, 0, 1024, 768, 320, 240, 0, 0, 0,
                   320000, 240000)
open(d + '/a.emf', 'wb').write(head + recs + eof)
open(d + '/junk.wmf', 'wb').write(b'not a metafile at all, just text')
PY

# rotate-wmf
check "rotate-wmf 90" 0 "window 0 0 300 400" -- "$kelm" rotate-wmf "$work/a.wmf" "$work/r90.wmf" 90
check "rotate-wmf 180" 0 "window 0 0 400 300" -- "$kelm" rotate-wmf "$work/a.wmf" "$work/r180.wmf" 180
check "rotate-wmf 30.5" 0 "turned by 30.5 degrees" -- "$kelm" rotate-wmf "$work/a.wmf" "$work/r30.wmf" 30.5
check "rotate-wmf -90 without a placeable header" 0 "window 0 0 300 400" -- \
    "$kelm" rotate-wmf "$work/plain.wmf" "$work/p270.wmf" -90
expect_equal "placeable header kept, box turned" "d7cdc69a 0000 0000 0000 012c 0190 0060" \
    "$(od -An -tx1 -N14 "$work/r90.wmf" | awk '{printf "%s%s%s%s %s%s %s%s %s%s %s%s %s%s", $1,$2,$3,$4,$6,$5,$8,$7,$10,$9,$12,$11,$14,$13}') $(od -An -tx2 -j14 -N2 "$work/r90.wmf" | tr -d ' ')"
expect_equal "no placeable header added" "0001" "$(od -An -tx2 -N2 "$work/p270.wmf" | tr -d ' ')"
json_ok "rotate-wmf --json" -- "$kelm" rotate-wmf "$work/a.wmf" "$work/j.wmf" 45 --json
check "rotate-wmf --json fields" 0 '"tenths":-125,"window":\[0,0,' -- \
    "$kelm" rotate-wmf "$work/a.wmf" "$work/j.wmf" -12.5 --json
check "rotate-wmf through standard input and output" 0 "" -- \
    bash -c "cat '$work/a.wmf' | '$kelm' rotate-wmf - - 90 > '$work/pipe.wmf'"
expect_same_file "rotate-wmf - - equals files" "$work/r90.wmf" "$work/pipe.wmf"
"$kelm" rotate-wmf "$work/r90.wmf" "$work/r90b.wmf" 90 >/dev/null
"$kelm" rotate-wmf "$work/r90b.wmf" "$work/r90c.wmf" 90 >/dev/null
"$kelm" rotate-wmf "$work/r90c.wmf" "$work/r360.wmf" 90 >/dev/null
check "four quarter turns" 0 "" -- "$kelm" rotate-wmf "$work/r360.wmf" "$work/r360b.wmf" 0
check "rotate-wmf: not a metafile" 1 "kelm: .*junk.wmf: not a Windows metafile" -- \
    "$kelm" rotate-wmf "$work/junk.wmf" "$work/x.wmf" 90
check "rotate-wmf: missing file, JSON" 1 '"error"' -- "$kelm" rotate-wmf "$work/none.wmf" "$work/x.wmf" 9 --json
check "rotate-wmf: two decimals" 2 "one decimal" -- "$kelm" rotate-wmf "$work/a.wmf" "$work/x.wmf" 1.25
check "rotate-wmf: wrong argument count" 2 "IN OUT ANGLE" -- "$kelm" rotate-wmf "$work/a.wmf"

# rotate-emf
check "rotate-emf 90" 0 "bounds 50 -350 249 -61" -- "$kelm" rotate-emf "$work/a.emf" "$work/r90.emf" 90
check "rotate-emf: a WMF is refused" 1 "not an enhanced metafile" -- \
    "$kelm" rotate-emf "$work/plain.wmf" "$work/x.emf" 90
json_ok "rotate-emf --json" -- "$kelm" rotate-emf "$work/a.emf" "$work/j.emf" 45 --json

# libwmf draws each turned file as its drawing of the original, turned.
if ! command -v wmf2svg >/dev/null; then
    skip "libwmf reads the turned files" "no wmf2svg (Debian libwmf-bin)"
else
    for f in a plain r90 r180 r30 p270 r360; do
        check "wmf2svg reads $f.wmf" 0 "" -- wmf2svg "$work/$f.wmf" -o "$work/$f.svg"
    done
    # Every coordinate libwmf gives for the turned file is the original's
    # turned within its SVG canvas (libwmf fits the canvas to the drawing).
    compare() {  # compare NAME ORIGINAL TURNED QUARTERS
        local out
        if out=$("$PYTHON" - "$work/$2.svg" "$work/$3.svg" "$4" <<'PY'
import re, sys
# Points in canvas units (0..1 each way): libwmf fits its canvas to the
# drawing, with a scale of its own for each file.
def shapes(path):
    t = open(path).read()
    w, h = (float(v) for v in re.search(r'<svg width="([\d.]+)" height="([\d.]+)"', t).groups())
    pts = []
    for m in re.finditer(r'<rect x="([-\d.]+)" y="([-\d.]+)" width="([-\d.]+)" height="([-\d.]+)"', t):
        x, y, a, b = map(float, m.groups())
        pts += [(x, y), (x + a, y), (x, y + b), (x + a, y + b)]
    for m in re.finditer(r'points="([^"]*)"', t):
        nums = [float(v) for v in re.split(r'[\s,]+', m.group(1).strip())]
        pts += list(zip(nums[0::2], nums[1::2]))
    for m in re.finditer(r'<ellipse cx="([-\d.]+)" cy="([-\d.]+)"', t):
        pts.append(tuple(map(float, m.groups())))
    return [(x / w, y / h) for x, y in pts]
a, b = shapes(sys.argv[1]), shapes(sys.argv[2])
turn = [lambda u, v: (u, v), lambda u, v: (v, 1 - u), lambda u, v: (1 - u, 1 - v),
        lambda u, v: (1 - v, u)][int(sys.argv[3]) % 4]
want = [turn(u, v) for u, v in a]
if len(want) != len(b) or not b:
    sys.exit("%d points, wanted %d" % (len(b), len(want)))
for p in want:
    q = min(b, key=lambda q: abs(q[0] - p[0]) + abs(q[1] - p[1]))
    if abs(q[0] - p[0]) > 0.015 or abs(q[1] - p[1]) > 0.015:
        sys.exit("no point near %s (nearest %s)" % (p, q))
    b.remove(q)
PY
        ); then passed=$((passed + 1)); else report_fail "$1" "libwmf's drawings differ" "$out"; fi
    }
    compare "libwmf: 90 degrees" a r90 1
    compare "libwmf: 180 degrees" a r180 2
    compare "libwmf: -90 degrees, no placeable header" plain p270 3
    compare "libwmf: four quarter turns" a r360 0
fi

finish kelm_metafile
