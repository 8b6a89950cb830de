#!/usr/bin/env bash
# Runs a Windows program under Wine: the emulator of the Windows test builds
# (CMAKE_CROSSCOMPILING_EMULATOR), usable by hand as well.
#
#   scripts/wine-run.sh PROGRAM [ARGS...]
#
# - The Wine is picked by PROGRAM's PE header: PE32+ runs under 64-bit Wine,
#   PE32 under 32-bit Wine (wine32:i386), which this script refuses with exit
#   status 127 where it is not installed.
# - The prefix is $VK_WINEPREFIX, or else `wineprefix` in the build folder
#   that holds PROGRAM (the nearest folder above it with a CMakeCache.txt, or
#   PROGRAM's own folder). It is made once, under a lock, as a 64-bit prefix
#   for a PE32+ program and a 32-bit one for a PE32 program ($VK_WINEARCH,
#   win64 or win32, overrides that).
# - A new Wine session (its wineserver, services and device manager) is
#   started apart from our standard output and error, so that a caller
#   reading them through a pipe (CTest) does not wait for those background
#   processes to end. The session outlives the last program by
#   $VK_WINE_PERSIST seconds (default 10). A new session carries out
#   "PendingFileRenameOperations".
# - PROGRAM's exit status is passed through.
# - Address-space randomisation is off for the session and PROGRAM
#   (scripts/fixed-layout.sh says why).
#
# Programs sharing a prefix share one machine: run them one at a time.
set -euo pipefail
. "$(dirname "$0")/fixed-layout.sh"

[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
program=$1
shift
[ -f "$program" ] || { echo "wine-run.sh: no such program: $program" >&2; exit 127; }

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
unset DISPLAY WAYLAND_DISPLAY

# The PE optional header's magic: 0x10b for PE32, 0x20b for PE32+.
pe_offset=$(od -An -tu4 -j60 -N4 "$program" | tr -d ' ')
signature=$(od -An -c -j"$pe_offset" -N2 "$program" | tr -d ' ')
magic=$(od -An -tu2 -j$((pe_offset + 24)) -N2 "$program" | tr -d ' ')
[ "$signature" = PE ] || { echo "wine-run.sh: not a PE program: $program" >&2; exit 127; }
case $magic in
523) wine=/usr/lib/wine/wine64 arch=win64 ;;
267) wine=/usr/lib/wine/wine arch=win32 ;;
*) echo "wine-run.sh: unknown PE magic $magic: $program" >&2; exit 127 ;;
esac
if [ ! -x "$wine" ]; then
    echo "wine-run.sh: $program needs $wine, which is not installed" \
        "(64-bit: wine64; 32-bit: wine32:i386)" >&2
    exit 127
fi
for server in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver32; do
    [ -x "$server" ] && break
done

if [ -z "${VK_WINEPREFIX:-}" ]; then
    dir=$(cd "$(dirname "$program")" && pwd)
    build=$dir
    while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do
        build=$(dirname "$build")
    done
    [ -f "$build/CMakeCache.txt" ] || build=$dir
    VK_WINEPREFIX=$build/wineprefix
fi
export WINEPREFIX=$VK_WINEPREFIX

exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rmdir "$WINEPREFIX" 2>/dev/null || true
    if [ -e "$WINEPREFIX" ]; then
        echo "wine-run.sh: $WINEPREFIX is there but is no Wine prefix; leaving it" >&2
        exit 127
    fi
    # Made aside and moved into place, so that a prefix is never half made.
    fresh=$WINEPREFIX.new
    rm -rf "$fresh"
    WINEPREFIX=$fresh WINEARCH=${VK_WINEARCH:-$arch} "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    WINEPREFIX=$fresh "$server" -w 9>&-
    [ -f "$fresh/system.reg" ] || { echo "wine-run.sh: wineboot could not make $fresh" >&2; exit 127; }
    mv "$fresh" "$WINEPREFIX"
fi
# Exit status 0: no session was running and this one is new. Its first
# program starts the session's background processes, which keep the
# handles they inherit, the lock's among them.
if "$server" -p"${VK_WINE_PERSIST:-10}" </dev/null >/dev/null 2>&1 9>&-; then
    setsid "$wine" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 9>&- || true
fi
exec 9>&-

exec "$wine" "$program" "$@"
