#!/usr/bin/env python3
"""The startup-script recipe from the release archive, under 32-bit Wine.

The archive (cmake --build --preset windows --target package) is unpacked into
a clean folder and its SHA256SUMS checked; then its fleet\\uninstall.cmd runs
under Wine's cmd as a computer startup script would, at each start of the
installed machine:
  - first start: preview's answer in the share, a marker, the uninstaller
    (which asks for the restart: Wine does not restart, so the script says so
    and ends with 3010);
  - the restart (Wine's wineboot carries out what waits for it);
  - next start: verify's answer in the share, the marker gone, status 0;
  - a later start: nothing done, status 0, nothing new in the share.
With a break planted that preview reports (the keyboard's function driver a
product service the run deletes), the first start ends with preview's 2
before the uninstaller, and the machine's registry is byte-identical. A
share that cannot be written is a line and status 3.

Where 32-bit Wine cannot run, says so and exits 77 (skipped).
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import zipfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import side_by_side_exe as side  # noqa: E402

WORK = "build/side/fleet"
KEYBOARD = "{4D36E96B-E325-11CE-BFC1-08002BE10318}"
MARKER = "drive_c/windows/Tallowin-uninstall.pending"


def unpack():
    """The archive unpacked into a clean folder, its sums checked; the folder."""
    archives = sorted(glob.glob("build/windows/tallowin-uninstaller-*.zip"))
    if not archives:
        print("   no archive: build/windows/tallowin-uninstaller-*.zip")
        raise side.Stop(1)
    release = os.path.join(WORK, "release")
    shutil.rmtree(release, ignore_errors=True)
    with zipfile.ZipFile(archives[-1]) as archive:
        archive.extractall(release)
    status = subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=release).returncode
    print("   %s unpacked, SHA256SUMS: %s" % (os.path.basename(archives[-1]),
                                            "ok" if status == 0 else "FAILED"))
    if status != 0:
        raise side.Stop(1)
    return release


def start(release, share):
    """One start of the machine: the recipe as a startup script runs it; its
    status (as a Unix process gives it: one byte, so 3010 is 194) and the
    lines it wrote."""
    script = os.path.join(release, "fleet", "uninstall.cmd")
    done = subprocess.run(["wine", "cmd", "/c", side.winpath(script), side.winpath(share)],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
    lines = [line.strip() for line in done.stdout.decode(errors="replace").splitlines()
             if line.strip().startswith("uninstall.cmd:")]
    return side.status_of(done), lines


def answer(share, kind):
    """The status a machine's answer in the share gives; None when there is none."""
    names = glob.glob(os.path.join(share, "*-%s.json" % kind))
    if len(names) != 1:
        return None
    try:
        return json.load(open(names[0], encoding="utf-8", errors="replace")).get("status")
    except ValueError:
        return "damaged"


def restart():
    """Programs that refused to stop end, as at a shutdown; Wine's own
    wineboot then carries out what waits for the restart."""
    shutil.copy(os.path.join(side.CLEAN, side.SYSTEM32, "wineboot.exe"),
                os.path.join(side.PREFIX, side.SYSTEM32))
    os.environ["WINEDLLOVERRIDES"] = os.environ["WINEDLLOVERRIDES"].replace(";wineboot.exe=n", "")
    for image in side.stubborn_programs(os.path.join(side.WORK, "snapshot.json")):
        if image:
            side.wine("taskkill", "/f", "/im", image, check=False)
    side.wineserver("-k", check=False)
    side.wine("wineboot", "-r")
    side.run("wineserver", "-w")
    side.wineserver("-p")


def check(results, what, ok, detail=""):
    results.append(ok)
    print("   %s: %s%s" % (what, "ok" if ok else "FAILED", ("  (" + detail + ")") if detail else ""))


