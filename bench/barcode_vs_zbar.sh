#!/usr/bin/env bash
# Compares `kelm barcode` with zbarimg on the same images, in the same run:
# the barcode image test renders its set with zint (quarter turns, 1/8/24/32
# bits, module widths 2-4, coloured paper, noise) into a folder, then each
# reader scans every image. Prints, per symbology, the codes expected, the
# codes each reader found, its false reads, and its time per image (one
# process over the whole set, divided by the image count; best of three).
#
# Usage: bench/barcode_vs_zbar.sh [BUILD_DIR]   (default build/linux-release)
# Needs zint and zbarimg (Debian: zint, zbar-tools) and python3.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/linux-release}
kelm=$build/tools/kelm/kelm
tests=$build/tests/kelm3_unit_tests
for tool in zint zbarimg python3; do
    command -v "$tool" >/dev/null || { echo "barcode_vs_zbar: $tool is not installed" >&2; exit 1; }
done
[ -x "$kelm" ] && [ -x "$tests" ] || { echo "barcode_vs_zbar: build $build first (kelm, kelm3_unit_tests)" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
KELM3_BARCODE_IMAGE_DIR=$dir "$tests" --gtest_filter='BarcodeImages.*' >/dev/null

KELM=$kelm DIR=$dir python3 - <<'EOF'
import json, os, re, resource, subprocess, time

kelm, d = os.environ["KELM"], os.environ["DIR"]
rows = [l.rstrip("\n").split("\t") for l in open(os.path.join(d, "expected.tsv"))]
files = [os.path.join(d, r[0]) for r in rows]
# zbar leaves the add-ons off unless asked; both readers get every symbology.
zbar_cmd = ["zbarimg", "-q", "-Sean2.enable", "-Sean5.enable"]

def parts(text):
    # An EAN-13 read with its add-on counts as both codes: kelm reports
    # "13DIGITS+ADDON", zbar the two separately.
    return set(text.split("+")) if re.fullmatch(r"\d{13}\+\d{2}(\d{3})?", text) else {text}

def kelm_codes(path):
    out = subprocess.run([kelm, "barcode", "--json", "--quiet", path], capture_output=True, text=True).stdout
    found = set()
    for c in json.loads(out).get("codes", []):
        found |= parts(c["text"])
    return found

def zbar_codes(path):
    out = subprocess.run(zbar_cmd + [path], capture_output=True, text=True).stdout
    found = set()
    for line in out.splitlines():
        if ":" in line:
            found |= parts(line.split(":", 1)[1])
    return found

def best_time(cmd):
    # Best of three, as wall time and as the CPU time (user + system) the
    # process used, which a busy machine disturbs less.
    best_wall = best_cpu = None
    for _ in range(3):
        r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
        t = time.perf_counter()
        subprocess.run(cmd, capture_output=True)
        t = time.perf_counter() - t
        r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (r1.ru_utime - r0.ru_utime) + (r1.ru_stime - r0.ru_stime)
        best_wall = t if best_wall is None or t < best_wall else best_wall
        best_cpu = cpu if best_cpu is None or cpu < best_cpu else best_cpu
    return best_wall, best_cpu

stats = {}
for r, f in zip(rows, files):
    expected, sym = set(), None
    for item in r[1:]:
        text, sym = item.rsplit("|", 1)
        expected |= parts(text)
    s = stats.setdefault(sym, {"images": 0, "expected": 0, "kelm": 0, "zbar": 0, "kelm_false": 0, "zbar_false": 0,
                               "kelm_false_codes": set(), "zbar_false_codes": set(), "zbar_missed": set()})
    s["images"] += 1
    s["expected"] += len(expected)
    for who, got in (("kelm", kelm_codes(f)), ("zbar", zbar_codes(f))):
        s[who] += len(expected & got)
        wrong = got - expected
        s[who + "_false"] += len(wrong)
        s[who + "_false_codes"] |= wrong
        if who == "zbar" and expected - got:
            s["zbar_missed"].add(os.path.basename(f))

n = len(files)
kelm_wall, kelm_cpu = best_time([kelm, "barcode", "--quiet"] + files)
zbar_wall, zbar_cpu = best_time(zbar_cmd + files)
ms = lambda t: f"{t * 1000 / n:.1f} ms"
print(f"{n} images; time per image (one process over the set, best of 3):")
print(f"  kelm barcode: {ms(kelm_wall)} wall, {ms(kelm_cpu)} CPU")
print(f"  zbarimg:      {ms(zbar_wall)} wall, {ms(zbar_cpu)} CPU\n")
hdr = ("symbology", "images", "codes", "kelm found", "zbar found", "kelm false", "zbar false")
print("| " + " | ".join(hdr) + " |")
print("|" + "|".join("---" for _ in hdr) + "|")
tot = [0] * 6
for sym in sorted(stats):
    s = stats[sym]
    vals = [s["images"], s["expected"], s["kelm"], s["zbar"], s["kelm_false"], s["zbar_false"]]
    tot = [a + b for a, b in zip(tot, vals)]
    print("| " + " | ".join([sym] + [str(v) for v in vals]) + " |")
print("| " + " | ".join(["all"] + [str(v) for v in tot]) + " |")
for sym in sorted(stats):
    s = stats[sym]
    for who in ("kelm", "zbar"):
        if s[who + "_false_codes"]:
            print(f"{who} false reads on {sym}: {sorted(s[who + '_false_codes'])}")
    if s["zbar_missed"]:
        print(f"zbar missed codes on {sym}: {sorted(s['zbar_missed'])}")
EOF
