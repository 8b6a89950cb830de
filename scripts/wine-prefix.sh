#!/usr/bin/env bash
# Makes DEST a fresh Wine prefix: a copy of a clean one, booted once per
# architecture (build/wine-clean/win64 or win32) and kept for the next copy,
# so that the Wine stages start from the same clean machine without booting
# Wine for each. Whatever DEST held goes, its session first.
#   scripts/wine-prefix.sh DEST [win64|win32]   (default win64)
set -euo pipefail
. "$(dirname "$0")/fixed-layout.sh"
dest=$1
arch=${2:-win64}
root=$(cd "$(dirname "$0")/.." && pwd)
clean=$root/build/wine-clean/$arch
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$(dirname "$clean")"
exec 9>"$clean.lock"
flock 9
if [ ! -f "$clean/system.reg" ]; then
    # Made aside and moved into place, so that a clean prefix is never half made.
    rm -rf "$clean" "$clean.new"
    WINEPREFIX=$clean.new WINEARCH=$arch wine wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    WINEPREFIX=$clean.new wineserver -w 9>&-
    [ -f "$clean.new/system.reg" ] || { echo "wine-prefix.sh: wineboot could not make a $arch prefix" >&2; exit 1; }
    mv "$clean.new" "$clean"
fi
exec 9>&-

[ ! -f "$dest/system.reg" ] || WINEPREFIX=$(cd "$dest" && pwd) wineserver -k 2>/dev/null || true
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
cp -a "$clean" "$dest"
