#!/usr/bin/env bash
# Installs the tools the builds need where a fresh Debian machine lacks them,
# and 32-bit Wine where the kernel executes 32-bit x86 programs.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

# An index that fails to download (a mirror in the middle of a sync) leaves
# the others usable: carry on with what there is.
updated=0
update() {
    [ "$updated" -eq 1 ] && return
    apt-get update -qq 2>/dev/null || echo "== apt-get update: some indexes could not be fetched"
    updated=1
}

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686-win32)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v i686-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-i686)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
# Windows' case table and code page as Wine ships them: the references the
# comparison of names without case is tested against (tests/unicode_test.cpp).
[ -f /usr/share/wine/nls/l_intl.nls ] && [ -f /usr/share/wine/nls/c_1252.nls ] || need+=(libwine)
command -v clang++ >/dev/null || need+=(clang)
command -v clang-format >/dev/null || need+=(clang-format)
[ -n "$(find /usr/lib/llvm-*/lib/clang -name 'libclang_rt.fuzzer-x86_64.a' 2>/dev/null | head -1)" ] ||
    need+=(libclang-rt-14-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/hivex.h ] || need+=(libhivex-dev)
# The fleet report's page is opened in a headless browser by its test.
command -v chromium >/dev/null || need+=(chromium)
# hivexregedit, which writes the Wine registry's exports into hives for the
# offline verify that side_by_side_exe.py compares with the live one.
command -v hivexregedit >/dev/null || need+=(libwin-hivex-perl)
# The real machines' hives are laid out with their image files by
# tests/real/real_hives.py through hivex's Python binding.
/usr/bin/python3 -c 'import hivex' 2>/dev/null || need+=(python3-hivex)
# The release packages' checks (scripts/package-check.sh): the Debian
# package's dependencies found by dpkg-shlibdeps, the ZIP unpacked, the
# manual page found and formatted.
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v unzip >/dev/null || need+=(unzip)
command -v man >/dev/null || need+=(man-db)
command -v groff >/dev/null || need+=(groff-base)

if [ ${#need[@]} -gt 0 ]; then
    echo "== installing: ${need[*]}"
    update
    apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The versions apt must hold to install 32-bit Wine when the i386 index lags
# behind the amd64 one (a security index that failed to download): every
# library both architectures share, at the version the i386 index has, and
# whatever that moves, at the version of the same release. Prints
# "package=version" words; empty when it finds no way.
wine32_versions() {
    local suite pins=() p base version tries out moved
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    for p in $(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances wine32:i386 2>/dev/null | grep -v '^ ' | grep ':i386$' | sort -u); do
        base=${p%:i386}
        dpkg-query -W -f='${Status}' "$base:amd64" 2>/dev/null | grep -q 'ok installed' || continue
        apt-cache show "$p" 2>/dev/null | grep -qx 'Multi-Arch: same' || continue
        version=$(apt-cache policy "$p" | awk '/Candidate:/ {print $2}')
        [ "$version" = "(none)" ] || pins+=("$base:amd64=$version" "$base:i386=$version")
    done
    for tries in 1 2 3 4 5 6; do
        out=$(apt-get install -s --allow-downgrades --no-install-recommends wine32:i386 "${pins[@]}" 2>&1) && {
            echo "${pins[@]}"
            return
        }
        # Packages the plan removes, or wants at another version than it
        # picked: held at their version of the release itself.
        moved=$( (grep '^Remv' <<<"$out" | awk '{print $2}'
            sed -n 's/.*Depends: \([^ ]*\) (= [^)]*) but .* is to be installed.*/\1/p' <<<"$out") | sort -u)
        [ -n "$moved" ] || return
        for p in $moved; do
            version=$(apt-cache madison "$p" |
                awk -F'|' -v s="$suite/main" '$3 ~ s" " && $3 !~ /security/ {gsub(/ /, "", $2); print $2; exit}')
            [ -n "$version" ] && pins+=("$p=$version")
        done
    done
}

if [ ! -x /usr/lib/wine/wine ]; then
    if why=$(scripts/x86-32-status.sh --kernel); then
        echo "== installing 32-bit Wine (wine32:i386)"
        dpkg --print-foreign-architectures | grep -qx i386 || { dpkg --add-architecture i386; updated=0; }
        update
        if ! apt-get install -y -qq wine32:i386 >/dev/null 2>&1; then
            versions=$(wine32_versions)
            if [ -n "$versions" ]; then
                echo "== the i386 index lags behind: holding the shared libraries at its versions"
                # shellcheck disable=SC2086
                apt-get install -y -qq --allow-downgrades --no-install-recommends wine32:i386 $versions \
                    >/dev/null || true
            fi
        fi
        [ -x /usr/lib/wine/wine ] ||
            echo "== 32-bit Wine could not be installed (unmet i386 dependencies); the 32-bit stage will be skipped"
    else
        echo "== no 32-bit Wine: $why"
    fi
fi
