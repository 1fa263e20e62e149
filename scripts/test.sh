#!/usr/bin/env bash
# Runs every test of kelm3 from a clean checkout: installs missing build tools
# (Debian, as root), then builds and tests the Linux library (release and
# ASan+UBSan), the Win32 DLL under Wine in a throw-away prefix, an installed
# copy through a separate consumer project, and a short fuzzing pass. Where the
# kernel cannot run 32-bit programs, the Win32 DLL and its test programs are
# only built, and the same sources built as a 64-bit DLL run their API tests
# under 64-bit Wine instead.
# Usage: bash scripts/test.sh      (KELM3_FUZZ_SECONDS overrides the 60 s per fuzz target)
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$(pwd)
FUZZ_SECONDS=${KELM3_FUZZ_SECONDS:-60}
START=$(date +%s)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kelm3-test.XXXXXX")
export KELM3_WINEPREFIX="$WORK/wineprefix"
# A Wine prefix serves one architecture: the 64-bit build gets its own.
export KELM3_WINEPREFIX64="$WORK/wineprefix64"
# Each platform's API tests save bitmaps here and compare them, byte for byte,
# with what the other platform saved.
export KELM3_INTEROP_DIR="$WORK/interop"
mkdir -p "$KELM3_INTEROP_DIR"

declare -a RESULTS=()
FAILED=0

log() { printf '\n=== %s\n' "$*"; }

