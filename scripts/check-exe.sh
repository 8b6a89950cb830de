#!/usr/bin/env bash
# Checks the real program: a PE32 i386 executable of the GUI subsystem that
# imports from the five system DLLs alone, carries its manifest and version,
# and stays within 16 KiB.
set -euo pipefail
exe=${1:-build/windows/VkUninst.exe}
limit=16384
fail=0
dump=$(i686-w64-mingw32-objdump -p "$exe")

grep -q '^Magic[[:space:]]*010b' <<<"$dump" || { echo "not PE32"; fail=1; }
i686-w64-mingw32-objdump -f "$exe" | grep -q 'architecture: i386' || { echo "not i386"; fail=1; }
grep -q 'Subsystem[[:space:]]*00000002' <<<"$dump" || { echo "not the GUI subsystem"; fail=1; }

dlls=$(grep 'DLL Name:' <<<"$dump" | awk '{print toupper($3)}' | sort | tr '\n' ' ')
allowed="ADVAPI32.DLL KERNEL32.DLL SETUPAPI.DLL SHELL32.DLL USER32.DLL "
[ "$dlls" = "$allowed" ] || { echo "imports from: $dlls (only $allowed allowed)"; fail=1; }

size=$(stat -c %s "$exe")
[ "$size" -le "$limit" ] || { echo "size $size bytes is over $limit"; fail=1; }

manifests=$(i686-w64-mingw32-objdump -s -j .rsrc "$exe" | grep -c 'assembly' || true)
strings -e l "$exe" | grep -q 'Tallowin uninstaller' || { echo "no version resource"; fail=1; }
strings "$exe" | grep -q 'requireAdministrator' || { echo "no manifest asking for administrator rights"; fail=1; }
[ "$(strings "$exe" | grep -c 'urn:schemas-microsoft-com:asm.v3')" -eq 1 ] || { echo "the asm.v3 namespace must be declared once"; fail=1; }
[ "$(strings "$exe" | grep -c '<assembly ')" -eq 1 ] || { echo "more than one manifest"; fail=1; }

echo "VkUninst.exe: $size bytes; imports ${dlls% }"
[ "$fail" -eq 0 ] || { echo "the exe checks failed"; exit 1; }
