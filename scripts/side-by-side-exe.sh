#!/usr/bin/env bash
# The release programs themselves under 32-bit Wine: the typical installed
# machine laid down, build/windows/VkUninst.exe run on it, and its console
# line, exit status and change list checked against the simulator's.
# VkCheck.exe on the same machine: its reading leaves the registry as it was,
# byte for byte; its preview is the change list the real run then gives;
# after the restart verify finds nothing, and with each kind of leftover
# planted it exits with the right status and names it.
# Where 32-bit Wine cannot run, says so and why, and exits 77 (skipped).
set -euo pipefail
. "$(dirname "$0")/fixed-layout.sh"
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
cmake --preset side32 >/dev/null
cmake --build --preset side32 -j2 >/dev/null

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
for program in side_run.exe VkUninst.exe VkCheck.exe; do
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /d winxp /f \
        >>"$work/wine.log" 2>&1 </dev/null
done
cp build/side32/fake_wineboot.exe "$WINEPREFIX/drive_c/windows/system32/wineboot.exe"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n"
wine build/side32/side_run.exe --before "$(winpath "$work/wine")" "$(winpath "$machine")" \
    >>"$work/wine.log" 2>&1 </dev/null

# VkCheck before the run, between two exports of the whole registry.
vkcheck() { wine build/windows/VkCheck.exe "$@" 2>>"$work/wine.log" </dev/null; }
export_registry() { wine regedit /E "$(winpath "$1")" >>"$work/wine.log" 2>&1 </dev/null; }
export_registry "$work/registry.before"
vkcheck snapshot "$(winpath "$work/snapshot.json")" || true
preview_status=0
vkcheck preview --json >"$work/preview.json" || preview_status=$?
vkcheck verify >"$work/verify.before.txt" || true
vkcheck detect >"$work/detect.txt" || true
export_registry "$work/registry.after"
# The figures: each program's time from start to end, the median of five,
# against a program that does nothing.
median_ms() {
    for _ in 1 2 3 4 5; do
        local t0 t1
        t0=$(date +%s%N)
        wine "$@" >"$work/figure.out" 2>&1 </dev/null || true
        t1=$(date +%s%N)
        echo $(((t1 - t0) / 1000000))
    done | sort -n | sed -n 3p
}
{
    echo "empty $(median_ms build/side32/empty_program.exe)"
    echo "preview $(median_ms build/windows/VkCheck.exe preview)"
    echo "verify $(median_ms build/windows/VkCheck.exe verify)"
    echo "snapshot-bytes $(stat -c %s "$work/snapshot.json")"
} >"$work/figures.txt"
# A GUI-subsystem program's console text reaches only a terminal.
status=0
script -qefc "wine build/windows/VkUninst.exe" /dev/null </dev/null >"$work/console.txt" 2>&1 ||
    status=$?
wine build/side32/side_run.exe --after "$status" "$(winpath "$work/wine")" "$(winpath "$machine")" \
    >>"$work/wine.log" 2>&1 </dev/null
# Windows deletes a service marked for deletion when it starts again; Wine
# keeps the mark only while its service manager runs, and deletes the
# service when its program ends. The programs of services that refused to
# stop end here, as every program does when Windows shuts down.
python3 - "$work/snapshot.json" <<'PY' >"$work/stubborn.txt"
import json, sys
machine = json.load(open(sys.argv[1]))
images = {k["path"].split("\\")[-1].upper(): v.get("text", "")
          for k in machine["registry"] for v in k["values"] if v["name"] == "ImagePath"}
for service in machine["services"]:
    if service["program"] == "refuses stop":
        print(images.get(service["name"].upper(), "").split("\\")[-1])
PY
while read -r image; do
    [ -z "$image" ] || wine taskkill /f /im "$image" >>"$work/wine.log" 2>&1 </dev/null || true
done <"$work/stubborn.txt"
sleep 1
wineserver -k 2>/dev/null || true
trap - EXIT
end=$(date +%s.%N)

