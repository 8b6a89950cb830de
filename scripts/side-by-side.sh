#!/usr/bin/env bash
# Runs the uninstaller side by side on the simulated Windows and on Wine:
# the same described machines laid down on both by the same installer code,
# each described before and after, and the two change lists compared.
#   scripts/side-by-side.sh [MACHINE.json...]   (default: every machine)
set -euo pipefail
. "$(dirname "$0")/fixed-layout.sh"
cd "$(dirname "$0")/.."
root=$PWD
work=build/side
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

cmake --preset host >/dev/null
cmake --build --preset host -j2 --target vk_side vk_machines vk_side_compare >/dev/null
cmake --preset side64 >/dev/null
cmake --build --preset side64 -j2 >/dev/null

mkdir -p "$work/machines"
if [ $# -eq 0 ]; then
    rm -f "$work"/machines/*.json
    build/host/vk_machines "$work/machines" tests/fuzz/corpus/*
    set -- "$work"/machines/*.json
fi
printf '%s\n' "$@" >"$work/list"
# The same list with Windows paths, for the Wine side.
for machine in "$@"; do
    echo "Z:$(realpath "$machine" | tr / '\\')"
done >"$work/list.wine"

# A clean 64-bit prefix, made once; each run works on a fresh copy of it, so
# that nothing an earlier run left (an interrupted one among them) is there.
clean=$root/build/side64/prefix.clean
if [ ! -f "$clean/system.reg" ]; then
    rm -rf "$clean"
    WINEPREFIX=$clean wine wineboot -i >/dev/null 2>&1
    WINEPREFIX=$clean wineserver -w
fi
export WINEPREFIX=$root/build/side64/prefix
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
cp -a "$clean" "$WINEPREFIX"

start=$(date +%s.%N)
rm -rf "$work/sim" && mkdir -p "$work/sim"
echo "== simulated Windows: $(build/host/vk_side "$work/sim" "@$work/list")"

# One session from the first laying down to the last reading: a new session
# would carry out the pending deletions. The restart the uninstaller asks
# for starts wineboot.exe, replaced in this copy by a program that records
# the request and ends nothing.
# Wine's background processes outlive each program and write where the
# session's first program wrote: their own log, apart from the runner's.
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >"$work/session.log" 2>&1 </dev/null
# The simulated machines are Windows XP: the runner sees the same version.
wine reg add 'HKCU\Software\Wine\AppDefaults\side_run.exe' /v Version /d winxp64 /f \
    >>"$work/session.log" 2>&1 </dev/null
cp build/side64/fake_wineboot.exe "$WINEPREFIX/drive_c/windows/system32/wineboot.exe"
rm -rf "$work/wine" && mkdir -p "$work/wine"
wout="Z:$(realpath "$work/wine" | tr / '\\')"
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n" \
    wine build/side64/side_run.exe "$wout" "@Z:$(realpath "$work/list.wine" | tr / '\\')" \
    >"$work/wine.log" 2>&1 </dev/null
echo "== Wine (64-bit): $(tr -d '\r' <"$work/wine.log" | tail -1)"
wineserver -k 2>/dev/null || true
trap - EXIT
end=$(date +%s.%N)
echo "== both sides in $(echo "$end - $start" | bc) s"
build/host/vk_side_compare "$work/sim" "$work/wine" "$work/list"
