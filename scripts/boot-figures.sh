#!/usr/bin/env bash
# VkCheck's cost in what it judges, from snapshots (vk_boot_machine writes
# them, tests/bench/boot_machine.cpp):
#   1. preview and verify --from the installed machine's snapshot, VkCheck.exe
#      under 32-bit Wine (64-bit where 32-bit Wine cannot run); its own time,
#      the median run less the median run of a console program that does nothing.
#   2. the installed machine grown to 1,000 devices and 250 services, 2,000
#      and 500, 4,000 and 1,000: preview and verify --from it, vk_check on
#      Linux and VkCheck.exe under Wine, with each time's ratio to the one
#      of the machine half its size (about 2 where the cost is linear).
#
#   scripts/boot-figures.sh [RUNS]    RUNS runs each (default 5), the median
#
# Release builds (presets bench, windows, side32; the program that does
# nothing from wine where 32-bit Wine cannot run). Not part of the
# tests: its times depend on what else the machine runs.
set -euo pipefail
. "$(dirname "$0")/fixed-layout.sh"
cd "$(dirname "$0")/.."
runs=${1:-5}
work=$PWD/build/boot-figures
mkdir -p "$work"
log=$work/build.log
: >"$log"
SIZES=("1000 250" "2000 500" "4000 1000")

echo "== building (log: build/boot-figures/build.log)"
cmake --preset bench >>"$log" 2>&1
cmake --build --preset bench --target vk_check vk_boot_machine -j2 >>"$log" 2>&1

# Which Wine runs VkCheck.exe: 32-bit as released, else a 64-bit build of it.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
wine_why=""
if ! command -v wine >/dev/null; then
    wine_why="no wine"
elif why32=$(scripts/x86-32-status.sh); then
    wine_bits=32
    export WINEARCH=win32
    cmake --preset windows >>"$log" 2>&1
    cmake --build --preset windows --target VkCheck -j2 >>"$log" 2>&1
    cmake --preset side32 >>"$log" 2>&1
    cmake --build --preset side32 --target empty_program -j2 >>"$log" 2>&1
    vkcheck_exe=build/windows/VkCheck.exe
    empty_exe=build/side32/empty_program.exe
elif [ -x /usr/lib/wine/wine64 ]; then
    echo "== 32-bit Wine cannot run here ($why32): VkCheck.exe built for x86-64 and run under 64-bit Wine"
    wine_bits=64
    export WINEARCH=win64
    cmake -S . -B build/check64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=MinSizeRel >>"$log" 2>&1
    cmake --build build/check64 --target VkCheck -j2 >>"$log" 2>&1
    cmake --preset wine >>"$log" 2>&1
    cmake --build --preset wine --target empty_program -j2 >>"$log" 2>&1
    vkcheck_exe=build/check64/VkCheck.exe
    empty_exe=build/wine/empty_program.exe
else
    wine_why="neither 32-bit Wine ($why32) nor 64-bit Wine can run"
fi

echo "== the machines"
build/bench/vk_boot_machine "$work/installed.json"
for size in "${SIZES[@]}"; do
    set -- $size
    build/bench/vk_boot_machine "$work/machine-$1-$2.json" "$1" "$2"
done

winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

# median_us COMMAND...: the median of $runs runs' wall time in microseconds
# in $median, the first run's exit status in $status; the output goes to
# $work/run.out.
median_us() {
    local times=() i start end
    for ((i = 0; i < runs; i++)); do
        start=${EPOCHREALTIME/./}
        set +e
        "$@" >"$work/run.out" 2>&1
        local got=$?
        set -e
        end=${EPOCHREALTIME/./}
        [ "$i" -eq 0 ] && status=$got
        times+=($((end - start)))
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
}
ms() { printf '%d.%d' $(($1 / 1000)) $(($1 % 1000 / 100)); }

if [ -z "$wine_why" ]; then
    export WINEPREFIX=$work/prefix$wine_bits
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        rm -rf "$WINEPREFIX"
        wine wineboot -i >>"$log" 2>&1 || wine_why="a $wine_bits-bit prefix cannot be made here"
        wineserver -w
    fi
fi
if [ -z "$wine_why" ]; then
    # One Wine session for every run: its start is not any program's.
    wineserver -p
    trap 'wineserver -k 2>/dev/null || true' EXIT
    wine "$empty_exe" >/dev/null 2>&1 || true
    median_us wine "$empty_exe"
    empty=$median
    echo "== VkCheck.exe under $wine_bits-bit Wine, --from the installed machine's snapshot"
    echo "   (its own time: the median of $runs runs less the median run of a program that does nothing, $(ms "$empty") ms)"
    for verb in preview verify; do
        median_us wine "$vkcheck_exe" "$verb" --from "$(winpath "$work/installed.json")"
        whole=$median own=$((median - empty))
        verdict="under 250 ms"
        [ "$own" -lt 250000 ] || verdict="OVER 250 ms"
        echo "   $verb: $(ms "$whole") ms, $(ms "$own") ms of its own ($verdict; exit status $status)"
    done
else
    echo "== VkCheck.exe under Wine: SKIPPED: $wine_why"
fi

# One line of the table: the time of one program and verb on each machine,
# each with its ratio to the machine before it.
row() {
    local name=$1 verb=$2 previous="" line
    shift 2
    line=$(printf '%-26s' "$name $verb")
    for size in "${SIZES[@]}"; do
        set -- $size
        local file=$work/machine-$1-$2.json t
        if [ "$name" = vk_check ]; then
            median_us build/bench/vk_check "$verb" --from "$file"
            t=$median
        else
            median_us wine "$vkcheck_exe" "$verb" --from "$(winpath "$file")"
            t=$((median - empty))
        fi
        local ratio="    "
        [ -n "$previous" ] && ratio=$(awk -v a="$t" -v b="$previous" 'BEGIN { printf "x%.2f", a / b }')
        line+=$(printf ' %9s ms %5s %3s' "$(ms "$t")" "$ratio" "($status)")
        previous=$t
    done
    echo "$line"
}

echo "== the installed machine grown by devices and services: the median of $runs runs, each"
echo "   time's ratio to the one before it (both doubled: x2.00 is linear) and the exit status"
echo "   (vk_check: from start to exit; VkCheck.exe: its own, as above)"
printf '%-26s' ""
for size in "${SIZES[@]}"; do
    set -- $size
    printf ' %23s' "$1 dev., $2 serv."
done
echo
for verb in preview verify; do
    row vk_check "$verb"
done
if [ -z "$wine_why" ]; then
    for verb in preview verify; do
        row "VkCheck.exe (own)" "$verb"
    done
else
    echo "VkCheck.exe under Wine: SKIPPED: $wine_why"
fi
