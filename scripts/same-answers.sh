#!/usr/bin/env bash
# What vk_check answers on every machine of the boot judge's matrix, kept in
# a folder so that two builds' answers can be compared with diff -r:
#
#   scripts/same-answers.sh OUT
#
# OUT/snapshots holds the machines (vk_matrix_snapshots,
# tests/bench/matrix_snapshots.cpp); OUT/answers holds, for each, preview and
# verify --from it, as text and as JSON, with the exit status last. The time
# an answer was made is blanked: it is the one thing two runs may not share.
# The host build (preset host) is built first.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || { echo "usage: $0 OUT" >&2; exit 2; }
out=$1
rm -rf "$out"
mkdir -p "$out/snapshots" "$out/answers"
cmake --preset host >/dev/null
cmake --build --preset host --target vk_check vk_matrix_snapshots -j "$(nproc)" >/dev/null
build/host/vk_matrix_snapshots "$out/snapshots"
for snapshot in "$out"/snapshots/*.json; do
    name=$(basename "$snapshot" .json)
    for verb in preview verify; do
        for form in text json; do
            file="$out/answers/$name.$verb.$form"
            flag=()
            [ "$form" = json ] && flag=(--json)
            status=0
            build/host/vk_check "$verb" --from "$snapshot" "${flag[@]}" >"$file" 2>&1 || status=$?
            sed -i 's/"time": *"[^"]*"/"time": ""/' "$file"
            echo "exit $status" >>"$file"
        done
    done
done
echo "$(ls "$out/answers" | wc -l) answers of $(ls "$out/snapshots" | wc -l) machines in $out"
