#!/bin/sh
# Makes a headless Wine prefix in DIR for the Windows test programs:
# wine-prefix.sh [--win64] DIR. Without --win64 the prefix is 32-bit, for
# kelm3_32.dll; with it, 64-bit, run by the 64-bit loader alone (so it works
# where the kernel cannot start 32-bit programs). A prefix serves one
# architecture only. The null graphics driver lets CreateWindowEx work with no
# display; it only takes effect in a new wineserver session, hence the wait
# before marking the prefix ready. Does nothing when DIR already holds a ready
# prefix.
set -eu
arch=win32
if [ "${1:-}" = --win64 ]; then
    arch=win64
    shift
fi
dir=${1:?usage: wine-prefix.sh [--win64] DIR}
[ -f "$dir/.kelm3-ready" ] && exit 0
mkdir -p "$dir"
WINEPREFIX=$(cd "$dir" && pwd)
export WINEPREFIX WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ $arch = win64 ]; then
    # The wine wrapper would pick the 32-bit loader whenever it is installed.
    wine=${KELM3_WINE64:-/usr/lib/wine/wine64}
    export WINELOADER="$wine"
else
    wine=wine
fi
"$wine" wineboot -u >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
touch "$WINEPREFIX/.kelm3-ready"
