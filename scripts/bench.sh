#!/usr/bin/env bash
# Prints the benchmark figures: the whole simulated run, RemoveListEntry on a
# full 8192-byte (4096-character) list, DeleteKeyTree on a tree of 1111 keys. Release build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
[ -f /usr/include/benchmark/benchmark.h ] || { apt-get update -qq; DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libbenchmark-dev >/dev/null; }
cmake --preset bench >/dev/null
cmake --build --preset bench --target vk_bench -j "$(nproc)" >/dev/null
build/bench/vk_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
