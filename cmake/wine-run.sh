#!/bin/bash
# Runs a Windows program under Wine, headless:
# wine-run.sh [--win64] DEFAULT_PREFIX PROGRAM [ARGS...].
# Without --win64 the program is 32-bit and runs in the prefix
# KELM3_WINEPREFIX when set, else DEFAULT_PREFIX; with --win64 it is 64-bit
# and runs through the 64-bit loader in KELM3_WINEPREFIX64, else
# DEFAULT_PREFIX (the toolchain files pass one inside the build tree). The
# prefix is made on first use. Carriage returns are dropped from stdout so
# that tools parsing it (gtest test discovery) see Unix lines; the program's
# exit code is passed through.
arch=win32
if [ "${1:-}" = --win64 ]; then
    arch=win64
    shift
fi
default_prefix=${1:?usage: wine-run.sh [--win64] DEFAULT_PREFIX PROGRAM [ARGS...]}
shift
if [ $arch = win64 ]; then
    prefix=${KELM3_WINEPREFIX64:-$default_prefix}
    # The wine wrapper would pick the 32-bit loader whenever it is installed.
    wine=${KELM3_WINE64:-/usr/lib/wine/wine64}
    export WINELOADER="$wine"
    prefix_flag=--win64
else
    prefix=${KELM3_WINEPREFIX:-$default_prefix}
    wine=wine
    prefix_flag=
fi
if [ ! -f "$prefix/.kelm3-ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    # Two tests started at once must not both build the prefix.
    flock "$prefix.lock" sh "$(dirname "$0")/wine-prefix.sh" $prefix_flag "$prefix" || exit 1
fi
export WINEPREFIX="$prefix" WINEARCH=$arch WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
unset DISPLAY WAYLAND_DISPLAY
"$wine" "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
