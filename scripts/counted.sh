# Sourced by scripts/test.sh and scripts/wine-stages.sh: the counting of
# results both print. With $VK_OUTCOMES naming a file, each test's outcome is
# also appended to it, one a line: STAGE NAME OUTCOME.
passed=0
failed=0
skipped=0

# The time each stage takes: with $VK_STAGE_TIMES naming a file, `begin_stage NAME`
# ends the stage before (if one is running) and starts NAME, and `begin_stage ""`
# ends it; each ended stage is appended to the file as SECONDS<TAB>NAME.
stage_name=
stage_began=0
begin_stage() {
    local now=${EPOCHREALTIME/./}
    if [ -n "$stage_name" ] && [ -n "${VK_STAGE_TIMES:-}" ]; then
        printf '%d.%d\t%s\n' $(((now - stage_began) / 1000000)) $(((now - stage_began) / 100000 % 10)) \
            "$stage_name" >>"$VK_STAGE_TIMES"
    fi
    stage_name=$1
    stage_began=$now
}

outcome() {
    [ -z "${VK_OUTCOMES:-}" ] || echo "$1 $2 $3" >>"$VK_OUTCOMES"
}

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
        outcome "$1" "(the-stage)" "no-result"
        return
    fi
    # Each test's line: "  3/24 Test  #3: Name ......   Passed    0.1 sec".
    echo "$out" | sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) \.*[ *]*\([A-Za-z][A-Za-z ]*[a-z]\) .*/\1 \2/p' |
        while read -r name result; do outcome "$1" "$name" "$(echo "$result" | tr 'A-Z ' 'a-z-')"; done
    # Each skip says why (a known Wine difference, what Windows does).
    for name in $(echo "$out" | sed -n 's/.* - \(.*\) (Skipped)$/\1/p'); do
        echo "   skipped $name: $(ctest --preset "$1" -R "^$name\$" -V 2>&1 |
            grep -A1 ': Skipped$' | tail -n 1 | sed 's/^[0-9]*: //')"
    done
    passed=$((passed + total - bad - skip))
    failed=$((failed + bad))
    skipped=$((skipped + skip))
}

# Counts a whole script's exit status: 0 passed, 77 skipped, else failed.
count_status() {
    if [ "$2" -eq 77 ]; then
        echo "(skipped, not counted as passed)"
        skipped=$((skipped + 1))
        outcome "$1" "(the-stage)" skipped
    elif [ "$2" -ne 0 ]; then
        failed=$((failed + 1))
        outcome "$1" "(the-stage)" failed
    else
        passed=$((passed + 1))
        outcome "$1" "(the-stage)" passed
    fi
}

# Adds the counts of a part's last line, "PREFIX: P passed, F failed, S
# skipped", in FILE; a part that gave no such line is one failure.
count_last_line() {
    local counts more_passed more_failed more_skipped
    counts=$(sed -n "s/^$2: \([0-9]*\) passed, \([0-9]*\) failed, \([0-9]*\) skipped\$/\1 \2 \3/p" "$1")
    if [ -z "$counts" ]; then
        echo "($3 gave no count: counted as one failure)"
        failed=$((failed + 1))
        return
    fi
    read -r more_passed more_failed more_skipped <<<"$counts"
    passed=$((passed + more_passed))
    failed=$((failed + more_failed))
    skipped=$((skipped + more_skipped))
}
