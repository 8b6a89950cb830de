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
begin_stage ""

# Two lines of stages run at once, each a core's worth of work: the host's
# below, and beside them the release programs' build and checks, the Wine
# stages (scripts/wine-stages.sh) and the Debian package's build. Most of
# their time one Wine program runs at a time, on one core, and a machine
# they read after a run is let settle first, so that the load beside them
# changes how long they take, not what they find (scripts/wine-load.sh
# shows it). The side-by-side stage runs host programs: the Wine stages
# wait for the host build to end. The stages beside are shown after the
# host's, and counted by their last line.
beside() {
    passed=0 failed=0 skipped=0
    VK_STAGE_TIMES=$VK_STAGE_TIMES.beside
    : >"$VK_STAGE_TIMES"
    begin_stage "windows build"
    echo "== windows build (VkUninst.exe and VkCheck.exe)"
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j "$(nproc)"
    begin_stage "exe checks"
    for exe in VkUninst.exe VkCheck.exe; do
        if scripts/check-exe.sh "build/windows/$exe"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    done

    # The Wine stages are counted by their last line.
    begin_stage "Wine stages, all"
    scripts/wine-stages.sh | tee build/wine-stages.out || true
    count_last_line build/wine-stages.out "wine stages" "the Wine stages"

    begin_stage "release-linux build"
    echo "== the Debian package's optimised build"
    cmake --preset release-linux >/dev/null
    cmake --build --preset release-linux --target package -j "$(nproc)" >build/release-linux-build.log 2>&1 ||
        echo "(the build failed: build/release-linux-build.log; the packages' checks say what is missing)"
    begin_stage ""
    echo "beside: $passed passed, $failed failed, $skipped skipped"
}
exec 8>build/host-build.lock
flock 8
beside >build/beside.out 2>&1 8>&- &
beside_pid=$!
# Should a stage below stop this script, the stages beside end first (the
# host build's lock let go, which they may wait for).
trap 'exec 8>&-; wait "$beside_pid" 2>/dev/null || true' EXIT

begin_stage "host build"
echo "== host build (the product against the simulated Windows)"
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)"
exec 8>&-
begin_stage "host ctest"
echo "== host tests"
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
if scripts/fuzz.sh 30; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

begin_stage "the wait for the stages beside"
wait "$beside_pid" || true
cat build/beside.out
count_last_line build/beside.out beside "the stages beside"

begin_stage "release packages"
echo "== the release packages: the ZIP and the Debian package, unpacked, installed, run and removed"
status=0
scripts/package-check.sh || status=$?
count_status packages "$status"
begin_stage ""

# Each stage's time: the host's and the packages', then those beside the
# host's (the Wine stages' own indented, before their sum); then the whole
# run's.
echo "== stage times"
awk -F '\t' '{printf "   %-66s %7.1f s\n", $2, $1}' "$VK_STAGE_TIMES"
echo "   beside the host's stages:"
awk -F '\t' '{printf "   %-66s %7.1f s\n", "  " $2, $1}' "$VK_STAGE_TIMES.beside"
now=${EPOCHREALTIME/./}
printf '   %-66s %7d s\n' "the whole run" $(((now - began) / 1000000))

echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
