#!/usr/bin/env bash
# The release packages, made and checked as an administrator gets them: a
# stage of scripts/test.sh, after the windows and host builds it needs.
#
# - The ZIP (`cmake --build --preset windows --target package`), unpacked in a
#   clean folder: it holds exactly VkUninst.exe, VkCheck.exe, README.txt,
#   fleet/uninstall.cmd and SHA256SUMS; `sha256sum -c SHA256SUMS` passes;
#   README.txt and uninstall.cmd end their lines in CR LF, and README.txt
#   holds only ASCII and Windows-1252 and no markdown; both programs' version
#   resources and `VkCheck.exe --version` (under 32-bit Wine, where it runs)
#   give the version of CMakeLists.txt's project(). The converter of
#   README.md (cmake/readme_txt.cmake) is tried on a sample first.
# - The Debian package (`cmake --build --preset release-linux --target
#   package`): its name, files and dependencies; installed with apt-get, its
#   `vk_check --version`, `verify --from` a snapshot and `verify --windows` a
#   disk (the installed machine's, written by vk_offline_disk) answer as the
#   host build does; `man -w vk_check` finds its page, which groff formats
#   without a warning; removed, vk_check is gone.
#
# Exit status 0 when every check passed, 77 when all that ran passed but a
# part could not run here (it says which), 1 otherwise.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$PWD
work=$root/build/package
rm -rf "$work"
mkdir -p "$work"
failures=0
skips=0
start=$(date +%s)
fail() {
    echo "   FAILED: $*"
    failures=$((failures + 1))
}
ok() { echo "   ok: $*"; }

version=$(sed -n 's/^project(TallowinUninstaller VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt's project()"; exit 1; }
# The four numbers of a Windows version resource.
file_version=$version
while [ "$(tr -cd . <<<"$file_version" | wc -c)" -lt 3 ]; do file_version=$file_version.0; done
echo "   the project's version: $version"

# Bytes a text file may hold: printable ASCII, CR, LF, and the characters
# Windows-1252 defines above 0x7F (0x81, 0x8D, 0x8F, 0x90 and 0x9D it does not).
crlf_text() {
    local lines crs bad
    lines=$(tr -cd '\n' <"$1" | wc -c)
    crs=$(tr -cd '\r' <"$1" | wc -c)
    bad=$(LC_ALL=C grep -c -v $'\r$' "$1")
    [ "$lines" -gt 0 ] && [ "$crs" -eq "$lines" ] && [ "$bad" -eq 0 ] && [ -z "$(tail -c 2 "$1" | tr -d '\r\n')" ]
}
windows_1252() {
    [ "$(LC_ALL=C tr -d '\r\n\040-\176\200\202-\214\216\221-\234\236-\377' <"$1" | wc -c)" -eq 0 ]
}

# A PE file's version resource: its fixed part's file and product versions
# (VS_FIXEDFILEINFO, after the signature 0xFEEF04BD, each two 32-bit words
# of two 16-bit numbers, high first) and its string table's FileVersion and
# ProductVersion.
resource_versions() {
    local offset w
    offset=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -n 1 | cut -d: -f1)
    [ -n "$offset" ] || { echo "(no version resource)"; return; }
    read -r -a w <<<"$(od -An -tu2 -j$((offset + 8)) -N16 "$1")"
    echo "${w[1]}.${w[0]}.${w[3]}.${w[2]} ${w[5]}.${w[4]}.${w[7]}.${w[6]}" \
        "$(strings -e l "$1" | grep -A1 -x FileVersion | sed -n 2p)" \
        "$(strings -e l "$1" | grep -A1 -x ProductVersion | sed -n 2p)"
}

echo "== README.txt's converter on a sample: headings, code, emphasis, a table, Windows-1252"
mkdir -p "$work/converter"
printf '%s\n' '# Title é' '' 'Some `code` and **strong** and *em* — a [link](http://x.example/) ; [x].' \
    '' '## Section' '' '| a | long header here |' '|---|---|' '| 1 | one |' '| 10 | ten |' '' \
    '1. An item' '' '    continued `x`' '2. Next' '' 'Paragraph:' '' '    code *kept* `as is`' '' \
    '### Sub `name`' '## Quick start' 'not in it' >"$work/converter/sample.md"
