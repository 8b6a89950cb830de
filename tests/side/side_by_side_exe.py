#!/usr/bin/env python3
"""The release programs themselves under 32-bit Wine: the typical installed
machine laid down, build/windows/VkUninst.exe run on it, and its console line,
exit status and change list checked against the simulator's. VkCheck.exe on
the same machine: its reading leaves the registry as it was, byte for byte;
its preview is the change list the real run then gives; after the restart
verify finds nothing, and with each kind of leftover or break of the next
boot planted (tests/side/plants.py) it exits with the right status and names
it. On the installed machine, the restarted one and each one planted, the
Linux vk_check's offline verify of hives made from the registry Wine holds
gives the live verify's status and findings (tests/side/offline_side.py).
The run prints VkCheck's figures as it measures them: preview's and verify's
time against a program that does nothing, and the snapshot's size.

    side_by_side_exe.py             the whole stage; exit status 0 when it passed
    side_by_side_exe.py --figures   only the figures, on the machine laid down

Where 32-bit Wine cannot run, says so and why, and exits 77 (skipped).
"""
import ctypes
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
import offline_side  # noqa: E402 (tests/side/offline_side.py)

ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
WORK = "build/side/exe"  # the figures alone: build/side/figures
MACHINE = "build/side/machines/installed.json"
SIDE_RUN = "build/side32/side_run.exe"
VKCHECK = "build/windows/VkCheck.exe"
CLEAN = os.path.join(ROOT, "build/side32/prefix.clean")
PREFIX = os.path.join(ROOT, "build/side32/prefix")
SYSTEM32 = "drive_c/windows/system32"
PRODUCT = os.path.join(PREFIX, "drive_c/Program Files/Tallowin")
ADDR_NO_RANDOMIZE = 0x0040000


class Stop(Exception):
    """A step the stage cannot go on without failed: the stage ends with its status."""

    def __init__(self, status):
        super().__init__(status)
        self.status = status


def fixed_layout():
    """The kernel's address-space randomisation off for every program started
    from here on, as scripts/fixed-layout.sh does for the scripts (see why there)."""
    libc = ctypes.CDLL(None, use_errno=True)
    persona = libc.personality(0xFFFFFFFF)
    if persona != -1 and (persona & ADDR_NO_RANDOMIZE or
                          libc.personality(persona | ADDR_NO_RANDOMIZE) != -1):
        return
    print("side_by_side_exe.py: the address-space randomisation cannot be turned off here;"
          " a Wine program may fail to start now and then", file=sys.stderr)


def skip(why):
    print("== the release program under 32-bit Wine: SKIPPED: " + why, flush=True)
    sys.exit(77)


def status_of(process):
    # As a shell gives it: a program ended by a signal has 128 and the signal.
    return process.returncode if process.returncode >= 0 else 128 - process.returncode


def winpath(path):
    return "Z:" + os.path.realpath(path).replace("/", "\\")


def log():
    return open(os.path.join(WORK, "wine.log"), "ab")


def run(*command, out=subprocess.DEVNULL, err=None, check=True, env=None):
    """Runs a program with no input; its status, or the stage stops on a failure when `check`."""
    sys.stdout.flush()
    status = status_of(subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=err, env=env))
    if check and status != 0:
        raise Stop(status)
    return status


def wine(*args, check=True):
    """A Windows program, its output and Wine's messages to the log."""
    with log() as wine_log:
        return run("wine", *args, out=wine_log, err=subprocess.STDOUT, check=check)


def vkcheck(*args, out=None):
    """VkCheck.exe: its status; its report to `out` (else this program's output)."""
    with log() as wine_log:
        return run("wine", VKCHECK, *args, out=out, err=wine_log, check=False)


def wineserver(flag, check=True):
    return run("wineserver", flag, err=subprocess.DEVNULL, check=check)


def write_to(path):
    return open(os.path.join(WORK, path), "wb")


