#!/usr/bin/env python3
"""fleet\\uninstall.cmd through its later starts, under 64-bit Wine's cmd.

The release's programs are 32-bit, which 64-bit Wine alone cannot run, so
VkCheck.exe and VkUninst.exe are stood in for (tests/side/fleet_stand_in.c,
cross-built for 64-bit Windows): the machine is a word the stand-ins read,
the uninstaller's outcome one the test plants. The script itself is the
release's. Through the restart with a break verify reports (2), every later
start runs verify again, ends with 2 and keeps its marker; once the machine
is mended verify's 0 ends it and the marker goes, and a start after that does
nothing. A verify of 1 runs the removal again in the same start.

Where Wine or the cross compiler is missing, says so and exits 77 (skipped).
"""
import json
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WORK = os.path.join(ROOT, "build", "side", "fleet64")
PREFIX = os.path.join(WORK, "prefix")
WINDOWS = os.path.join(PREFIX, "drive_c", "windows")
MARKER = os.path.join(WINDOWS, "Tallowin-uninstall.pending")
RELEASE = os.path.join(PREFIX, "drive_c", "release")
SHARE = os.path.join(PREFIX, "drive_c", "share")


def plant(machine, after=None):
    """The machine as the stand-ins read it, and what the uninstaller leaves."""
    with open(os.path.join(WINDOWS, "vk-stand-in.txt"), "w") as out:
        out.write(machine + "\n")
    if after is not None:
        with open(os.path.join(WINDOWS, "vk-stand-in.after"), "w") as out:
            out.write(after + "\n")


def start():
    """One start: the script as a startup script runs it; its status (one
    byte, so 3010 is 194), the verify answer's status in the share (None
    when none) and whether the marker is there."""
    done = subprocess.run(["wine", "cmd", "/c", "C:\\release\\fleet\\uninstall.cmd", "C:\\share"],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
    verify = os.path.join(SHARE, "%s-verify.json" % computer())
    status = json.load(open(verify))["status"] if os.path.isfile(verify) else None
    return done.returncode, status, os.path.isfile(MARKER)


def computer():
    names = [name for name in os.listdir(SHARE) if name.endswith(".json")]
    return names[0].rsplit("-", 1)[0] if names else "?"


def main():
    for tool in ("wine", "x86_64-w64-mingw32-gcc"):
        if shutil.which(tool) is None:
            print("   skipped: no %s" % tool)
            sys.exit(77)
    print("== fleet\\uninstall.cmd through its later starts, under 64-bit Wine's cmd")
    os.environ.update(WINEPREFIX=PREFIX, WINEARCH="win64", WINEDEBUG="-all",
                      WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    os.environ.pop("DISPLAY", None)
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), PREFIX, "win64"], check=True)
    os.makedirs(os.path.join(RELEASE, "fleet"))
    os.makedirs(SHARE)
    shutil.copy(os.path.join(ROOT, "fleet", "uninstall.cmd"), os.path.join(RELEASE, "fleet"))
    source = os.path.join(ROOT, "tests", "side", "fleet_stand_in.c")
    for program, define in (("VkCheck.exe", []), ("VkUninst.exe", ["-DUNINSTALLER"])):
        subprocess.run(["x86_64-w64-mingw32-gcc", "-Wall", "-Werror", *define, "-o",
                        os.path.join(RELEASE, program), source], check=True)

    results = []

    def check(what, got, expected):
        results.append(got == expected)
        print("   %s: %s  (status, verify, marker: %s%s)" % (
            what, "ok" if got == expected else "FAILED", got,
            "" if got == expected else ", expected %s" % (expected,)))

    plant("installed", after="unsafe")
    check("first start: preview, the marker, the uninstaller, 3010", start(),
          (3010 % 256, None, True))
    check("after the restart: verify reports the break, 2, the marker kept", start(),
          (2, 2, True))
    for later in (1, 2):
        check("later start %d: verify again, 2 to the distribution tool" % later, start(),
              (2, 2, True))
    plant("sound")
    check("mended: verify 0, the marker gone", start(), (0, 0, False))
    before = sorted(os.listdir(SHARE))
    check("a start after that: nothing done, 0", start(), (0, 0, False))
    results.append(sorted(os.listdir(SHARE)) == before)

    # Verify of 1 (a second run would change something): the removal runs
    # again in that start, its marker kept until verify gives 0.
    open(MARKER, "w").close()
    plant("installed", after="sound")
    check("verify 1 with the marker: the removal again, 3010", start(), (3010 % 256, 1, True))
    check("after that restart: verify 0, the marker gone", start(), (0, 0, False))
    subprocess.run(["wineserver", "-k"], check=False)
    print("   later starts: %d of %d checks ok" % (sum(results), len(results)))
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
