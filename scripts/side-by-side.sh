#!/usr/bin/env bash
# Runs the uninstaller side by side on the simulated Windows and on Wine:
# the same described machines laid down on both by the same installer code,
# each described before and after, and the two change lists compared.
#   scripts/side-by-side.sh [MACHINE.json...]   (default: every machine)
# The Wine side runs the machines in $VK_SIDE_SESSIONS Wine sessions at once
# (default 2), each in a prefix of its own.
set -euo pipefail
. "$(dirname "$0")/fixed-layout.sh"
cd "$(dirname "$0")/.."
root=$PWD
work=build/side
sessions=${VK_SIDE_SESSIONS:-2}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

# A configured host build is not configured again: scripts/test.sh runs its
# tests beside this script (its build regenerates itself when a CMakeLists
# changes).
[ -f build/host/CMakeCache.txt ] || cmake --preset host >/dev/null
cmake --build --preset host -j2 --target vk_side vk_machines vk_side_compare >/dev/null
# The runner and its helpers are built beside the 64-bit contract tests, on
# the same library of the product's logic.
cmake --preset wine >/dev/null
cmake --build --preset wine -j2 --target side_programs >/dev/null

mkdir -p "$work/machines"
if [ $# -eq 0 ]; then
    rm -f "$work"/machines/*.json
    build/host/vk_machines "$work/machines" tests/fuzz/corpus/*
    set -- "$work"/machines/*.json
fi
printf '%s\n' "$@" >"$work/list"
[ "$#" -ge "$sessions" ] || sessions=$#
# The same list with Windows paths, for the Wine side, and dealt out to the
# sessions in turn.
for machine in "$@"; do
    echo "Z:$(realpath "$machine" | tr / '\\')"
done >"$work/list.wine"
prefixes=()
for session in $(seq 0 $((sessions - 1))); do
    awk -v n="$sessions" -v i="$session" 'NR % n == i' "$work/list.wine" >"$work/list.wine.$session"
    prefixes+=("$root/$work/prefix$session")
done

start=$(date +%s.%N)
rm -rf "$work/sim" && mkdir -p "$work/sim"
echo "== simulated Windows: $(build/host/vk_side "$work/sim" "@$work/list")"

# Each session works on a fresh copy of the clean prefix, so that nothing an
# earlier run left (an interrupted one among them) is there; it lasts from
# the first laying down to the last reading: a new session would carry out
# the pending deletions. The restart the uninstaller asks for starts
# wineboot.exe, replaced in the copy by a program that records the request
# and ends nothing. Wine's background processes outlive each program and
# write where the session's first program wrote: their own log, apart from
# the runner's. The runner lets each machine settle after its run
# (tests/side/side_run.h, Settle), so that sessions at once, or a busy
# machine, change only how long that takes.
session() {
    export WINEPREFIX=${prefixes[$1]}
    scripts/wine-prefix.sh "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 </dev/null
    wine cmd /c exit >"$work/session.$1.log" 2>&1 </dev/null
    # The simulated machines are Windows XP: the runner sees the same version.
    wine reg add 'HKCU\Software\Wine\AppDefaults\side_run.exe' /v Version /d winxp64 /f \
        >>"$work/session.$1.log" 2>&1 </dev/null
    cp build/wine/fake_wineboot.exe "$WINEPREFIX/drive_c/windows/system32/wineboot.exe"
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n" \
        wine build/wine/side_run.exe "$wout" "@Z:$(realpath "$work/list.wine.$1" | tr / '\\')" \
        >"$work/wine.$1.log" 2>&1 </dev/null
    wineserver -k 2>/dev/null || true
}
rm -rf "$work/wine" && mkdir -p "$work/wine"
wout="Z:$(realpath "$work/wine" | tr / '\\')"
trap 'for p in "${prefixes[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done' EXIT
pids=()
for session in "${!prefixes[@]}"; do
    session "$session" &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || true; done
trap - EXIT
# Each session's last line: "N machines run, M not laid down, T s".
for session in "${!prefixes[@]}"; do tr -d '\r' <"$work/wine.$session.log"; done >"$work/wine.log"
echo "== Wine (64-bit): $(sed -n 's/^\([0-9]*\) machines run, \([0-9]*\) not laid down, \([0-9.]*\) s$/\1 \2 \3/p' \
    "$work/wine.log" | awk -v n="$sessions" '{r += $1; d += $2; if ($3 > t) t = $3}
        END {printf "%d machines run, %d not laid down, %.1f s (%d sessions at once)", r, d, t, n}')"
end=$(date +%s.%N)
echo "== both sides in $(echo "$end - $start" | bc) s"
build/host/vk_side_compare "$work/sim" "$work/wine" "$work/list"
