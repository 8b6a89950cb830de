#!/usr/bin/env bash
# The release uninstaller under 32-bit Wine, started from a folder that is
# not the product's (as fleets start it, from a distribution cache), on the
# installed machine, where VkUsbMmc.dll imports vkclass.dll and vkclass.dll
# lies only beside it in the product folder. First the uninstaller as it was
# before the commit that made it load servers with the altered search path
# (it loads each server by full path alone), then build/windows/VkUninst.exe: the first must leave VkUsbMmc.dll registered
# (its import is looked for beside the uninstaller), the second must have
# all six servers unregister, in the catalogue's order, and otherwise change
# what the simulator's run changes. Where 32-bit Wine cannot run, says so
# and why, and exits 77 (skipped).
set -euo pipefail
stage="servers beside them, the release program from another folder"
. "$(dirname "$0")/wine32-stage.sh"
work=$root/build/servers-beside

# The commit before the one that took LoadLibraryA out of the server step.
change=$(git log -1 --format=%H -S'Win::LoadLibraryA((const char*)path)' -- src/steps/component_files.cpp)
[ -n "$change" ] || { echo "no commit in this history loads servers with LoadLibraryA"; exit 1; }
base=$(git rev-parse "$change^")
cmake --preset host >/dev/null
cmake --build --preset host -j2 --target vk_side vk_machines vk_side_compare >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target VkUninst >/dev/null
cmake --preset side32 >/dev/null
cmake --build --preset side32 -j2 >/dev/null
# The uninstaller as it was before it loaded servers with the altered search path.
old=$work/old-source
if [ "$(cat "$old/commit" 2>/dev/null)" != "$base" ]; then
    rm -rf "$old" && mkdir -p "$old"
    git archive "$base" | tar -x -C "$old"
    echo "$base" >"$old/commit"
fi
(cd "$old" && cmake --preset windows >/dev/null && cmake --build --preset windows -j2 \
    --target VkUninst >/dev/null)

rm -rf "$work/machines" "$work/sim" && mkdir -p "$work/machines" "$work/sim"
build/host/vk_machines "$work/machines" >/dev/null
machine=$work/machines/installed.json
build/host/vk_side "$work/sim" "$machine" >/dev/null
grep -q '"vkclass.dll"' "$machine" || { echo "the installed machine has no server importing vkclass.dll"; exit 1; }

clean=$root/build/side32/prefix.clean
if [ ! -f "$clean/system.reg" ]; then
    rm -rf "$clean"
    WINEPREFIX=$clean wine wineboot -i >/dev/null 2>&1 || skip "a 32-bit prefix cannot be made here"
    WINEPREFIX=$clean wineserver -w
fi

# One machine laid down, the uninstaller copied to C:\Cache and started
# there, the machine described after it; OUT gets both descriptions, the
# changes and the console text.
run() {
    local exe=$1 out=$2
    rm -rf "$out" && mkdir -p "$out"
    export WINEPREFIX=$work/prefix
    rm -rf "$WINEPREFIX"
    cp -a "$clean" "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1 </dev/null
    trap 'wineserver -k 2>/dev/null || true' EXIT
    wine cmd /c exit >>"$out/wine.log" 2>&1 </dev/null
    for program in side_run.exe VkUninst.exe; do
        wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /d winxp /f \
            >>"$out/wine.log" 2>&1 </dev/null
    done
    cp build/side32/fake_wineboot.exe "$WINEPREFIX/drive_c/windows/system32/wineboot.exe"
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n" \
        wine build/side32/side_run.exe --before "$(winpath "$out")" "$(winpath "$machine")" \
        >>"$out/wine.log" 2>&1 </dev/null
    mkdir -p "$WINEPREFIX/drive_c/Cache"
    cp "$exe" "$WINEPREFIX/drive_c/Cache/VkUninst.exe"
    local status=0
    # A GUI-subsystem program's console text reaches only a terminal.
    (cd "$WINEPREFIX/drive_c/Cache" &&
        WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n" \
            script -qefc "wine 'C:\\Cache\\VkUninst.exe'" /dev/null </dev/null \
            >"$out/console.txt" 2>&1) || status=$?
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wineboot.exe=n" \
        wine build/side32/side_run.exe --after "$status" "$(winpath "$out")" "$(winpath "$machine")" \
        >>"$out/wine.log" 2>&1 </dev/null
    wineserver -k 2>/dev/null || true
    trap - EXIT
}

# The servers whose DllUnregisterServer ran, in order, by file name.
unregistered() {
    python3 -c 'import json, sys
for path in json.load(open(sys.argv[1])).get("unregistered", []):
    print(path.split("\\")[-1])' "$1"
}

run "$old/build/windows/VkUninst.exe" "$work/old"
run build/windows/VkUninst.exe "$work/new"

failed=0
six="VkView.dll VkUsbMmc.dll VkUsbVw.dll VkMMC.dll SeatMmc.dll SeatView.dll"
echo "== servers beside them: the release uninstaller under 32-bit Wine, started from C:\\Cache"
for side in old new; do
    got=$(unregistered "$work/$side/installed.after.json" | tr '\n' ' ')
    got=${got% }
    label="the uninstaller of ${base:0:7} (LoadLibraryA)"
    [ "$side" = new ] && label="build/windows/VkUninst.exe (LoadLibraryExA, LOAD_WITH_ALTERED_SEARCH_PATH)"
    echo "   $label: unregistered ${got:-nothing}"
    if [ "$side" = old ]; then
        case " $got " in
        *" VkUsbMmc.dll "*) echo "   the old call loaded VkUsbMmc.dll: nothing here shows why the change is needed"; failed=1 ;;
        esac
    elif [ "$got" != "$six" ]; then
        echo "   not the six servers in order: $six"
        failed=1
    fi
done
# Everything else the new run changed is what the simulator's run changes.
realpath "$machine" >"$work/list"
echo "   build/windows/VkUninst.exe against the simulator's run:"
build/host/vk_side_compare "$work/sim" "$work/new" "$work/list" | sed 's/^/   /' || failed=1
[ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
exit $failed
