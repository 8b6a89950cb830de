#!/usr/bin/env bash
# The release program itself under 32-bit Wine: the typical installed
# machine laid down, build/windows/VkUninst.exe run on it, and its console
# line, exit status and change list checked against the simulator's.
# Where 32-bit Wine cannot run, says so and why, and exits 77 (skipped).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=build/side/exe
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEARCH=win32
unset DISPLAY
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

skip() {
    echo "== the release program under 32-bit Wine: SKIPPED: $1"
    exit 77
}
command -v wine >/dev/null || skip "no wine"
[ -x /usr/lib/wine/wine ] || skip "32-bit Wine (wine32) is not installed"

cmake --preset host >/dev/null
cmake --build --preset host -j2 --target vk_side vk_machines vk_side_compare >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 >/dev/null
cmake -S . -B build/side32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DVK_SIDE_BY_SIDE=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/side32 -j2 >/dev/null

mkdir -p "$work" build/side/machines
machine=build/side/machines/installed.json
[ -f "$machine" ] || build/host/vk_machines build/side/machines >/dev/null

# A clean 32-bit prefix, made once; each run works on a copy of it.
clean=$root/build/side32/prefix.clean
if [ ! -f "$clean/system.reg" ]; then
    rm -rf "$clean"
    WINEPREFIX=$clean wine wineboot -i >/dev/null 2>&1 || skip "a 32-bit prefix cannot be made here"
    WINEPREFIX=$clean wineserver -w
fi
export WINEPREFIX=$root/build/side32/prefix
rm -rf "$WINEPREFIX"
cp -a "$clean" "$WINEPREFIX"

start=$(date +%s.%N)
rm -rf "$work/sim" "$work/wine" && mkdir -p "$work/sim" "$work/wine"
build/host/vk_side "$work/sim" "$machine" >/dev/null

wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >"$work/wine.log" 2>&1 </dev/null
for program in side_run.exe VkUninst.exe; do
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /d winxp /f \
        >>"$work/wine.log" 2>&1 </dev/null
done
cp build/side32/fake_wineboot.exe "$WINEPREFIX/drive_c/windows/system32/wineboot.exe"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n"
wine build/side32/side_run.exe --before "$(winpath "$work/wine")" "$(winpath "$machine")" \
    >>"$work/wine.log" 2>&1 </dev/null
# A GUI-subsystem program's console text reaches only a terminal.
status=0
script -qefc "wine build/windows/VkUninst.exe" /dev/null </dev/null >"$work/console.txt" 2>&1 ||
    status=$?
wine build/side32/side_run.exe --after "$status" "$(winpath "$work/wine")" "$(winpath "$machine")" \
    >>"$work/wine.log" 2>&1 </dev/null
wineserver -k 2>/dev/null || true
trap - EXIT
end=$(date +%s.%N)

# The terminal's own control sequences are not the program's text.
line=$(tr -d '\r' <"$work/console.txt" | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | grep -v '^$' | head -1)
expected=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["console"].rstrip())' \
    "$work/sim/installed.changes.json")
echo "== the release program under 32-bit Wine ($(echo "$end - $start" | bc) s)"
echo "   console: $line"
echo "   exit status: $status"
failed=0
[ "$line" = "$expected" ] || { echo "   console line differs from the simulator's: $expected"; failed=1; }
realpath "$machine" >"$work/list"
build/host/vk_side_compare "$work/sim" "$work/wine" "$work/list" || failed=1
exit $failed