def build():
    """The simulator's side, the release programs and the side-by-side programs for Windows."""
    for preset, targets in (("host", ["vk_side", "vk_machines", "vk_side_compare", "vk_check",
                                      "vk_empty_hive"]),
                            ("windows", []), ("side32", [])):
        run("cmake", "--preset", preset)
        run("cmake", "--build", "--preset", preset, "-j2", *(["--target", *targets] if targets
                                                              else []))


def fresh_prefix():
    """A clean 32-bit prefix, made once; each run works on a copy of it."""
    if not os.path.isfile(os.path.join(CLEAN, "system.reg")):
        shutil.rmtree(CLEAN, ignore_errors=True)
        env = dict(os.environ, WINEPREFIX=CLEAN)
        if run("wine", "wineboot", "-i", err=subprocess.DEVNULL, check=False, env=env) != 0:
            skip("a 32-bit prefix cannot be made here")
        run("wineserver", "-w", env=env)
    os.environ["WINEPREFIX"] = PREFIX
    shutil.rmtree(PREFIX, ignore_errors=True)
    run("cp", "-a", CLEAN, PREFIX)


def lay_down():
    """The installed machine laid down in one session that lasts until the
    session ends: VkCheck, the uninstaller and the runner's last reading run in
    it, and only a new session carries out the pending deletions."""
    wineserver("-p")
    with write_to("wine.log") as wine_log:
        run("wine", "cmd", "/c", "exit", out=wine_log, err=subprocess.STDOUT)
    for program in ("side_run.exe", "VkUninst.exe", "VkCheck.exe"):
        wine("reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\" + program, "/v", "Version",
             "/d", "winxp", "/f")
    # The restart the uninstaller asks for starts a stand-in that records it.
    shutil.copy(os.path.join(ROOT, "build/side32/fake_wineboot.exe"),
                os.path.join(PREFIX, SYSTEM32, "wineboot.exe"))
    os.environ["WINEDLLOVERRIDES"] += ";wineboot.exe=n"
    wine(SIDE_RUN, "--before", winpath(os.path.join(WORK, "wine")), winpath(MACHINE))


def export_registry(path):
    wine("regedit", "/E", winpath(os.path.join(WORK, path)))