printf '%s\r\n' '=======' $'Title \xe9' '=======' '' $'Some code and *strong* and em \x97 a link (http://x.example/) ; [x].' \
    '' 'Section' '=======' '' '| a   | long header here |' '|-----|-----|' '| 1   | one |' '| 10  | ten |' '' \
    '1. An item' '' '    continued x' '2. Next' '' 'Paragraph:' '' '    code *kept* `as is`' '' \
    'Sub name' '--------' >"$work/converter/expected.txt"
to_text() { cmake -DREADME="$1" -DOUTPUT="$2" -P cmake/readme_txt.cmake >"$2.log" 2>&1; }
if to_text "$work/converter/sample.md" "$work/converter/sample.txt" &&
    cmp -s "$work/converter/expected.txt" "$work/converter/sample.txt"; then
    ok "the sample as expected"
else
    fail "the sample's README.txt is not the expected one:"
    diff <(od -c "$work/converter/expected.txt") <(od -c "$work/converter/sample.txt" 2>&1) | head -n 20
fi
# Refused, with the line named: a character Windows-1252 lacks; no end of the part.
printf '# T\n\nfine\nnot \xe2\x9c\x93 this\n## Quick start\n' >"$work/converter/outside.md"
printf '# T\n\nno end\n' >"$work/converter/no-end.md"
for trial in outside:'outside.md:4:' no-end:'no "## Quick start" heading'; do
    name=${trial%%:*}
    if ! to_text "$work/converter/$name.md" "$work/converter/$name.txt" &&
        [ ! -e "$work/converter/$name.txt" ] && tr '\n' ' ' <"$work/converter/$name.txt.log" | tr -s ' ' | grep -qF "${trial#*:}"; then
        ok "$name: refused, saying so"
    else
        fail "$name: not refused as it should be: $(head -c 300 "$work/converter/$name.txt.log")"
    fi
done

echo "== the ZIP: tallowin-uninstaller-$version.zip"
zip=build/windows/tallowin-uninstaller-$version.zip
rm -f build/windows/tallowin-uninstaller-*.zip
if ! cmake --build --preset windows --target package >"$work/zip-build.log" 2>&1; then
    fail "the ZIP was not made:"
    grep -E -A3 'Error|error:' "$work/zip-build.log" | head -n 12
elif [ ! -f "$zip" ]; then
    fail "the ZIP is not $zip: $(ls build/windows/*.zip 2>/dev/null | tr '\n' ' ')"
