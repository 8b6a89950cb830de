#!/usr/bin/env bash
# The offline verbs' cost on the registries real Windows machines wrote
# (tests/data/realhives: Windows 7, 8.1 and 10): on each, the wall time and
# peak memory of
#   vk_check verify --system-hive FILE                 the hive alone
#   vk_check verify --windows DIR                      with a Windows folder of its images
#   vk_check repair --system-hive FILE --dry-run --force
# each the median of RUNS runs (/usr/bin/time).
#
#   scripts/real-hive-figures.sh [RUNS] [VK_CHECK]   RUNS runs each (default 5);
#                                                   VK_CHECK another build to measure
#
# Release build (preset bench, build/bench) unless VK_CHECK is given. Not
# part of the tests: its times depend on what else the machine runs.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
check=${2:-}
work=$PWD/build/real-hive-figures
rm -rf "$work"
mkdir -p "$work"
if [ -z "$check" ]; then
    echo "== building (preset bench, Release; log: build/real-hive-figures/build.log)"
    cmake --preset bench >"$work/build.log" 2>&1
    cmake --build --preset bench --target vk_check -j2 >>"$work/build.log" 2>&1
    check=build/bench/vk_check
fi

# median VERB ARGS...: the median wall time (s) and peak memory (MB) of RUNS runs.
median() {
    local times=() memories=() i out
    for ((i = 0; i < runs; i++)); do
        /usr/bin/time -o "$work/time" -f "%e %M" "$check" "$@" >/dev/null 2>&1 || true
        out=$(tail -n 1 "$work/time")
        times+=("${out% *}")
        memories+=("${out#* }")
    done
    printf '%s s, %s MB' \
        "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")" \
        "$(printf '%s\n' "${memories[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p" |
            awk '{printf "%.0f", $1 / 1024}')"
}

printf '%-22s %10s  %-20s %-22s %-20s\n' hive size "verify (hive alone)" "verify (--windows)" \
    "repair --dry-run"
for packed in tests/data/realhives/*.xz; do
    name=$(basename "$packed" .xz)
    windows=$(/usr/bin/python3 tests/real/real_hives.py --lay "$packed" "$work/$name")
    hive=$windows/system32/config/SYSTEM
    printf '%-22s %10s  %-20s %-22s %-20s\n' "$name" "$(stat -c %s "$hive")" \
        "$(median verify --system-hive "$hive")" "$(median verify --windows "$windows")" \
        "$(median repair --system-hive "$hive" --dry-run --force)"
done
rm -rf "$work"/*/