cleanup() {
    local prefix
    for prefix in "$KELM3_WINEPREFIX" "$KELM3_WINEPREFIX64"; do
        if [ -d "$prefix" ]; then
            WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
            WINEPREFIX="$prefix" wineserver -w >/dev/null 2>&1 || true
        fi
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

# step NAME COMMAND...: runs one step, records its outcome and duration.
step() {
    local name=$1 t0 rc
    shift
    log "$name"
    t0=$(date +%s)
    "$@"
    rc=$?
    local secs=$(($(date +%s) - t0))
    LAST_SECS=$secs
    if [ $rc -eq 0 ]; then
        RESULTS+=("$(printf '%-28s ok      %4ds' "$name" "$secs")")
    else
        RESULTS+=("$(printf '%-28s FAILED  %4ds (exit %d)' "$name" "$secs" "$rc")")
        FAILED=$((FAILED + 1))
    fi
    return $rc
}

skip() {
    log "$1: skipped ($2)"
    RESULTS+=("$(printf '%-28s skipped (%s)' "$1" "$2")")
}

# built NAME WHAT_IS_SKIPPED REASON COMMAND...: a step whose programs are built
# (a failure to compile or link fails it) but cannot be run on this machine.
built() {
    local name=$1 what=$2 reason=$3
    shift 3
    step "$name" "$@" || return 1
    log "$name: built; $what skipped ($reason)"
    RESULTS[${#RESULTS[@]} - 1]=$(printf '%-28s built   %4ds, %s skipped (%s)' "$name" "$LAST_SECS" "$what" "$reason")
}

# ---------------------------------------------------------------------------
# Tools. Only what is missing is installed, with one apt-get update.
PACKAGES=(cmake g++ make libgtest-dev libbenchmark-dev pkg-config clang libclang-rt-14-dev
          libspng-dev imagemagick g++-mingw-w64-i686-posix wine wine32:i386
          g++-mingw-w64-x86-64-posix wine64)
# Barcodes: zint renders the test symbols, zbar-tools is the reader compared in bench/.
PACKAGES+=(zint zbar-tools)
# Device output: Ghostscript renders the printer road's PostScript in the tests.
PACKAGES+=(ghostscript)
# TWAIN on Linux: SANE devices as sources, and scanimage for the comparison.
PACKAGES+=(libsane1 libsane-dev sane-utils)
# Metafiles: libwmf's wmf2svg reads the turned WMF files independently.
PACKAGES+=(libwmf-bin python3)

install_tools() {
    local missing=() p
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        echo "all build tools present"
        return 0
    fi
    echo "missing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "not root: install them first (apt-get install ${missing[*]})"
        return 1
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 || return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq || return 1
    apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

# ---------------------------------------------------------------------------
# Build and test one preset.
preset() {
    local p=$1
    cmake --preset "$p" && cmake --build --preset "$p" && ctest --preset "$p" | tee "$WORK/ctest-$p.log"
}

# Adds up what every ctest run reported, for the closing line.
ctest_totals() {
    cat "$WORK"/ctest-*.log 2>/dev/null | awk '
        /tests passed, [0-9]+ tests? failed out of/ {
            for (i = 1; i <= NF; i++) if ($i == "of") total += $(i + 1)
            for (i = 1; i <= NF; i++) if ($i == "failed") { failed += $(i - 2) }
        }
        END { printf "%d passed, %d failed\n", total - failed, failed }'
}

# Whether 32-bit Windows programs can run here: 32-bit Wine needs a kernel that
# runs 32-bit Linux programs, which some kernels are built without ("Exec
# format error"). Asking the 32-bit loader for its version starts no
# wineserver and cannot wait on anything; the timeout guards it all the same.
# bash's exec, unlike timeout's own, never falls back to reading a binary it
# cannot start as a shell script.
WIN32_LOADER=/usr/lib/wine/wine
win32_can_run() {
    local out
    out=$(timeout -k 5 30 bash -c 'exec "$0" --version' "$WIN32_LOADER" 2>&1)
    local rc=$?
    if [ $rc -eq 0 ] && [[ $out == wine-* ]]; then
        echo "32-bit Wine runs: $out"
        return 0
    fi
    echo "32-bit Wine does not run (exit $rc): $(head -1 <<<"$out")"
    return 1
}

win32() {
    sh cmake/wine-prefix.sh "$KELM3_WINEPREFIX" || { echo "cannot make a Wine prefix"; return 1; }
    preset win32-release
}

# Where 32-bit programs cannot run: the DLL, its import library and the test
# programs must still compile and link.
win32_build() {
    cmake --preset win32-release && cmake --build --preset win32-release
}

# The same sources as a 64-bit DLL, tested under 64-bit Wine: the Win32
# memory, file and resource functions are the real ones there too.
win64() {
    sh cmake/wine-prefix.sh --win64 "$KELM3_WINEPREFIX64" || { echo "cannot make a 64-bit Wine prefix"; return 1; }
    preset win64-release
}

# The Linux build reads and compares the files the Win32 build saved (the
# Win32 run already compared against the Linux files).
interop() {
    local out
    out=$(build/linux-release/tests/kelm3_api_tests --gtest_filter='BmpInterop.*' 2>&1)
    local rc=$?
    echo "$out" | tail -5
    if grep -q '\[  SKIPPED \]' <<<"$out"; then
        echo "no Win32 files to compare with"
        return 1
    fi
    return $rc
}

# ---------------------------------------------------------------------------
# An installed copy used from an independent project.
consumer_linux() {
    local inst="$WORK/install-linux" rc=0
    cmake --install build/linux-release --prefix "$inst" >/dev/null || return 1
    echo "-- through find_package(kelm3)"
    cmake -S tests/consumer -B "$WORK/consumer-cmake" -DCMAKE_PREFIX_PATH="$inst" >/dev/null &&
        cmake --build "$WORK/consumer-cmake" &&
        "$WORK/consumer-cmake/kelm3_consumer" || rc=1
    echo "-- through pkg-config"
    PKG_CONFIG_PATH="$inst/lib/pkgconfig" cmake -S tests/consumer -B "$WORK/consumer-pc" \
        -DKELM3_CONSUMER_PKGCONFIG=ON >/dev/null &&
        cmake --build "$WORK/consumer-pc" &&
        "$WORK/consumer-pc/kelm3_consumer" || rc=1
    return $rc
}

consumer_win32_build() {
    local inst="$WORK/install-win32" out="$WORK/consumer-win32"
    cmake --install build/win32-release --prefix "$inst" >/dev/null || return 1
    mkdir -p "$out" && cp "$inst/bin/kelm3_32.dll" "$out/" || return 1
    i686-w64-mingw32-gcc-posix -std=c99 -pedantic-errors -Wall -Wextra -Werror -O2 -static \
        -I"$inst/include" tests/consumer/main.c -L"$inst/lib" -lkelm3_32 -o "$out/kelm3_consumer.exe"
}

consumer_win32() {
    consumer_win32_build || return 1
    sh cmake/wine-prefix.sh "$KELM3_WINEPREFIX" || return 1
    cmake/wine-run.sh "$KELM3_WINEPREFIX" "$WORK/consumer-win32/kelm3_consumer.exe"
}

# ---------------------------------------------------------------------------
# Every fuzz target for FUZZ_SECONDS on a copy of its seed corpus, two at a time.
fuzz() {
    cmake --preset linux-fuzz && cmake --build --preset linux-fuzz || return 1
    local targets=() t
    while IFS= read -r t; do targets+=("$t"); done < <(
        find build/linux-fuzz -path '*/CMakeFiles' -prune -o -type f -name 'fuzz_*' -perm -u+x -print | sort)
    if [ ${#targets[@]} -eq 0 ]; then
        echo "fuzz/CMakeLists.txt defines no fuzz_* programs"
        return 1
    fi
    local artifacts="$ROOT/build/linux-fuzz/artifacts" pids=() names=() rc=0 i
    mkdir -p "$artifacts"
    for t in "${targets[@]}"; do
        local name corpus
        name=$(basename "$t")
        corpus="$WORK/corpus-$name"
        mkdir -p "$corpus"
        if [ -d "fuzz/corpus/$name" ]; then
            cp -r "fuzz/corpus/$name/." "$corpus/"
        else
            echo "warning: no seed corpus fuzz/corpus/$name"
        fi
        echo "-- $name: ${FUZZ_SECONDS}s on $(find "$corpus" -type f | wc -l) seeds"
        local dict=()
        [ -f fuzz/boundary.dict ] && dict=(-dict=fuzz/boundary.dict)
        "$t" "${dict[@]}" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="$artifacts/$name-" "$corpus" >"$WORK/fuzz-$name.log" 2>&1 &
        pids+=($!)
        names+=("$name")
        if [ ${#pids[@]} -ge 2 ]; then
            wait "${pids[0]}" || { rc=1; echo "$(basename "${names[0]}") FAILED"; tail -40 "$WORK/fuzz-${names[0]}.log"; }
            pids=("${pids[@]:1}")
            names=("${names[@]:1}")
        fi
    done
    for i in "${!pids[@]}"; do
        wait "${pids[$i]}" || { rc=1; echo "${names[$i]} FAILED"; tail -40 "$WORK/fuzz-${names[$i]}.log"; }
    done
    for t in "${targets[@]}"; do
        name=$(basename "$t")
        echo "-- $name: $(grep -E 'stat::number_of_executed_units' "$WORK/fuzz-$name.log" | tr -s ' ') "
    done
    [ $rc -eq 0 ] || echo "crash inputs are kept in $artifacts"
    return $rc
}

# ---------------------------------------------------------------------------
[ -d ../shared/corpus ] || echo "warning: ../shared/corpus not found beside the source tree; corpus tests will fail or skip"

if step "tools" install_tools; then
    if step "linux-release" preset linux-release; then
        step "consumer (Linux)" consumer_linux
    else
        skip "consumer (Linux)" "linux-release failed"
    fi
    step "linux-asan" preset linux-asan
    log "can 32-bit Windows programs run here?"
    if win32_can_run; then
        if step "win32-release (Wine)" win32; then
            step "consumer (Win32, Wine)" consumer_win32
            step "files Win32 -> Linux" interop
        else
            skip "consumer (Win32, Wine)" "win32-release failed"
            skip "files Win32 -> Linux" "win32-release failed"
        fi
    else
        no32="this kernel cannot run 32-bit programs"
        if built "win32-release (build)" tests "$no32" win32_build; then
            built "consumer (Win32, build)" run "$no32" consumer_win32_build
        else
            skip "consumer (Win32, build)" "win32-release failed"
        fi
        skip "files Win32 -> Linux" "$no32"
        step "win64-release (Wine 64)" win64
    fi
    if [ -f fuzz/CMakeLists.txt ]; then
        step "fuzz smoke" fuzz
    else
        skip "fuzz smoke" "no fuzz/CMakeLists.txt yet"
    fi
fi

TOTAL=$(($(date +%s) - START))
log "summary"
printf '%s\n' "${RESULTS[@]}"
if [ $FAILED -eq 0 ]; then
    printf 'kelm3 tests: PASSED (%d:%02d)\n' $((TOTAL / 60)) $((TOTAL % 60))
else
    printf 'kelm3 tests: FAILED, %d step(s) (%d:%02d)\n' "$FAILED" $((TOTAL / 60)) $((TOTAL % 60))
fi
# Last, the plain tally of every ctest run.
echo "ctest: $(ctest_totals)"
[ $FAILED -eq 0 ]
