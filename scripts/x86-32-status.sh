#!/usr/bin/env bash
# Tells whether this machine can run the 32-bit Wine stage. Exit status 0:
# it can. Otherwise prints one line saying why not. With --kernel, asks only
# whether the kernel executes 32-bit x86 programs (for installing 32-bit Wine).
set -uo pipefail

# A static i386 program that exits with 42: no 32-bit library is needed.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' >"$work/exit.s"
if ! as --32 -o "$work/exit.o" "$work/exit.s" 2>/dev/null ||
    ! ld -m elf_i386 -o "$work/exit" "$work/exit.o" 2>/dev/null; then
    echo "the i386 assembler or linker (binutils) is missing, so the kernel could not be probed"
    exit 1
fi
"$work/exit" 2>/dev/null
if [ $? -ne 42 ]; then
    echo "this kernel does not execute 32-bit x86 programs"
    exit 1
fi
[ "${1:-}" = --kernel ] && exit 0

if [ ! -x /usr/lib/wine/wine ]; then
    echo "32-bit Wine (wine32:i386) is not installed; scripts/setup.sh says why"
    exit 1
fi
exit 0
