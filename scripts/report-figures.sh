#!/usr/bin/env bash
# The fleet report's figures: COUNT answer files (10,000 unless given) made
# from the described machines, the boot matrix's and the small fleet's, the
# same answers over again under other machine names (vk_report_answers), then
# `vk_check report DIR` as text, with --csv and with --html, each timed with
# its peak memory. Built optimised (the bench preset) unless VK_PRESET names
# another. Not a test: it prints what it measured.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-10000}
preset=${VK_PRESET:-bench}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2 --target vk_check vk_report_answers >/dev/null
bin=build/$preset
out=build/report-figures
rm -rf "$out"
mkdir -p "$out/answers"
"$bin/vk_report_answers" "$out/answers" "$count"
echo "   answers: $(du -sh "$out/answers" | cut -f1) in $(find "$out/answers" -name '*.json' | wc -l) files"
timed() {
    local what=$1
    shift
    /usr/bin/time -f "%e s %M KiB" -o "$out/time" "$@" >"$out/report.txt"
    echo "   $what: $(cat "$out/time")"
}
timed "report DIR (text)" "$bin/vk_check" report "$out/answers"
timed "report DIR --csv" "$bin/vk_check" report "$out/answers" --csv "$out/report.csv"
timed "report DIR --html" "$bin/vk_check" report "$out/answers" --html "$out/report.html"
timed "report DIR --csv --html" "$bin/vk_check" report "$out/answers" --csv "$out/report.csv" \
    --html "$out/report.html"
echo "   $(head -1 "$out/report.txt")"
echo "   text $(stat -c %s "$out/report.txt") bytes, CSV $(stat -c %s "$out/report.csv") bytes," \
    "page $(stat -c %s "$out/report.html") bytes"
