#!/usr/bin/env bash
# Runs the uninstaller on a simulated Windows XP with the product installed
# and shows what it printed and what changed.
#   --wine: the same machine laid down in Wine instead; the real 32-bit
#   VkUninst.exe runs where 32-bit Wine works, else the product's code built
#   as a 64-bit program under 64-bit Wine (the report says which).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset host >/dev/null
if [ "${1:-}" != "--wine" ]; then
    cmake --build --preset host --target vk_demo -j "$(nproc)" >/dev/null
    build/host/vk_demo
    exit 0
fi
cmake --build --preset host --target vk_side_compare -j2 >/dev/null
status=0
tests/side/side_by_side_exe.py >build/side-exe.log 2>&1 || status=$?
if [ "$status" -ne 77 ] && [ -f build/side/exe/wine/installed.changes.json ]; then
    echo "== Wine (32-bit), Tallowin laid down as its installer leaves it; the real VkUninst.exe runs"
    echo
    build/host/vk_side_compare --show build/side/exe/wine/installed.changes.json \
        build/side/exe/console.txt
    exit 0
fi
echo "(the real 32-bit program could not run: $(grep SKIPPED build/side-exe.log | cut -d: -f2-))"
mkdir -p build/side/machines
cmake --build --preset host --target vk_machines -j2 >/dev/null
build/host/vk_machines build/side/machines >/dev/null
scripts/side-by-side.sh build/side/machines/installed.json >/dev/null
echo "== Wine (64-bit), Tallowin laid down as its installer leaves it; the product's code, built"
echo "   as a 64-bit program, runs (its console line is not captured in this form)"
echo
build/host/vk_side_compare --show build/side/wine/installed.changes.json
