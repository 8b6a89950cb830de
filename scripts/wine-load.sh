#!/usr/bin/env bash
# The Wine stages on a busy machine: scripts/wine-repeat.sh, three runs each
# from fresh Wine prefixes, with a CPU-bound process per core beside them
# all the while (each ended after LIMIT seconds, default 3600, should this
# script not end it first). Its last line is the number of differences:
# tests or machines that did not pass, or did not come out the same each
# time; 0 means the stages' outcomes depend on nothing the load changes.
# The builds are kept between runs (the load is on the Wine side).
#   scripts/wine-load.sh [RUNS] [LIMIT]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
limit=${2:-3600}

burners=()
trap 'for pid in "${burners[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT
for _ in $(seq 1 "$(nproc)"); do
    timeout "$limit" sh -c 'while :; do :; done' &
    burners+=($!)
done
echo "== load: ${#burners[@]} CPU-bound processes (one a core) beside the Wine stages"
VK_KEEP_BUILDS=1 scripts/wine-repeat.sh "$runs"
