#!/usr/bin/env bash
# Installs the tools the builds need where a fresh Debian machine lacks them.
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v i686-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-i686)
command -v clang++ >/dev/null || need+=(clang)
[ -n "$(find /usr/lib/llvm-*/lib/clang -name 'libclang_rt.fuzzer-x86_64.a' 2>/dev/null | head -1)" ] ||
    need+=(libclang-rt-14-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)

if [ ${#need[@]} -gt 0 ]; then
    echo "== installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need[@]}" >/dev/null
fi
