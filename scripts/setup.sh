#!/usr/bin/env bash
# Installs the tools the builds need where a fresh Debian machine lacks them.
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v i686-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-i686)

if [ ${#need[@]} -gt 0 ]; then
    echo "== installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need[@]}" >/dev/null
fi
