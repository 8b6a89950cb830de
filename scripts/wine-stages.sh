#!/usr/bin/env bash
# The Wine stages of scripts/test.sh: the contract tests against Windows
# itself under 64-bit Wine and, where the kernel runs 32-bit x86 programs,
# 32-bit Wine; the side-by-side machines; the release programs. Each stage
# starts from a fresh prefix (a copy of a clean one, scripts/wine-prefix.sh),
# and no program of one stage runs during another. Prints what test.sh
# prints of them, and last one line:
#   wine stages: N passed, N failed, N skipped
# With VK_OUTCOMES=FILE, appends each test's and machine's outcome to FILE,
# one a line: STAGE NAME OUTCOME (a machine's holds a digest of the change
# list Wine gave, so that a run whose changes drift is seen).
set -euo pipefail
. "$(dirname "$0")/fixed-layout.sh"
cd "$(dirname "$0")/.."
. scripts/counted.sh

# A contract stage's prefix, where wine-run.sh runs its tests: a fresh copy
# of the clean prefix of its architecture.
fresh_prefix() {
    rm -rf "$1/wineprefix.new"
    scripts/wine-prefix.sh "$1/wineprefix" "$2"
}

wine_start=$(date +%s)
begin_stage "  contract tests, 64-bit: build"
echo "== contract tests against Windows itself: 64-bit Wine"
cmake --preset wine >/dev/null
cmake --build --preset wine --target vk_contract_tests -j "$(nproc)"
begin_stage "  contract tests, 64-bit: run (the clean prefix made first)"
fresh_prefix build/wine win64
run_ctest wine 1

begin_stage "  contract tests, 32-bit"
if why=$(scripts/x86-32-status.sh); then
    echo "== contract tests against Windows itself: 32-bit Wine"
    cmake --preset wine32 >/dev/null
    cmake --build --preset wine32 --target vk_contract_tests -j "$(nproc)"
    fresh_prefix build/wine32 win32
    run_ctest wine32 1
else
    echo "== the 32-bit Wine stage was skipped: $why"
    outcome wine32 "(the-stage)" skipped
fi

begin_stage "  side by side, 64-bit (builds included)"
# scripts/test.sh builds the host programs beside these stages: the side by
# side and later stages run some, and wait for that build to end.
[ ! -e build/host-build.lock ] || flock build/host-build.lock true
echo "== side by side: the simulated Windows and 64-bit Wine, the same machines"
mkdir -p build/side
status=0
scripts/side-by-side.sh | tee build/side/side-by-side.out || status=$?
count_status side-by-side "$status"
if [ -n "${VK_OUTCOMES:-}" ]; then
    while read -r path; do
        name=$(basename "$path" .json)
        verdict=$(sed -n "s/^$name: \(DIFFERENT\|not run\).*/\1/p" build/side/side-by-side.out)
        digest=$(sha1sum "build/side/wine/$name.changes.json" 2>/dev/null | cut -c1-12)
        outcome side-by-side "$name" "$(echo "${verdict:-same}" | tr ' ' -):${digest:-none}"
    done <build/side/list
fi

begin_stage "  the release programs, 32-bit"
echo "== the release programs under 32-bit Wine (VkUninst.exe, and VkCheck.exe on the same machine)"
status=0
tests/side/side_by_side_exe.py | tee build/side/side-by-side-exe.out || status=$?
count_status side-by-side-exe "$status"
if [ -n "${VK_OUTCOMES:-}" ] && [ "$status" -ne 77 ]; then
    out=build/side/side-by-side-exe.out
    outcome side-by-side-exe console "$(sed -n 's/^   console: //p' "$out" | tr ' ' _)"
    outcome side-by-side-exe exit-status "$(sed -n 's/^   exit status: //p' "$out")"
    outcome side-by-side-exe changes \
        "$(sha1sum build/side/exe/wine/installed.changes.json 2>/dev/null | cut -c1-12)"
    outcome side-by-side-exe verify-after-restart \
        "$(sed -n 's/^   verify after the restart: exit status //p' "$out")"
    sed -n 's/^     \([^ :]*\): .*: \(.*\)$/\1 \2/p' "$out" | while read -r kind verdict; do
        outcome side-by-side-exe "plant:$kind" "$(echo "$verdict" | tr ' ' -)"
    done
    sed -n 's/^     offline \([^ :]*\): .*: \(.*\)$/\1 \2/p' "$out" | while read -r name verdict; do
        outcome side-by-side-exe "offline:$name" "$verdict"
    done
fi
begin_stage "  foreign list entries, 32-bit"
echo "== foreign list entries: the release VkUninst.exe under 32-bit Wine"
status=0
scripts/foreign-lists-exe.sh | tee build/side/foreign-lists-exe.out || status=$?
count_status foreign-lists-exe "$status"
if [ -n "${VK_OUTCOMES:-}" ] && [ "$status" -ne 77 ]; then
    sed -n 's/^   \([^ ]*\) \([^ :]*\): \(.*\)$/\1:\2 \3/p' build/side/foreign-lists-exe.out |
        while read -r list verdict; do outcome foreign-lists-exe "$list" "$(echo "$verdict" | tr ' ' -)"; done
fi

begin_stage "  servers beside them, 32-bit"
echo "== servers beside them: the release VkUninst.exe from another folder, under 32-bit Wine"
status=0
scripts/servers-beside-exe.sh | tee build/side/servers-beside-exe.out || status=$?
count_status servers-beside-exe "$status"

begin_stage "  the startup-script recipe, 32-bit"
echo "== the startup-script recipe from the release archive, under 32-bit Wine"
status=0
tests/side/fleet_recipe.py | tee build/side/fleet-recipe.out || status=$?
count_status fleet-recipe "$status"
if [ -n "${VK_OUTCOMES:-}" ] && [ "$status" -ne 77 ]; then
    sed -n 's/^   \(.*\): \(ok\|FAILED\).*$/\1\t\2/p' build/side/fleet-recipe.out |
        while IFS=$'\t' read -r what verdict; do
            outcome fleet-recipe "$(echo "$what" | tr -c 'A-Za-z0-9\n' - | cut -c1-40)" "$verdict"
        done
fi

begin_stage "  the startup script's later starts, 64-bit"
echo "== the startup script's later starts, under 64-bit Wine's cmd with stand-in programs"
status=0
tests/side/fleet_later_starts.py | tee build/side/fleet-later-starts.out || status=$?
count_status fleet-later-starts "$status"

begin_stage ""
echo "== the Wine stages took $(($(date +%s) - wine_start)) s"

echo "wine stages: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