# The restart: Wine's own wineboot carries out the pending operations.
cp "$clean/drive_c/windows/system32/wineboot.exe" "$WINEPREFIX/drive_c/windows/system32/"
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES%;wineboot.exe=n}
wine wineboot -r >>"$work/wine.log" 2>&1 </dev/null
wineserver -w
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k 2>/dev/null || true' EXIT
verify_status=0
vkcheck verify >"$work/verify.after.txt" || verify_status=$?
vkcheck snapshot "$(winpath "$work/restarted.json")" || true
wineserver -k 2>/dev/null || true

# Each kind of leftover planted on the restarted machine in turn, the
# machine put back between them (its registry and the product's folder).
saved=$work/restarted
rm -rf "$saved" "$work/plants" && mkdir -p "$saved" "$work/plants"
cp "$WINEPREFIX"/*.reg "$saved/"
product="$WINEPREFIX/drive_c/Program Files/Tallowin"
[ ! -d "$product" ] || cp -a "$product" "$saved/product"
python3 tests/side/plants.py "$work/restarted.json" "$work/plants"
: >"$work/plants.result"
while read -r kind expected text; do
    cp "$saved"/*.reg "$WINEPREFIX/"
    rm -rf "$product"
    [ ! -d "$saved/product" ] || cp -a "$saved/product" "$product"
    wineserver -p >/dev/null 2>&1 </dev/null
    planted=0
    wine build/side32/side_run.exe --lay "$(winpath "$work/plants/$kind.json")" \
        >>"$work/wine.log" 2>&1 </dev/null || planted=$?
    got=0
    vkcheck verify >"$work/plants/$kind.txt" || got=$?
    named=no
    grep -qF "$text" "$work/plants/$kind.txt" && named=yes
    echo "$kind $expected $got $named $planted" >>"$work/plants.result"
    wineserver -k 2>/dev/null || true
done <"$work/plants/plants.txt"

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

echo "== VkCheck.exe under 32-bit Wine on the same machine"
if cmp -s "$work/registry.before" "$work/registry.after"; then
    echo "   registry before and after snapshot, preview, verify and detect: byte-identical ($(stat -c %s "$work/registry.before") bytes exported)"
else
    echo "   the registry changed while VkCheck ran:"
    diff "$work/registry.before" "$work/registry.after" | head -20
    failed=1
fi
echo "   detect: $(cat "$work/detect.txt")"
grep -q 'Tallowin is installed' "$work/detect.txt" || { echo "   detect did not see the product"; failed=1; }
# The typical machine's run leaves every device able to start.
[ "$preview_status" -eq 0 ] || { echo "   preview gave $preview_status, not 0"; failed=1; }
awk '$1 == "empty" {e = $2} $1 == "preview" || $1 == "verify" {
         printf "   %s: %d ms against %d ms for a program that does nothing (%d ms of its own, %.1f times)\n", $1, $2, e, $2 - e, $2 / e }
     $1 == "snapshot-bytes" { printf "   snapshot of the installed machine: %d bytes\n", $2 }' "$work/figures.txt"
# The preview's changes in the form the comparison reads, against the real run's.
mkdir -p "$work/preview"
python3 - "$work/preview.json" "$work/preview/installed.changes.json" <<'PY'
import json, sys
preview = json.load(open(sys.argv[1]))
json.dump({"changes": preview["changes"], "result": preview["uninstallerResult"]},
          open(sys.argv[2], "w"), indent=1)
PY
echo "   preview (exit status $preview_status) against the real run:"
build/host/vk_side_compare "$work/preview" "$work/wine" "$work/list" | sed 's/^/   /' || failed=1
[ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
echo "   verify after the restart: exit status $verify_status"
[ "$verify_status" -eq 0 ] || { sed 's/^/     /' "$work/verify.after.txt"; failed=1; }
# A Unix process's exit status is a byte: Windows' 3010 reaches this shell as 194.
echo "   verify with one leftover planted (kind: expected status, status, named):"
while read -r kind expected got named planted; do
    verdict=ok
    if [ "$planted" -ne 0 ]; then
        verdict="NOT PLANTED"
    elif [ "$got" -ne $((expected % 256)) ] || [ "$named" != yes ]; then
        verdict=WRONG
    fi
    echo "     $kind: $expected, $got, $named: $verdict"
    [ "$verdict" = ok ] || { sed 's/^/       /' "$work/plants/$kind.txt"; failed=1; }
done <"$work/plants.result"
exit $failed
