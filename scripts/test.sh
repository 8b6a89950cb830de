#!/usr/bin/env bash
# Checks the format of the C++ sources, builds every preset and runs every
# test: the host tests against the simulated Windows (plain and with
# sanitizers), a short fuzzing run, the checks of the real VkUninst.exe,
# the release packages (scripts/package-check.sh), and the contract tests
# against Windows itself under 64-bit Wine and, where the kernel runs 32-bit
# x86 programs, 32-bit Wine. Installs what a fresh Debian machine lacks.
# Ends with the time each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
export VK_STAGE_TIMES=$PWD/build/stage-times
: >"$VK_STAGE_TIMES"
began=${EPOCHREALTIME/./}
. scripts/counted.sh

begin_stage setup
scripts/setup.sh

begin_stage format
echo "== the format of every C++ source and header (clang-format, a check)"
status=0
scripts/format-check.sh || status=$?
count_status format "$status"

begin_stage "host build"
echo "== host build (the product against the simulated Windows)"
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)"
begin_stage "host ctest"
run_ctest host

begin_stage "sanitizer build"
echo "== host tests with AddressSanitizer and UndefinedBehaviorSanitizer"
# The tests' programs alone; the whole-corpus runs and the page in a browser
# are the host preset's (see the test preset).
cmake --preset host-sanitize >/dev/null
cmake --build --preset host-sanitize -j "$(nproc)" --target vk_tests vk_interrupt
begin_stage "sanitizer ctest"
run_ctest host-sanitize

begin_stage "fuzz (build and run)"
echo "== a short fuzzing run"
if scripts/fuzz.sh 15; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

begin_stage "windows build"
echo "== windows build (VkUninst.exe and VkCheck.exe)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
begin_stage "exe checks"
for exe in VkUninst.exe VkCheck.exe; do
    if scripts/check-exe.sh "build/windows/$exe"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done

# The Debian package's optimised build runs beside the Wine stages, on the
# core their one program at a time leaves idle; the packages are checked
# after them.
(
    begin_stage "release-linux build (beside the Wine stages)"
    status=0
    { cmake --preset release-linux >/dev/null &&
        nice -n 19 cmake --build --preset release-linux --target package -j 1; } || status=$?
    begin_stage ""
    exit $status
) >build/release-linux-build.log 2>&1 &
release_build=$!

# The Wine stages (scripts/wine-stages.sh) are counted by their last line.
begin_stage "Wine stages, all"
scripts/wine-stages.sh | tee build/wine-stages.out || true
counts=$(sed -n 's/^wine stages: \([0-9]*\) passed, \([0-9]*\) failed, \([0-9]*\) skipped$/\1 \2 \3/p' \
    build/wine-stages.out)
if [ -z "$counts" ]; then
    echo "(the Wine stages gave no count: counted as one failure)"
    failed=$((failed + 1))
else
    read -r wine_passed wine_failed wine_skipped <<<"$counts"
    passed=$((passed + wine_passed))
    failed=$((failed + wine_failed))
    skipped=$((skipped + wine_skipped))
fi

begin_stage "release packages (the wait for their build, and the checks)"
echo "== the release packages: the ZIP and the Debian package, unpacked, installed, run and removed"
wait "$release_build" || true
status=0
scripts/package-check.sh || status=$?
count_status packages "$status"
begin_stage ""

# Each stage's time, in the order they ended (the Wine stages' own, indented,
# before their sum), and the whole run's.
echo "== stage times"
awk -F '\t' '{printf "   %-66s %7.1f s\n", $2, $1}' "$VK_STAGE_TIMES"
now=${EPOCHREALTIME/./}
printf '   %-66s %7d s\n' "the whole run" $(((now - began) / 1000000))

echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
