#!/usr/bin/env bash
# Checks a real program.
#   VkUninst.exe: a PE32 i386 executable of the GUI subsystem that imports
#   from the five system DLLs alone, carries its manifest and version, and
#   stays within 12 KiB.
#   VkCheck.exe: a PE32 i386 console program that imports from Windows' own
#   DLLs alone and nothing Windows XP lacks.
set -euo pipefail
exe=${1:-build/windows/VkUninst.exe}
fail=0
dump=$(i686-w64-mingw32-objdump -p "$exe")

grep -q '^Magic[[:space:]]*010b' <<<"$dump" || { echo "not PE32"; fail=1; }
i686-w64-mingw32-objdump -f "$exe" | grep -q 'architecture: i386' || { echo "not i386"; fail=1; }
dlls=$(grep 'DLL Name:' <<<"$dump" | awk '{print toupper($3)}' | sort | tr '\n' ' ')
size=$(stat -c %s "$exe")

if [ "$(basename "$exe")" = VkCheck.exe ]; then
    grep -q 'Subsystem[[:space:]]*00000003' <<<"$dump" || { echo "not the console subsystem"; fail=1; }
    for dll in $dlls; do
        case $dll in
        ADVAPI32.DLL | KERNEL32.DLL | MSVCRT.DLL | SETUPAPI.DLL | SHELL32.DLL | USER32.DLL) ;;
        *) echo "imports from $dll, which is not one of Windows' own"; fail=1 ;;
        esac
    done
    # What the runtime may pull in that Windows XP (or, for GetModuleHandleEx, 2000) lacks.
    names=$(awk '/DLL Name:/ {in_table=1} in_table && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3}' <<<"$dump")
    past_xp=$(grep -E '^(GetTickCount64|GetModuleHandleEx[AW]|(Initialize|Sleep|Wake|WakeAll)ConditionVariable.*|(Initialize|Acquire|Release|TryAcquire)SRWLock.*|InitOnce.*|Fls(Alloc|Free|GetValue|SetValue)|GetSystemTimePreciseAsFileTime|CreateSymbolicLink.*|GetFinalPathNameByHandle.*)$' <<<"$names" | tr '\n' ' ' || true)
    [ -z "$past_xp" ] || { echo "imports what Windows XP lacks: $past_xp"; fail=1; }
    # Nothing that changes a machine is linked in: no function that writes
    # the registry, services, devices, files or the token, or restarts.
    writes=$(grep -E '^(Reg(Set|Create|Delete|Flush|Save|Restore|Replace|Load|Unload)[A-Za-z]*|(Create|Delete|Change|Control|Start)Service[A-Za-z0-9]*|SetupDi(CallClassInstaller|Set|Register|Create|Remove|Delete|Install|Change)[A-Za-z]*|(Move|Delete|Copy|Replace|Write)File[A-Za-z]*|(Remove|Create)Directory[A-Za-z]*|SetFileAttributes[A-Za-z]*|ExitWindowsEx|InitiateSystemShutdown[A-Za-z]*|AdjustTokenPrivileges)$' <<<"$names" | tr '\n' ' ' || true)
    [ -z "$writes" ] || { echo "imports what changes a machine: $writes"; fail=1; }
    echo "VkCheck.exe: $size bytes; imports ${dlls% }"
    [ "$fail" -eq 0 ] || { echo "the exe checks failed"; exit 1; }
    exit 0
fi

limit=12288
grep -q 'Subsystem[[:space:]]*00000002' <<<"$dump" || { echo "not the GUI subsystem"; fail=1; }
allowed="ADVAPI32.DLL KERNEL32.DLL SETUPAPI.DLL SHELL32.DLL USER32.DLL "
[ "$dlls" = "$allowed" ] || { echo "imports from: $dlls (only $allowed allowed)"; fail=1; }
[ "$size" -le "$limit" ] || { echo "size $size bytes is over $limit"; fail=1; }

strings -e l "$exe" | grep -q 'Tallowin uninstaller' || { echo "no version resource"; fail=1; }
strings "$exe" | grep -q 'requireAdministrator' || { echo "no manifest asking for administrator rights"; fail=1; }
[ "$(strings "$exe" | grep -c 'urn:schemas-microsoft-com:asm.v3')" -eq 1 ] || { echo "the asm.v3 namespace must be declared once"; fail=1; }
[ "$(strings "$exe" | grep -c '<assembly ')" -eq 1 ] || { echo "more than one manifest"; fail=1; }

echo "VkUninst.exe: $size bytes; imports ${dlls% }"
[ "$fail" -eq 0 ] || { echo "the exe checks failed"; exit 1; }
