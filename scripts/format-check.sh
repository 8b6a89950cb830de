#!/usr/bin/env bash
# Every C++ source and header under src/ and tests/ (but the fuzz corpus and
# the test data) is as clang-format writes it with the repository's
# .clang-format. A check: it changes no file. Names each file that is not
# clean and exits 1; `clang-format -i FILE` makes one clean.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v clang-format >/dev/null || {
    echo "   clang-format is not installed"
    exit 1
}
mapfile -d '' files < <(find src tests \( -path tests/fuzz/corpus -o -path tests/data \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
checked=${#files[@]}
unclean=0
# All files in one run of clang-format; only when that fails, each in turn,
# to name the ones that are not clean.
if [ "$checked" -gt 0 ] && ! clang-format --dry-run --Werror "${files[@]}" >/dev/null 2>&1; then
    for file in "${files[@]}"; do
        if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
            echo "   not clean: $file ($(clang-format "$file" | diff "$file" - | grep -c '^[<>]') lines differ)"
            unclean=$((unclean + 1))
        fi
    done
    # A failure no single file shows (clang-format itself) is not a pass.
    [ "$unclean" -gt 0 ] || unclean=1
fi
echo "   $checked files checked with $(clang-format --version | sed 's/.*version \([0-9.]*\).*/clang-format \1/'): $unclean not clean"
[ "$checked" -gt 0 ] && [ "$unclean" -eq 0 ]