else
    echo "   $zip: $(stat -c %s "$zip") bytes"
    unzipped=$work/zip
    mkdir "$unzipped"
    unzip -q "$zip" -d "$unzipped" || fail "unzip failed"
    files=$(cd "$unzipped" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
    expected="README.txt SHA256SUMS VkCheck.exe VkUninst.exe fleet/uninstall.cmd "
    [ "$files" = "$expected" ] && ok "it holds $files" || fail "it holds: $files (expected: $expected)"
    if [ -f "$unzipped/SHA256SUMS" ]; then
        listed=$(awk '{print $2}' "$unzipped/SHA256SUMS" | LC_ALL=C sort | tr '\n' ' ')
        if sums=$(cd "$unzipped" && sha256sum -c --strict SHA256SUMS 2>&1) &&
            [ "$listed" = "${expected/SHA256SUMS /}" ]; then
            ok "sha256sum -c SHA256SUMS: every other file, each OK"
        else
            fail "SHA256SUMS lists $listed: $sums"
        fi
    fi
    text=$unzipped/README.txt
    if [ -f "$text" ]; then
        crlf_text "$text" && ok "README.txt: every line ends in CR LF" || fail "README.txt has a line not ended in CR LF"
        windows_1252 "$text" && ok "README.txt: ASCII and Windows-1252 alone" ||
            fail "README.txt holds bytes outside ASCII and Windows-1252"
        # Its headings: the README's up to "## Quick start", each underlined (the title also overlined).
        part=$(sed '/^## Quick start/,$d' README.md)
        headings=$(grep -c '^#' <<<"$part")
        titles=$(grep -c '^# ' <<<"$part")
        bars=$(tr -d '\r' <"$text" | grep -c -E '^(=+|-+)$')
        markup=$(tr -d '\r' <"$text" | grep -n -E '`|\*\*|^#' | head -n 3)
        if [ "$bars" -eq $((headings + titles)) ] && [ -z "$markup" ] &&
            ! tr -d '\r' <"$text" | grep -qx 'Quick start'; then
            ok "README.txt: the administrators' part, its $headings headings underlined, no markdown left"
        else
            fail "README.txt: $bars heading bars for $headings headings; markdown left: $markup"
        fi
    fi
    cmd=$unzipped/fleet/uninstall.cmd
    if [ -f "$cmd" ]; then
        crlf_text "$cmd" && ok "fleet/uninstall.cmd: every line ends in CR LF" ||
            fail "fleet/uninstall.cmd has a line not ended in CR LF (cmd.exe misreads labels then)"
    fi
    for exe in VkUninst.exe VkCheck.exe; do
        [ -f "$unzipped/$exe" ] || continue
        got=$(resource_versions "$unzipped/$exe")
        want="$file_version $file_version $file_version $file_version"
        [ "$got" = "$want" ] && ok "$exe: version resource $file_version (file and product, fixed and text)" ||
            fail "$exe: version resource '$got', not '$want'"
    done
    if [ -f "$unzipped/VkCheck.exe" ]; then
        if why=$(scripts/x86-32-status.sh); then
            prefix=$work/wineprefix
            out=$(VK_WINEPREFIX=$prefix scripts/wine-run.sh "$unzipped/VkCheck.exe" --version 2>&1)
            status=$?
            WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
            first=$(head -n 1 <<<"$out" | tr -d '\r')
            [ "$status" -eq 0 ] && [ "$first" = "VkCheck $version" ] &&
                ok "VkCheck.exe --version under 32-bit Wine: $first" ||
                fail "VkCheck.exe --version under 32-bit Wine: exit status $status, first line '$first' (expected 'VkCheck $version')"
        else
            echo "   SKIPPED: VkCheck.exe --version under Wine: $why"
            skips=$((skips + 1))
        fi
    fi
fi

echo "== the Debian package: vk-check_${version}_amd64.deb"
deb=build/release-linux/vk-check_${version}_amd64.deb
rm -f build/release-linux/vk-check_*.deb
if ! { cmake --preset release-linux && cmake --build --preset release-linux --target package -j "$(nproc)"; } \
    >"$work/deb-build.log" 2>&1; then
    fail "the Debian package was not made:"
    grep -E -A3 'Error|error:' "$work/deb-build.log" | head -n 12
elif [ ! -f "$deb" ]; then
    fail "the package is not $deb: $(ls build/release-linux/*.deb 2>/dev/null | tr '\n' ' ')"
else
    echo "   $deb: $(stat -c %s "$deb") bytes"
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | LC_ALL=C sort | tr '\n' ' ')
    expected="./usr/bin/vk_check ./usr/share/man/man1/vk_check.1.gz "
    [ "$files" = "$expected" ] && ok "it holds $files" || fail "it holds: $files (expected: $expected)"
    depends=$(dpkg-deb -f "$deb" Depends)
    names=$(sed 's/([^)]*)//g' <<<"$depends" | tr ',|' '\n\n' | tr -d ' ')
    missing=""
    for library in libc6 libstdc++6 libgcc-s1 libhivex0; do
        grep -qxF "$library" <<<"$names" || missing+=" $library"
    done
    [ -z "$missing" ] && ok "it depends on: $depends" || fail "its Depends ($depends) lacks:$missing"
    fields="$(dpkg-deb -f "$deb" Package Version Architecture Section Maintainer | tr '\n' ' ')"
    grep -q "^Package: vk-check Version: $version Architecture: amd64 Section: admin Maintainer: .*<.*@.*>" <<<"$fields" &&
        ok "$fields" || fail "its fields: $fields"

    if [ "$(id -u)" -ne 0 ]; then
        echo "   SKIPPED: installing the package: not root"
        skips=$((skips + 1))
    else
        # A disk (the installed machine's, switched off) and a snapshot of it,
        # made by the host build, which the installed program must answer alike.
        disk=$work/disk
        build/host/vk_offline_disk "$disk" --devices 0 --keys 0 >/dev/null &&
            build/host/vk_check snapshot "$work/machine.json" --windows "$disk/WINDOWS" >/dev/null 2>&1 ||
            fail "no disk or snapshot from the host build (build/host/vk_offline_disk, vk_check)"
        dpkg-query -W -f='${Status}' vk-check 2>/dev/null | grep -q 'ok installed' &&
            apt-get remove -y -qq vk-check >/dev/null 2>&1
        if ! apt-get install -y "./$deb" >"$work/apt-install.log" 2>&1; then
            fail "apt-get install ./$deb failed: $(tail -n 5 "$work/apt-install.log")"
        else
            hash -r
            ok "apt-get install ./$deb: $(command -v vk_check)"
            out=$(vk_check --version 2>&1)
            status=$?
            first=$(head -n 1 <<<"$out")
            [ "$status" -eq 0 ] && [ "$first" = "VkCheck $version" ] && ok "vk_check --version: $first" ||
                fail "vk_check --version: exit status $status, first line '$first' (expected 'VkCheck $version')"
            for where in "--from $work/machine.json" "--windows $disk/WINDOWS"; do
                # shellcheck disable=SC2086
                installed=$(vk_check verify $where 2>&1)
                installed_status=$?
                # shellcheck disable=SC2086
                host=$(build/host/vk_check verify $where 2>&1)
                host_status=$?
                case $installed_status in
                0 | 1 | 2 | 194) verdict=yes ;;
                *) verdict=no ;;
                esac
                if [ "$verdict" = yes ] && [ "$installed_status" -eq "$host_status" ] && [ "$installed" = "$host" ]; then
                    ok "vk_check verify ${where%% *}: exit status $installed_status, the host build's report"
                else
                    fail "vk_check verify $where: exit status $installed_status (host build: $host_status)"
                    diff <(echo "$host") <(echo "$installed") | head -n 10
                fi
            done
            page=$(man -w vk_check 2>&1)
            [ "$page" = /usr/share/man/man1/vk_check.1.gz ] && ok "man -w vk_check: $page" ||
                fail "man -w vk_check: $page"
            warnings=$(zcat /usr/share/man/man1/vk_check.1.gz 2>&1 | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1)
            [ -z "$warnings" ] && ok "groff -man -ww formats the installed page without a warning" ||
                fail "groff -man -ww on the installed page: $warnings"
        fi
        if apt-get remove -y vk-check >"$work/apt-remove.log" 2>&1; then
            hash -r
            if command -v vk_check >/dev/null || [ -e /usr/bin/vk_check ] ||
                [ -e /usr/share/man/man1/vk_check.1.gz ]; then
                fail "after apt-get remove vk-check: $(command -v vk_check) $(ls /usr/share/man/man1/vk_check.1.gz 2>/dev/null)"
            else
                ok "apt-get remove vk-check: vk_check and its page are gone"
            fi
        else
            fail "apt-get remove vk-check failed: $(tail -n 5 "$work/apt-remove.log")"
        fi
    fi
fi

echo "   the packages: $failures failed, $skips skipped; $(($(date +%s) - start)) s"
[ "$failures" -eq 0 ] || exit 1
[ "$skips" -eq 0 ] || exit 77
exit 0
