#!/bin/sh
# Makes a headless 32-bit Wine prefix in DIR for the Win32 test programs.
# The null graphics driver lets CreateWindowEx work with no display; it only
# takes effect in a new wineserver session, hence the wait before marking the
# prefix ready. Does nothing when DIR already holds a ready prefix.
set -eu
dir=${1:?usage: wine-prefix.sh DIR}
[ -f "$dir/.kelm3-ready" ] && exit 0
mkdir -p "$dir"
WINEPREFIX=$(cd "$dir" && pwd)
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineboot -u >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
touch "$WINEPREFIX/.kelm3-ready"