def removal(release, results):
    """The installed machine through the recipe's three starts."""
    share = os.path.join(WORK, "share")
    shutil.rmtree(share, ignore_errors=True)
    os.makedirs(share)
    side.fresh_prefix()
    try:
        side.lay_down()
        side.vkcheck("snapshot", side.winpath(os.path.join(side.WORK, "snapshot.json")))
        status, lines = start(release, share)
        marker = os.path.isfile(os.path.join(side.PREFIX, MARKER))
        check(results, "first start: preview 0 in the share, the marker, the uninstaller, 3010",
              status == 3010 % 256 and answer(share, "preview") == 0 and marker,
              "status %d, preview %s, marker %s; %s" % (status, answer(share, "preview"),
                                                         "there" if marker else "absent",
                                                         " / ".join(lines)))
        restart()
        status, lines = start(release, share)
        marker = os.path.isfile(os.path.join(side.PREFIX, MARKER))
        check(results, "after the restart: verify 0 in the share, the marker gone, 0",
              status == 0 and answer(share, "verify") == 0 and not marker,
              "status %d, verify %s; %s" % (status, answer(share, "verify"), " / ".join(lines)))
        before = sorted(os.listdir(share))
        status, lines = start(release, share)
        check(results, "a later start: nothing done, 0",
              status == 0 and sorted(os.listdir(share)) == before,
              "status %d; %s" % (status, " / ".join(lines)))
        status, lines = start(release, os.path.join(WORK, "no-such-share"))
        check(results, "a share that cannot be written: a line and 3",
              status == 3 and any("cannot be written" in line for line in lines),
              "status %d; %s" % (status, " / ".join(lines)))
    finally:
        side.wineserver("-k", check=False)


def stopped_by_preview(release, results):
    """A break preview reports planted: the recipe stops before the uninstaller."""
    machine = json.load(open(side.MACHINE))
    machine["devices"].append({"instance": "ROOT\\VKTESTKBD\\0000", "class": KEYBOARD,
                               "hardwareIds": ["Vk\\TestKbd"], "service": "DzUsbKeyboard"})
    planted = os.path.join(WORK, "planted.json")
    with open(planted, "w") as out:
        json.dump(machine, out)
    share = os.path.join(WORK, "share-planted")
    shutil.rmtree(share, ignore_errors=True)
    os.makedirs(share)
    side.MACHINE = planted
    side.fresh_prefix()
    try:
        side.lay_down()
        side.wine("regedit", "/E", side.winpath(os.path.join(WORK, "planted.before")),
                  "HKEY_LOCAL_MACHINE")
        status, lines = start(release, share)
        side.wine("regedit", "/E", side.winpath(os.path.join(WORK, "planted.after")),
                  "HKEY_LOCAL_MACHINE")
        marker = os.path.isfile(os.path.join(side.PREFIX, MARKER))
        same = (open(os.path.join(WORK, "planted.before"), "rb").read() ==
                open(os.path.join(WORK, "planted.after"), "rb").read())
        check(results, "a break preview reports: preview 2 in the share, stopped before the "
              "uninstaller, the registry byte-identical",
              status == 2 and answer(share, "preview") == 2 and not marker and same and
              answer(share, "verify") is None,
              "status %d, preview %s, marker %s, registry %s; %s" % (
                  status, answer(share, "preview"), "there" if marker else "absent",
                  "the same" if same else "CHANGED", " / ".join(lines)))
    finally:
        side.wineserver("-k", check=False)


def main():
    side.fixed_layout()
    os.chdir(side.ROOT)
    sys.stdout.reconfigure(errors="surrogateescape", line_buffering=True)
    os.environ.update(WINEDEBUG="-all", WINEARCH="win32",
                      WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    os.environ.pop("DISPLAY", None)
    print("== the startup-script recipe from the release archive, under 32-bit Wine")
    if shutil.which("wine") is None:
        side.skip("no wine")
    if not os.access("/usr/lib/wine/wine", os.X_OK):
        side.skip("32-bit Wine (wine32) is not installed")
    side.WORK = os.path.join(WORK, "machine")
    try:
        side.build()
        side.run("cmake", "--build", "--preset", "windows", "--target", "package")
        os.makedirs(os.path.join(side.WORK, "wine"), exist_ok=True)
        os.makedirs(os.path.dirname(side.MACHINE), exist_ok=True)
        if not os.path.isfile(side.MACHINE):
            side.run("build/host/vk_machines", os.path.dirname(side.MACHINE))
        release = unpack()
        results = []
        removal(release, results)
        stopped_by_preview(release, results)
    except side.Stop as stop:
        sys.exit(stop.status)
    print("   recipe: %d of %d checks ok" % (sum(results), len(results)))
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
