# Sourced, first thing, by every script that runs Wine programs: runs the
# script again with the kernel's address-space randomisation off, for it and
# every process it starts (the personality is inherited).
#
# Why: Debian's 64-bit Wine has no preloader, and wine64 is not
# position-independent: it lies at 0x7d000000 and its heap begins at a random
# place up to 1 GiB above it. Where the heap covers 0x7ffe0000, the address
# Wine must give the shared user data, the new process ends at once ("failed
# to map the shared user data: c0000018") and CreateProcess fails with 1:
# about one start in 4000 here, any program of any stage (the stand-in for
# the restart, a service's program). With the layout fixed, every start lays
# the process out the same.
if [ $((0x$(cat /proc/self/personality) & 0x0040000)) -eq 0 ]; then
    if setarch "$(uname -m)" -R true 2>/dev/null; then
        exec setarch "$(uname -m)" -R bash "$0" "$@"
    fi
    echo "$(basename "$0"): the address-space randomisation cannot be turned off here;" \
        "a Wine program may fail to start now and then" >&2
fi
