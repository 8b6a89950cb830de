#!/usr/bin/env bash
# Builds both presets and runs every test: the host tests against the
# simulated Windows, and the checks of the real VkUninst.exe. Installs what a
# fresh Debian machine lacks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== host build (the product against the simulated Windows)"
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)"
ctest --preset host -j "$(nproc)"

echo "== host tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset host-sanitize >/dev/null
cmake --build --preset host-sanitize -j "$(nproc)"
ctest --preset host-sanitize -j "$(nproc)"

echo "== a short fuzzing run"
scripts/fuzz.sh 30

echo "== windows build (VkUninst.exe)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
scripts/check-exe.sh build/windows/VkUninst.exe
