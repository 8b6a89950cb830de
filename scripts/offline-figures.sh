#!/usr/bin/env bash
# The offline verbs' cost, on two switched-off disks vk_offline_disk writes
# (tests/bench/offline_disk.cpp): the installed machine after the run and the
# restart as it is, and the same machine grown to about 20,000 keys and 2,000
# devices in its SYSTEM hive. On each, the time and peak memory of
#   vk_check verify --windows DIR            the disk as written
#   vk_check repair --windows DIR --dry-run  the disk with broken filter lists
#   vk_check repair --windows DIR            the same, a fresh copy each run
# each the median of RUNS runs (/usr/bin/time: wall time, peak resident set).
#
#   scripts/offline-figures.sh [RUNS]    RUNS runs each (default 5)
#
# Release build (preset bench, build/bench). Not part of the tests: its
# times depend on what else the machine runs.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
work=$PWD/build/offline-figures
rm -rf "$work"
mkdir -p "$work"
log=$work/build.log

echo "== building (preset bench, Release; log: build/offline-figures/build.log)"
cmake --preset bench >"$log" 2>&1
cmake --build --preset bench --target vk_check vk_offline_disk -j2 >>"$log" 2>&1
check=build/bench/vk_check

echo "== the disks"
for disk in small large; do
    size=()
    [ "$disk" = small ] && size=(--devices 0 --keys 0)
    for kind in healthy broken; do
        extra=()
        [ "$kind" = broken ] && extra=(--break)
        echo "   $disk, $kind: $(build/bench/vk_offline_disk "$work/$disk-$kind" "${size[@]}" "${extra[@]}" | sed "s|^$work/||")"
    done
done

# measure DISK VERB...: $runs runs of vk_check VERB --windows on a fresh copy
# of DISK each; the medians of the wall time and of the peak memory, the
# first run's exit status and how many entries it takes out, as one line.
measure() {
    local disk=$1 times=() peaks=() status="" taken="" i
    shift
    for ((i = 0; i < runs; i++)); do
        rm -rf "$work/run"
        cp -a "$work/$disk" "$work/run"
        set +e
        /usr/bin/time -o "$work/time.out" -f "%e %M" \
            "$check" "$@" --windows "$work/run/WINDOWS" >"$work/run.out" 2>&1
        local got=$?
        set -e
        read -r elapsed peak < <(tail -n 1 "$work/time.out")
        times+=("$elapsed")
        peaks+=("$peak")
        if [ -z "$status" ]; then
            status=$got
            taken=$(grep -c '^  ControlSet' "$work/run.out" || true)
        fi
    done
    local middle=$(((runs + 1) / 2))
    local time peak
    time=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "${middle}p")
    peak=$(printf '%s\n' "${peaks[@]}" | sort -n | sed -n "${middle}p")
    printf '   %-30s %6s s %8.1f MB   exit status %s' "$*" "$time" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" \
        "$status"
    [ "$1" = repair ] && printf ', filter entries taken out: %s' "$taken"
    echo
}

for disk in small large; do
    echo "== the $disk disk: the median of $runs runs each (wall time, peak memory)"
    measure "$disk-healthy" verify
    measure "$disk-broken" repair --dry-run
    measure "$disk-broken" repair
done
rm -rf "$work/run"
