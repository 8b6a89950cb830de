#!/usr/bin/env bash
# Builds both presets and runs every test: the host tests against the
# simulated Windows (plain and with sanitizers), a short fuzzing run, and the
# checks of the real VkUninst.exe. Installs what a fresh Debian machine lacks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
passed=0

# Runs a ctest preset and adds its test count to the passed ones.
run_ctest() {
    local out
    out=$(ctest --preset "$1" -j "$(nproc)" 2>&1) || { echo "$out"; exit 1; }
    echo "$out" | tail -n 3
    passed=$((passed + $(echo "$out" | sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p')))
}

echo "== host build (the product against the simulated Windows)"
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)"
run_ctest host

echo "== host tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset host-sanitize >/dev/null
cmake --build --preset host-sanitize -j "$(nproc)"
run_ctest host-sanitize

echo "== a short fuzzing run"
scripts/fuzz.sh 30
passed=$((passed + 1))

echo "== windows build (VkUninst.exe)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
scripts/check-exe.sh build/windows/VkUninst.exe
passed=$((passed + 1))

echo "== side by side: the simulated Windows and 64-bit Wine, the same machines"
scripts/side-by-side.sh
passed=$((passed + 1))

echo "== the release program under 32-bit Wine"
status=0
scripts/side-by-side-exe.sh || status=$?
if [ "$status" -eq 77 ]; then
    echo "(skipped, not counted as passed)"
elif [ "$status" -ne 0 ]; then
    exit "$status"
else
    passed=$((passed + 1))
fi

echo "tests: $passed passed, 0 failed"
