#!/usr/bin/env bash
# Builds every preset and runs every test: the host tests against the
# simulated Windows (plain and with sanitizers), a short fuzzing run, the
# checks of the real VkUninst.exe, and the contract tests against Windows
# itself under 64-bit Wine and, where the kernel runs 32-bit x86 programs,
# 32-bit Wine. Installs what a fresh Debian machine lacks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
passed=0
failed=0
skipped=0

# Runs a ctest preset and counts its tests. A skipped test (a known Wine
# difference) is counted apart: CTest's own summary counts it as passed.
run_ctest() {
    local out total bad skip
    if out=$(ctest --preset "$1" -j "${2:-$(nproc)}" 2>&1); then
        echo "$out" | grep -E 'tests passed'
    else
        echo "$out"
    fi
    total=$(echo "$out" | sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p')
    bad=$(echo "$out" | sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p')
    skip=$(echo "$out" | grep -c '(Skipped)' || true)
    if [ -z "$total" ]; then
        failed=$((failed + 1))
        return
    fi
    # Each skip says why (a known Wine difference, what Windows does).
    for name in $(echo "$out" | sed -n 's/.* - \(.*\) (Skipped)$/\1/p'); do
        echo "   skipped $name: $(ctest --preset "$1" -R "^$name\$" -V 2>&1 |
            grep -A1 ': Skipped$' | tail -n 1 | sed 's/^[0-9]*: //')"
    done
    passed=$((passed + total - bad - skip))
    failed=$((failed + bad))
    skipped=$((skipped + skip))
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
if scripts/fuzz.sh 30; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo "== windows build (VkUninst.exe and VkCheck.exe)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
for exe in VkUninst.exe VkCheck.exe; do
    if scripts/check-exe.sh "build/windows/$exe"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done

# The tests under Wine share one prefix per build: they run one at a time.
wine_start=$(date +%s)
echo "== contract tests against Windows itself: 64-bit Wine"
cmake --preset wine >/dev/null
cmake --build --preset wine --target vk_contract_tests -j "$(nproc)"
run_ctest wine 1

if why=$(scripts/x86-32-status.sh); then
    echo "== contract tests against Windows itself: 32-bit Wine"
    cmake --preset wine32 >/dev/null
    cmake --build --preset wine32 --target vk_contract_tests -j "$(nproc)"
    run_ctest wine32 1
else
    echo "== the 32-bit Wine stage was skipped: $why"
fi

echo "== side by side: the simulated Windows and 64-bit Wine, the same machines"
if scripts/side-by-side.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo "== the release programs under 32-bit Wine (VkUninst.exe, and VkCheck.exe on the same machine)"
status=0
scripts/side-by-side-exe.sh || status=$?
if [ "$status" -eq 77 ]; then
    echo "(skipped, not counted as passed)"
    skipped=$((skipped + 1))
elif [ "$status" -ne 0 ]; then
    failed=$((failed + 1))
else
    passed=$((passed + 1))
fi
echo "== the Wine stages took $(($(date +%s) - wine_start)) s"

echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
