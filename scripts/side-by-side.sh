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
# The machines in two halves, each in a prefix and a session of its own, run
# at once: one Wine session runs one machine at a time on one core.
prefixes=("$root/build/side64/prefix" "$root/build/side64/prefix2")
for prefix in "${prefixes[@]}"; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
    cp -a "$clean" "$prefix"
done

start=$(date +%s.%N)
rm -rf "$work/sim" && mkdir -p "$work/sim"
echo "== simulated Windows: $(build/host/vk_side "$work/sim" "@$work/list")"

rm -rf "$work/wine" && mkdir -p "$work/wine"
wout="Z:$(realpath "$work/wine" | tr / '\\')"
awk 'NR % 2 == 1' "$work/list.wine" >"$work/list.wine.0"
awk 'NR % 2 == 0' "$work/list.wine" >"$work/list.wine.1"
trap 'for p in "${prefixes[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done' EXIT
# One session from the first laying down to the last reading: a new session
# would carry out the pending operations of the machine before.
half() {
    export WINEPREFIX=${prefixes[$1]}
    wineserver -p >/dev/null 2>&1 </dev/null
    wine cmd /c exit >"$work/session.$1.log" 2>&1 </dev/null
    wine reg add 'HKCU\Software\Wine\AppDefaults\side_run.exe' /v Version /d winxp64 /f \
        >>"$work/session.$1.log" 2>&1 </dev/null
    cp build/side64/fake_wineboot.exe "$WINEPREFIX/drive_c/windows/system32/wineboot.exe"
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n" \
        wine build/side64/side_run.exe "$wout" "@Z:$(realpath "$work/list.wine.$1" | tr / '\\')" \
        >"$work/wine.$1.log" 2>&1 </dev/null
    wineserver -k 2>/dev/null || true
}
half 0 &
first=$!
half 1 || true
wait "$first" || true
trap - EXIT
# Each half's last line: "N machines run, M not laid down, T s".
echo "== Wine (64-bit): $(cat "$work/wine.0.log" "$work/wine.1.log" | tr -d '\r' |
    sed -n 's/^\([0-9]*\) machines run, \([0-9]*\) not laid down, \([0-9.]*\) s$/\1 \2 \3/p' |
    awk '{r += $1; n += $2; if ($3 > t) t = $3} END {printf "%d machines run, %d not laid down, %.1f s (two at once)", r, n, t}')"
cat "$work/wine.0.log" "$work/wine.1.log" >"$work/wine.log"
end=$(date +%s.%N)
echo "== both sides in $(echo "$end - $start" | bc) s"
build/host/vk_side_compare "$work/sim" "$work/wine" "$work/list"