def median_ms(*program):
    """A program's time from start to end, the median of five."""
    times = []
    for _ in range(5):
        with write_to("figure.out") as out:
            start = time.monotonic_ns()
            run("wine", *program, out=out, err=subprocess.STDOUT, check=False)
            times.append((time.monotonic_ns() - start) // 1000000)
    return sorted(times)[2]


def measure_figures():
    """VkCheck's figures, each time against a program that does nothing, and
    the size of the snapshot taken before them; written to figures.txt."""
    snapshot = os.path.join(WORK, "snapshot.json")
    figures = [("empty", median_ms("build/side32/empty_program.exe")),
               ("preview", median_ms(VKCHECK, "preview")),
               ("verify", median_ms(VKCHECK, "verify")),
               ("snapshot-bytes", os.path.getsize(snapshot) if os.path.exists(snapshot) else 0)]
    with open(os.path.join(WORK, "figures.txt"), "w") as out:
        for name, value in figures:
            print(name, value, file=out)
    return dict(figures)


def print_figures(figures):
    empty = figures["empty"]
    for name in ("preview", "verify"):
        ms = figures[name]
        times = ms / empty if empty else float("inf")
        print("   %s: %d ms against %d ms for a program that does nothing (%d ms of its own,"
              " %.1f times)" % (name, ms, empty, ms - empty, times))
    print("   snapshot of the installed machine: %d bytes" % figures["snapshot-bytes"])


def stubborn_programs(snapshot):
    """The program files of the services that refused to stop."""
    machine = json.load(open(snapshot))
    images = {key["path"].split("\\")[-1].upper(): value.get("text", "")
              for key in machine["registry"] for value in key["values"]
              if value["name"] == "ImagePath"}
    return [images.get(service["name"].upper(), "").split("\\")[-1]
            for service in machine["services"] if service["program"] == "refuses stop"]


def run_uninstaller():
    """VkUninst.exe on the machine, and the runner's reading after it; its exit status."""
    # A GUI-subsystem program's console text reaches only a terminal.
    with write_to("console.txt") as console:
        status = run("script", "-qefc", "wine build/windows/VkUninst.exe", "/dev/null",
                     out=console, err=subprocess.STDOUT, check=False)
    wine(SIDE_RUN, "--after", str(status), winpath(os.path.join(WORK, "wine")), winpath(MACHINE))
    # Windows deletes a service marked for deletion when it starts again; Wine
    # keeps the mark only while its service manager runs, and deletes the
    # service when its program ends. The programs of services that refused to
    # stop end here, as every program does when Windows shuts down.
    images = stubborn_programs(os.path.join(WORK, "snapshot.json"))
    with write_to("stubborn.txt") as out:
        out.write("".join(image + "\n" for image in images).encode())
    for image in images:
        if image:
            wine("taskkill", "/f", "/im", image, check=False)
    settle()
    return status


def settle():
    """The machine left to settle as it would on Windows (side_run.h, Settle);
    what has not by the bound is said."""
    with write_to("unsettled.txt") as out, log() as wine_log:
        status = run("wine", SIDE_RUN, "--settle", winpath(os.path.join(WORK, "wine")),
                     winpath(MACHINE), out=out, err=wine_log, check=False)
    if status != 0:
        left = open(os.path.join(WORK, "unsettled.txt"), errors="replace").read().split()
        print("   still marked for deletion after the bound: " + " ".join(left))


def restart(offline):
    """Wine's own wineboot carries out the pending operations; verify's status
    after it. The offline verify's against it is added to `offline`."""
    shutil.copy(os.path.join(CLEAN, SYSTEM32, "wineboot.exe"), os.path.join(PREFIX, SYSTEM32))
    os.environ["WINEDLLOVERRIDES"] = os.environ["WINEDLLOVERRIDES"].replace(";wineboot.exe=n", "")
    wine("wineboot", "-r")
    run("wineserver", "-w")
    wineserver("-p")
    try:
        with write_to("verify.after.txt") as out:
            status = vkcheck("verify", out=out)
        vkcheck("snapshot", winpath(os.path.join(WORK, "restarted.json")))
        offline.read_live(os.path.join(WORK, "offline", "restarted"))
    finally:
        wineserver("-k", check=False)
    offline.judge("restarted", os.path.join(WORK, "offline", "restarted"))
    return status


def put_back(saved):
    """The restarted machine again: its registry and the product's folder."""
    for name in os.listdir(saved):
        if name.endswith(".reg"):
            shutil.copy(os.path.join(saved, name), PREFIX)
    shutil.rmtree(PRODUCT, ignore_errors=True)
    if os.path.isdir(os.path.join(saved, "product")):
        run("cp", "-a", os.path.join(saved, "product"), PRODUCT)


def plant_leftovers(offline):
    """Each kind of leftover or break of the next boot planted on the
    restarted machine in turn (tests/side/plants.py), the machine put back
    between them. Rows of kind, expected status, status, whether the report
    names what it must and nothing it must not, and the status of the
    planting. The offline verify's against each machine planted is added to
    `offline`."""
    saved = os.path.join(WORK, "restarted")
    plants = os.path.join(WORK, "plants")
    for folder in (saved, plants):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    for name in os.listdir(PREFIX):
        if name.endswith(".reg"):
            shutil.copy(os.path.join(PREFIX, name), saved)
    if os.path.isdir(PRODUCT):
        run("cp", "-a", PRODUCT, os.path.join(saved, "product"))
    run(sys.executable, "tests/side/plants.py", os.path.join(WORK, "restarted.json"), plants,
        out=None)
    results = []
    for row in open(os.path.join(plants, "plants.txt")):
        plant = json.loads(row)
        kind, expected = plant["kind"], plant["status"]
        put_back(saved)
        wineserver("-p")
        try:
            planted = wine(SIDE_RUN, "--lay", winpath(os.path.join(plants, kind + ".json")),
                           check=False)
            with open(os.path.join(plants, kind + ".txt"), "wb") as out:
                got = vkcheck("verify", out=out)
            report = open(os.path.join(plants, kind + ".txt"), errors="replace").read()
            named = (all(text in report for text in plant["names"]) and
                     not any(text in report for text in plant["never"]))
            if planted == 0:
                offline.read_live(os.path.join(WORK, "offline", kind))
        finally:
            wineserver("-k", check=False)
        if planted == 0:
            offline.judge(kind, os.path.join(WORK, "offline", kind))
        results.append((kind, expected, got, named, planted))
    with write_to("plants.result") as out:
        for kind, expected, got, named, planted in results:
            out.write(("%s %d %d %s %d\n" % (kind, expected, got, "yes" if named else "no",
                                             planted)).encode())
    return results


def console_line():
    """The first line the uninstaller wrote, without the terminal's own
    control sequences."""
    text = open(os.path.join(WORK, "console.txt"), "rb").read().replace(b"\r", b"")
    text = re.sub(rb"\x1b\[[0-9;?]*[a-zA-Z]", b"", text)
    lines = [line for line in text.split(b"\n") if line]
    return lines[0].decode("utf-8", "surrogateescape") if lines else ""


def compare(sides, indent=""):
    """vk_side_compare of two sides' change lists; whether they agreed."""
    process = subprocess.run(["build/host/vk_side_compare", *sides, os.path.join(WORK, "list")],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    out = process.stdout.decode("utf-8", "surrogateescape")
    sys.stdout.write("".join(indent + line + "\n" for line in out.splitlines()))
    return process.returncode == 0


def indented(path, indent):
    text = open(path, "rb").read().decode("utf-8", "surrogateescape")
    sys.stdout.write("".join(indent + line + "\n" for line in text.splitlines()))


def figures_only():
    try:
        lay_down()
        vkcheck("snapshot", winpath(os.path.join(WORK, "snapshot.json")))
        figures = measure_figures()
    finally:
        wineserver("-k", check=False)
    print("== VkCheck.exe under 32-bit Wine on the installed machine: its figures")
    print_figures(figures)
    return 0


def whole_stage():
    start = time.time_ns()
    for side in ("sim", "wine", "offline"):
        shutil.rmtree(os.path.join(WORK, side), ignore_errors=True)
        os.makedirs(os.path.join(WORK, side))
    offline = offline_side.Comparison(MACHINE, os.path.join(PREFIX, "drive_c/windows"), wine,
                                      vkcheck, winpath)
    run("build/host/vk_side", os.path.join(WORK, "sim"), MACHINE)

    try:
        lay_down()
        # VkCheck before the run, between two exports of the whole registry.
        export_registry("registry.before")
        vkcheck("snapshot", winpath(os.path.join(WORK, "snapshot.json")))
        with write_to("preview.json") as out:
            preview_status = vkcheck("preview", "--json", out=out)
        with write_to("verify.before.txt") as out:
            vkcheck("verify", out=out)
        with write_to("detect.txt") as out:
            vkcheck("detect", out=out)
        export_registry("registry.after")
        # Offline against live on the installed machine too, before the run
        # changes it: the product's keys, files, services and Start menus.
        offline.read_live(os.path.join(WORK, "offline", "installed"))
        offline.judge("installed", os.path.join(WORK, "offline", "installed"))
        figures = measure_figures()
        status = run_uninstaller()
    finally:
        wineserver("-k", check=False)
    end = time.time_ns()

    verify_status = restart(offline)
    results = plant_leftovers(offline)

    line = console_line()
    simulated = json.load(open(os.path.join(WORK, "sim/installed.changes.json")))
    expected = simulated["console"].rstrip()
    elapsed = end - start
    print("== the release program under 32-bit Wine (%d.%09d s)" % divmod(elapsed, 10**9))
    print("   console: " + line)
    print("   exit status: %d" % status)
    failed = False
    if line != expected:
        print("   console line differs from the simulator's: " + expected)
        failed = True
    with open(os.path.join(WORK, "list"), "w") as out:
        print(os.path.realpath(MACHINE), file=out)
    sys.stdout.flush()
    failed |= not compare([os.path.join(WORK, "sim"), os.path.join(WORK, "wine")])

    print("== VkCheck.exe under 32-bit Wine on the same machine")
    before, after = (os.path.join(WORK, "registry." + when) for when in ("before", "after"))
    if open(before, "rb").read() == open(after, "rb").read():
        print("   registry before and after snapshot, preview, verify and detect: byte-identical"
              " (%d bytes exported)" % os.path.getsize(before))
    else:
        print("   the registry changed while VkCheck ran:")
        difference = subprocess.run(["diff", before, after], stdout=subprocess.PIPE).stdout
        sys.stdout.write("".join(line + "\n" for line in difference.decode(
            "utf-8", "surrogateescape").splitlines()[:20]))
        failed = True
    detect = open(os.path.join(WORK, "detect.txt"), "rb").read().decode("utf-8", "surrogateescape")
    print("   detect: " + detect.rstrip("\n"))
    if "Tallowin is installed" not in detect:
        print("   detect did not see the product")
        failed = True
    # The typical machine's run leaves every device able to start.
    if preview_status != 0:
        print("   preview gave %d, not 0" % preview_status)
        failed = True
    print_figures(figures)

    # The preview's changes in the form the comparison reads, against the real run's.
    os.makedirs(os.path.join(WORK, "preview"), exist_ok=True)
    preview = json.load(open(os.path.join(WORK, "preview.json")))
    with open(os.path.join(WORK, "preview/installed.changes.json"), "w") as out:
        json.dump({"changes": preview["changes"], "result": preview["uninstallerResult"]}, out,
                  indent=1)
    print("   preview (exit status %d) against the real run:" % preview_status)
    failed |= not compare([os.path.join(WORK, "preview"), os.path.join(WORK, "wine")], "   ")

    print("   verify after the restart: exit status %d" % verify_status)
    if verify_status != 0:
        indented(os.path.join(WORK, "verify.after.txt"), "     ")
        failed = True
    # A Unix process's exit status is a byte: Windows' 3010 reaches here as 194.
    print("   verify with one thing planted (kind: expected status, status, named):")
    for kind, expected, got, named, planted in results:
        verdict = "ok"
        if planted != 0:
            verdict = "NOT PLANTED"
        elif got != expected % 256 or not named:
            verdict = "WRONG"
        print("     %s: %d, %d, %s: %s" % (kind, expected, got, "yes" if named else "no", verdict))
        if verdict != "ok":
            indented(os.path.join(WORK, "plants", kind + ".txt"), "       ")
            failed = True
    failed |= not offline.report()
    return 1 if failed else 0


def main():
    figures = sys.argv[1:] == ["--figures"]
    if sys.argv[1:] and not figures:
        sys.exit(__doc__)
    global WORK
    if figures:
        WORK = "build/side/figures"
    fixed_layout()
    os.chdir(ROOT)
    sys.stdout.reconfigure(errors="surrogateescape", line_buffering=True)
    os.environ.update(WINEDEBUG="-all", WINEARCH="win32",
                      WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    os.environ.pop("DISPLAY", None)
    if shutil.which("wine") is None:
        skip("no wine")
    if not os.access("/usr/lib/wine/wine", os.X_OK):
        skip("32-bit Wine (wine32) is not installed")
    try:
        build()
        os.makedirs(WORK, exist_ok=True)
        os.makedirs(os.path.dirname(MACHINE), exist_ok=True)
        if not os.path.isfile(MACHINE):
            run("build/host/vk_machines", os.path.dirname(MACHINE))
        fresh_prefix()
        sys.exit(figures_only() if figures else whole_stage())
    except Stop as stop:
        sys.exit(stop.status)


if __name__ == "__main__":
    main()
