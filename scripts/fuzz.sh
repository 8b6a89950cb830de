#!/usr/bin/env bash
# Runs the fuzz target for SECONDS (default 60) on both cores: each input
# builds a machine, the uninstaller runs on it, and the run must keep the
# invariant. Builds the target first if needed. Prints the runs and findings;
# exits non-zero on any finding.
#   scripts/fuzz.sh SECONDS check: the target vk_fuzz_check instead, where
#   VkCheck's preview of each machine must be the run the uninstaller makes.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
target=vk_fuzz
[ "${2:-}" != check ] || target=vk_fuzz_check
jobs=$(nproc)

scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target "$target" >/dev/null

work=build/fuzz/run
[ "$target" = vk_fuzz ] || work=build/fuzz/run-check
rm -rf "$work"
mkdir -p "$work/corpus" "$work/findings"
cp tests/fuzz/corpus/* "$work/corpus/"

# Allocation stack traces are left out for speed (the simulated Windows
# allocates a great deal); a finding is re-run with them to read it. So is
# AddressSanitizer's quarantine: the simulated heap keeps every block the
# product frees unreadable until the run ends, and the quarantine would only
# delay the simulator's own frees.
export ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=0:quarantine_size_mb=0}
(cd "$work" && ../$target -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
    -print_final_stats=1 -artifact_prefix=findings/ corpus >/dev/null 2>&1) || true

runs=0
for log in "$work"/fuzz-*.log; do
    n=$(grep -h 'stat::number_of_executed_units' "$log" | awk '{s+=$2} END {print s+0}')
    runs=$((runs + n))
done
findings=$(find "$work/findings" -type f | wc -l)
for f in "$work"/findings/*; do
    [ -e "$f" ] || continue
    echo "finding: $f"
    grep -h -E 'invariant:|leak:|preview:|not modelled|ERROR:|runtime error' "$work"/fuzz-*.log | sort -u | head -20
done
echo "fuzz: $runs runs in ${seconds}s on $jobs cores, $findings findings"
[ "$findings" -eq 0 ]
