#!/usr/bin/env bash
# The release VkUninst.exe under 32-bit Wine on the typical installed machine
# whose class filter lists and service group order also hold names the ANSI
# code page cannot carry (Cyrillic, Greek, CJK, a character outside the BMP):
# each list must lose the product's names only and come back otherwise byte
# for byte as UTF-16, and a list without a product name must stay as it was.
# Where 32-bit Wine cannot run, says so and exits 77 (skipped).
#   scripts/foreign-lists-exe.sh [VkUninst.exe]   (default: the release build)
set -euo pipefail
stage="foreign list entries under 32-bit Wine"
. "$(dirname "$0")/wine32-stage.sh"
work=build/side/foreign

exe=${1:-}
cmake --preset host >/dev/null
cmake --build --preset host -j2 --target vk_machines >/dev/null
if [ -z "$exe" ]; then
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j2 --target VkUninst >/dev/null
    exe=build/windows/VkUninst.exe
fi
cmake --preset side32 >/dev/null
cmake --build --preset side32 -j2 --target side_run fake_wineboot side_service side_server \
    side_plain >/dev/null

rm -rf "$work" && mkdir -p "$work/machines"
build/host/vk_machines "$work/machines" >/dev/null
machine=$work/machines/installed.json

# A prefix of its own, new for each run.
export WINEPREFIX=$root/$work/prefix
wine wineboot -i >/dev/null 2>&1 </dev/null || skip "a 32-bit prefix cannot be made here"
wineserver -w
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k 2>/dev/null || true' EXIT
for program in side_run.exe "$(basename "$exe")"; do
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /d winxp /f \
        >>"$work/wine.log" 2>&1 </dev/null
done
cp build/side32/fake_wineboot.exe "$WINEPREFIX/drive_c/windows/system32/wineboot.exe"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n"
mkdir -p "$work/out"
wine build/side32/side_run.exe --before "$(winpath "$work/out")" "$(winpath "$machine")" \
    >>"$work/wine.log" 2>&1 </dev/null ||
    { echo "== the installed machine could not be laid down:"; tail -5 "$work/wine.log"; exit 1; }

# The lists planted as their UTF-16 bytes, in a file reg.exe imports, and
# what each must be after the run.
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
cls = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class"
order = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\ServiceGroupOrder"
cases = [  # key, value, before, after
    (cls + r"\{4D36E96B-E325-11CE-BFC1-08002BE10318}", "UpperFilters",
     ["kbdclass", "kbdflt\u0436", "DzXpKbdPnp"], ["kbdclass", "kbdflt\u0436"]),
    (cls + r"\{4D36E967-E325-11CE-BFC1-08002BE10318}", "UpperFilters",
     ["\u4e00disk", "DzStore", "PartMgr", "f\U0001F600"], ["\u4e00disk", "PartMgr", "f\U0001F600"]),
    (cls + r"\{4D36E96F-E325-11CE-BFC1-08002BE10318}", "UpperFilters",
     ["mouclass", "\u03a9mega", "\u4e00\u4e01"], ["mouclass", "\u03a9mega", "\u4e00\u4e01"]),
    (order, "List",
     ["System Reserved", "TermService", "\u0392ase", "Multiuser", "\u4e00"],
     ["System Reserved", "\u0392ase", "\u4e00"]),
]
def data(entries):
    return "".join(e + "\0" for e in entries).encode("utf-16-le") + b"\0\0"
with open(work + "/plant.reg", "w", encoding="utf-16") as out:
    out.write("Windows Registry Editor Version 5.00\r\n")
    for key, name, before, _ in cases:
        out.write("\r\n[%s]\r\n\"%s\"=hex(7):%s\r\n" % (key, name, ",".join("%02x" % b for b in data(before))))
with open(work + "/expected.txt", "w") as out:
    for key, name, _, after in cases:
        out.write("%s\t%s\t%s\n" % (key, name, data(after).hex()))
PY
wine reg import "$(winpath "$work/plant.reg")" >>"$work/wine.log" 2>&1 </dev/null

status=0
script -qefc "wine $exe" /dev/null </dev/null >"$work/console.txt" 2>&1 || status=$?
# The machine settles as it would on Windows (side_run.h, Settle) before it is read.
if ! wine build/side32/side_run.exe --settle "$(winpath "$work/out")" "$(winpath "$machine")" \
    >"$work/unsettled.txt" 2>>"$work/wine.log" </dev/null; then
    echo "   still marked for deletion after the bound: $(tr -d '\r' <"$work/unsettled.txt" | paste -sd ' ')"
fi

# Each list as the registry holds it now, read back through reg.exe's export.
failed=0
checked=0
while IFS=$'\t' read -r key name expected; do
    rm -f "$work/export.reg"
    wine reg export "$key" "$(winpath "$work/export.reg")" /y >>"$work/wine.log" 2>&1 </dev/null || true
    got=$(python3 - "$work/export.reg" "$name" <<'PY'
import re, sys
try:
    text = open(sys.argv[1], encoding="utf-16").read()
except OSError:
    print("(no key)"); sys.exit()
text = text.replace("\\\r\n", "").replace("\\\n", "")
found = re.search(r'^"%s"=hex\(7\):([0-9a-f, ]*)$' % re.escape(sys.argv[2]), text, re.M | re.I)
print(found.group(1).replace(",", "").replace(" ", "") if found else "(no value)")
PY
)
    checked=$((checked + 1))
    if [ "$got" = "$expected" ]; then
        echo "   ${key##*\\} $name: byte-exact"
    else
        echo "   ${key##*\\} $name: DIFFERS"
        echo "     expected $expected"
        echo "     got      $got"
        failed=1
    fi
done <"$work/expected.txt"
wineserver -k 2>/dev/null || true
trap - EXIT
echo "== foreign list entries under 32-bit Wine ($exe, exit status $status):" \
    "$checked lists checked, $([ "$failed" -eq 0 ] && echo "all as expected" || echo "some differ")"
exit $failed
