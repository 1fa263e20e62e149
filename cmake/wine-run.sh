#!/bin/sh
# Runs a Win32 test program under Wine, headless, in the prefix named by
# KELM3_WINEPREFIX (made by tools/ci/wine-prefix.sh), or Wine's default.
[ -n "$KELM3_WINEPREFIX" ] && export WINEPREFIX="$KELM3_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@"
