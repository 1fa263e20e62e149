#!/bin/bash
# Runs a Win32 program under Wine, headless: wine-run.sh DEFAULT_PREFIX PROGRAM [ARGS...].
# The prefix is KELM3_WINEPREFIX when set, else DEFAULT_PREFIX (the toolchain
# file passes one inside the build tree); it is made on first use. Carriage
# returns are dropped from stdout so that tools parsing it (gtest test
# discovery) see Unix lines; the program's exit code is passed through.
default_prefix=${1:?usage: wine-run.sh DEFAULT_PREFIX PROGRAM [ARGS...]}
shift
prefix=${KELM3_WINEPREFIX:-$default_prefix}
if [ ! -f "$prefix/.kelm3-ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    # Two tests started at once must not both build the prefix.
    flock "$prefix.lock" sh "$(dirname "$0")/wine-prefix.sh" "$prefix" || exit 1
fi
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
unset DISPLAY WAYLAND_DISPLAY
wine "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
