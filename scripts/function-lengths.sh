#!/usr/bin/env bash
# The longest functions of src/ (Universal Ctags' end field), longest first:
#
#   scripts/function-lengths.sh [N]     the N longest (default 15)
set -euo pipefail
cd "$(dirname "$0")/.."
ctags -x --c++-kinds=f --fields=+ne --_xformat='%{end} %n %F %N' -R --languages=C++ src |
    awk '{ printf "%5d %s:%d %s\n", $1 - $2 + 1, $3, $2, $4 }' | sort -rn | head -n "${1:-15}"
