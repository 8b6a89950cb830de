# Sourced, first thing, by the stages that run the release programs under
# 32-bit Wine, after setting `stage` to the line's title: the address-space
# randomisation off (fixed-layout.sh), the repository's root as the current
# folder and $root, Wine quiet and without a display, `winpath FILE` (a file
# as Wine names it), and `skip WHY`, which says why the stage cannot run and
# exits 77. The stage is skipped where 32-bit Wine cannot run.
. "$(dirname "$0")/fixed-layout.sh"
cd "$(dirname "$0")/.."
root=$PWD
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEARCH=win32
unset DISPLAY
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
skip() {
    echo "== $stage: SKIPPED: $1"
    exit 77
}
command -v wine >/dev/null || skip "no wine"
why=$(scripts/x86-32-status.sh) || skip "$why"
