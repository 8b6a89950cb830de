#!/usr/bin/env bash
# Runs the Wine stages of scripts/test.sh (scripts/wine-stages.sh) N times
# (default 5), each from empty Wine build folders (kept with
# VK_KEEP_BUILDS=1) and fresh prefixes, the clean ones among them, and
# prints every test's and machine's outcome in each run. Last, one line with
# the number of differences: tests or machines whose outcome is not a pass
# in some run, or is not the same in every run. Exits 0 only when it is 0.
#   scripts/wine-repeat.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
work=build/wine-repeat
rm -rf "$work" && mkdir -p "$work"

scripts/setup.sh >/dev/null
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" >/dev/null

for run in $(seq 1 "$runs"); do
    # Every prefix a Wine stage keeps, and its session; then every folder a
    # Wine stage builds in, or only the prefixes.
    for prefix in build/wine-clean/* build/wine/wineprefix build/wine32/wineprefix \
        build/side/prefix* build/side32/prefix* build/side/*/prefix; do
        [ ! -f "$prefix/system.reg" ] || WINEPREFIX=$PWD/$prefix wineserver -k 2>/dev/null || true
    done
    rm -rf build/wine-clean build/side
    if [ -n "${VK_KEEP_BUILDS:-}" ]; then
        rm -rf build/wine/wineprefix build/wine32/wineprefix build/side32/prefix*
    else
        rm -rf build/wine build/wine32 build/windows build/side32
    fi
    start=$(date +%s)
    VK_OUTCOMES=$PWD/$work/$run.outcomes scripts/wine-stages.sh >"$work/$run.log" 2>&1 || true
    sort -o "$work/$run.outcomes" "$work/$run.outcomes"
    echo "== run $run ($(($(date +%s) - start)) s, builds included): $(tail -n 1 "$work/$run.log")"
    sed 's/^/   /' "$work/$run.outcomes"
done

# A pass: a test or stage passed, a machine came out the same on both sides,
# a planted leftover was named with its status. A skip (a known Wine
# difference, a stage this machine cannot run) is no pass: it is counted
# apart, and must be a skip in every run. The release programs' console line,
# exit statuses and change digest must be the same in every run (whether they
# are right, their stage's own outcome says).
awk '{print $1, $2}' "$work"/*.outcomes | sort -u >"$work/names"
differences=0
skips=0
while read -r stage name; do
    awk -v s="$stage" -v n="$name" '$1 == s && $2 == n {$1 = $2 = ""; print substr($0, 3)}' \
        "$work"/*.outcomes >"$work/seen"
    count=$(wc -l <"$work/seen")
    kinds=$(sort -u "$work/seen" | wc -l)
    outcome=$(head -n 1 "$work/seen")
    case $outcome in
    passed | ok | same:*) good=yes ;;
    skipped) good=yes skips=$((skips + 1)) ;;
    *) good=no ;;
    esac
    if [ "$stage" = side-by-side-exe ] && [ "$name" != "(the-stage)" ] && [[ $name != plant:* ]]; then
        good=yes
    fi
    if [ "$kinds" -ne 1 ] || [ "$count" -ne "$runs" ] || [ "$good" = no ]; then
        differences=$((differences + 1))
        echo "DIFFERENCE $stage $name: $(sort "$work/seen" | uniq -c | awk '{$1 = $1 "x"; print}' |
            paste -sd ';') (in $count of $runs runs)"
    fi
done <"$work/names"
echo "wine-repeat: $runs runs, $(wc -l <"$work/names") tests and machines," \
    "$skips skipped in every run (not counted as passes), $differences differences"
[ "$differences" -eq 0 ]
