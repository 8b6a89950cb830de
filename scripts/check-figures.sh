#!/usr/bin/env bash
# VkCheck's figures: preview and verify under 32-bit Wine on the installed
# machine against a program that does nothing, the snapshot's size, and the
# size of both programs. The Wine part is the release programs' own stage
# (tests/side/side_by_side_exe.py) with only what the figures need: the
# machine laid down, its snapshot and the timed runs. Where 32-bit Wine
# cannot run, says so.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
tests/side/side_by_side_exe.py --figures >build/check-figures.log 2>&1 || status=$?
if [ "$status" -eq 77 ]; then
    grep SKIPPED build/check-figures.log
else
    grep -E '^   (preview|verify):|snapshot of the installed' build/check-figures.log
    [ "$status" -eq 0 ] || echo "   (the measuring run failed: see build/check-figures.log)"
fi
for exe in VkCheck.exe VkUninst.exe; do
    echo "   $exe: $(stat -c %s "build/windows/$exe") bytes"
done
