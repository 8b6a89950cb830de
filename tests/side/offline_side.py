"""Offline verify against the live one, on a machine under Wine: the
prefix's registry exported with Wine's regedit while the machine runs, what
the reader looks at of it written into a SYSTEM and a SOFTWARE hive (an
empty hive from vk_empty_hive, filled by hivexregedit), and the verdict of
build/host/vk_check on those hives and the prefix's Windows folder compared
with the release VkCheck.exe's on the running machine: the same status and
the same findings (kind, where, detail, status). No difference on the
machines compared is Wine's: each one fails the stage.

side_by_side_exe.py calls Comparison.read_live in the machine's Wine session,
after its own verify, and Comparison.judge after it (in the session or
after), before the machine is changed again.
"""
import collections
import hashlib
import json
import os
import re
import subprocess
import time

VK_CHECK = "build/host/vk_check"
VK_EMPTY_HIVE = "build/host/vk_empty_hive"
MACHINE_KEY = "HKEY_LOCAL_MACHINE\\"

# What is written into each hive: the keys the reader looks at and all below
# them. SYSTEM whole (it is small under Wine); of SOFTWARE the Windows version
# and system folder, the program files folder, Winlogon's packages, the
# display control panel's handlers, and the product's COM classes (those the
# installed machine holds), not the thousands of classes Wine registers.
SYSTEM = "System"
SOFTWARE_TREES = ["Software\\Microsoft\\Windows NT\\CurrentVersion",
                  "Software\\Microsoft\\Windows\\CurrentVersion"]
# Each regedit is a Wine program, and a tree of many keys takes many calls to
# Wine's server: SYSTEM and "Microsoft" (both trees above, 0.2 s for the two
# together) are exported whole, each COM class alone.
EXPORTED = [SYSTEM, "Software\\Microsoft"]


def product_classes(installed):
    """The SOFTWARE trees of the COM classes (HKCR\\CLSID\\...) the installed
    machine's description holds: the product's."""
    machine = json.load(open(installed))
    return sorted({"Software\\Classes\\CLSID\\" + key["path"].split("\\")[2]
                   for key in machine["registry"]
                   if re.match(r"HKCR\\CLSID\\[^\\]+", key["path"], re.I)})


def export(wine, folder, classes, winpath):
    """Wine's regedit /E of each key EXPORTED and each of `classes` into
    `folder`, in the running session. A key the machine does not hold gives
    no file."""
    os.makedirs(folder, exist_ok=True)
    for number, key in enumerate(EXPORTED + classes):
        path = os.path.join(folder, "export%d.reg" % number)
        if os.path.exists(path):
            os.remove(path)
        wine("regedit", "/E", winpath(path), MACHINE_KEY + key, check=False)


# A regedit file's escapes in quoted names and strings, as Wine writes them.
ESCAPES = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "0": "\0"}


def unquote(text, at):
    """The quoted string starting at text[at] and the index after its end quote."""
    out = []
    at += 1
    while text[at] != '"':
        if text[at] == "\\":
            at += 1
            out.append(ESCAPES.get(text[at], text[at]))
        else:
            out.append(text[at])
        at += 1
    return "".join(out), at + 1


def value_of(line):
    """(name, type, data bytes) of one value line of a regedit export."""
    if line.startswith("@="):
        name, rest = "", line[2:]
    else:
        name, at = unquote(line, 0)
        rest = line[at + 1:]
    if rest.startswith('"'):
        text, _ = unquote(rest, 0)
        return name, 1, (text + "\0").encode("utf-16-le")
    if rest.startswith("dword:"):
        return name, 4, int(rest[6:], 16).to_bytes(4, "little")
    kind, _, digits = rest.partition(":")
    kind = 3 if kind == "hex" else int(re.fullmatch(r"hex\(([0-9a-fA-F]+)\)", kind).group(1), 16)
    return name, kind, bytes.fromhex(digits.replace(",", "").replace(" ", ""))


def sections(path, trees):
    """The keys of a regedit export of HKEY_LOCAL_MACHINE that are `trees` or
    below them, in its order: (path below HKEY_LOCAL_MACHINE, [(name, type,
    data)])."""
    if not os.path.exists(path):
        return []
    lines = open(path, "rb").read().decode("utf-16").replace("\r\n", "\n").split("\n")
    below = tuple(tree.upper() + "\\" for tree in trees)
    keys = []
    kept = False
    joined = ""
    for line in lines:
        if line.startswith("["):
            path = line[1 + len(MACHINE_KEY):-1]
            kept = path.upper() + "\\" in below or path.upper().startswith(below)
            if kept:
                keys.append((path, []))
        elif kept:
            joined += line.strip() if joined else line
            if joined.endswith("\\"):
                joined = joined[:-1]
                continue
            line, joined = joined, ""
            if line.startswith('"') or line.startswith("@="):
                keys[-1][1].append(value_of(line))
    return keys


def control_set_rename(system):
    """The SYSTEM keys with the current control set under its number, written
    once. This Wine keeps "CurrentControlSet" as a key of its own and no
    "ControlSet001"; where "ControlSet001" is there with "CurrentControlSet"
    a link to it, the export holds the set twice and the link's copy goes."""
    select = next((values for path, values in system if path.upper() == "SYSTEM\\SELECT"), None)
    if select is None:
        # What Wine lacks, if it keeps no "Select": a Windows that never
        # booted another set holds Current, Default and LastKnownGood 1.
        select = [(name, 4, (1).to_bytes(4, "little"))
                  for name in ("Current", "Default", "LastKnownGood")]
        system.append(("System\\Select", select))
    current = next((int.from_bytes(data, "little") for name, kind, data in select
                    if name.upper() == "CURRENT" and kind == 4), 1)
    number = "ControlSet%03d" % current
    link = re.compile(r"System\\CurrentControlSet(\\|$)", re.I)
    has_set = any(re.match(r"System\\%s(\\|$)" % number, path, re.I) for path, _ in system)
    keys = []
    for path, values in system:
        if link.match(path):
            if has_set:
                continue
            path = "System\\" + number + path[len("System\\CurrentControlSet"):]
        keys.append((path, values))
    return keys


def with_parents(keys, hive):
    """The keys in an order hivexregedit can make them (each parent first),
    the keys on the way to an exported tree made with no values."""
    seen = {hive.upper()}
    out = []
    for path, values in keys:
        parts = path.split("\\")
        for depth in range(2, len(parts)):
            parent = "\\".join(parts[:depth])
            if parent.upper() not in seen:
                seen.add(parent.upper())
                out.append((parent, []))
        if path.upper() not in seen or values:
            seen.add(path.upper())
            out.append((path, values))
    return out


def regedit_text(keys):
    """The keys as a regedit file hivexregedit reads: UTF-8, each value's data
    written as its bytes, so that no string is encoded a second time."""
    def quoted(name):
        return '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'
    lines = ["Windows Registry Editor Version 5.00", ""]
    for path, values in keys:
        lines.append("[" + MACHINE_KEY + path + "]")
        for name, kind, data in values:
            if kind == 4 and len(data) == 4:
                text = "dword:%08x" % int.from_bytes(data, "little")
            else:
                text = "hex(%x):%s" % (kind, ",".join("%02x" % b for b in data))
            lines.append(("@" if name == "" else quoted(name)) + "=" + text)
        lines.append("")
    return "\n".join(lines) + "\n"


def make_hive(text, path, prefix, made):
    """The hive of one regedit text at `path`; one made before from the same
    text (`made`: digest to path) is used instead."""
    digest = hashlib.sha1(text.encode()).hexdigest()
    if digest in made:
        return made[digest]
    with open(path + ".reg", "w") as out:
        out.write(text)
    if os.path.exists(path):
        os.remove(path)
    subprocess.run([VK_EMPTY_HIVE, path], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["hivexregedit", "--merge", "--prefix", MACHINE_KEY + prefix, path,
                    path + ".reg"], check=True)
    made[digest] = path
    return path


def offline_verdict(folder, classes, windows, made):
    """vk_check verify --json on hives made from the exports in `folder`:
    the report, or {"error": what went wrong} when it gave none."""
    keys = []
    for name in sorted(os.listdir(folder)):
        if re.fullmatch(r"export\d+\.reg", name):
            keys += sections(os.path.join(folder, name), [SYSTEM] + SOFTWARE_TREES + classes)
    system = [key for key in keys if key[0].split("\\")[0].upper() == SYSTEM.upper()]
    software = [key for key in keys if key[0].split("\\")[0].upper() != SYSTEM.upper()]
    system = control_set_rename(system)
    try:
        hives = [make_hive(regedit_text(with_parents(keys, hive)),
                           os.path.join(folder, hive.upper()), hive, made)
                 for keys, hive in ((system, SYSTEM), (software, "Software"))]
    except (OSError, subprocess.CalledProcessError) as error:
        # hivexregedit is Debian's libwin-hivex-perl, which scripts/setup.sh installs.
        return {"error": "the hives could not be made: %s" % error}
    process = subprocess.run([VK_CHECK, "verify", "--json", "--system-hive", hives[0],
                              "--software-hive", hives[1], "--windows", windows],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    with open(os.path.join(folder, "offline.json"), "wb") as out:
        out.write(process.stdout)
    try:
        return json.loads(process.stdout)
    except ValueError:
        return {"error": (process.stderr or process.stdout).decode(errors="replace").strip()}


# The note only an offline report has: which control set "CurrentControlSet"
# stands for (a running machine's is the one it booted).
OFFLINE_ONLY = {"control set"}


def findings(report):
    """The report's findings, each as many times as it names it."""
    return collections.Counter((f["kind"], f["where"], f["detail"], f["status"])
                               for f in report.get("findings", [])
                               if f["kind"] not in OFFLINE_ONLY)


def differences(live, offline):
    """What differs between the two reports, a line each; none when the
    status and the findings (kind, where, detail, status) are the same and
    reading the hives gave no warning (the live verify gives none: one here
    says the hives lost what Wine holds)."""
    if "error" in offline:
        return ["offline verify gave no report: " + offline["error"]]
    lines = []
    for side, only in (("live", findings(live) - findings(offline)),
                       ("offline", findings(offline) - findings(live))):
        for finding in sorted(only.elements()):
            lines.append("%s only: %s: %s: %s (status %d)" % ((side,) + finding))
    if live.get("status") != offline.get("status"):
        lines.append("status: live %s, offline %s" % (live.get("status"), offline.get("status")))
    for warning in set(offline.get("warnings", [])) - set(live.get("warnings", [])):
        lines.append("offline warning: " + warning)
    return lines


class Comparison:
    """The machines compared in one run of the stage, with what it took."""

    def __init__(self, installed, windows, wine, vkcheck, winpath):
        self.classes = product_classes(installed)
        self.windows = windows  # the prefix's Windows folder
        self.wine, self.vkcheck, self.winpath = wine, vkcheck, winpath
        self.made = {}  # the hives made so far, by the digest of their regedit text
        self.rows = []  # name, live status, offline status, findings, lines
        self.ns = 0

    def read_live(self, folder):
        """In the machine's Wine session: the live verify's report as JSON,
        and the registry exported."""
        start = time.monotonic_ns()
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "live.json"), "wb") as out:
            self.vkcheck("verify", "--json", out=out)
        export(self.wine, folder, self.classes, self.winpath)
        self.ns += time.monotonic_ns() - start

    def judge(self, name, folder):
        """After read_live, before the machine changes: the offline verdict
        on its files and exported registry against the live one."""
        start = time.monotonic_ns()
        try:
            live = json.load(open(os.path.join(folder, "live.json")))
        except ValueError:
            live = {}
        offline = offline_verdict(folder, self.classes, self.windows, self.made)
        lines = differences(live, offline) if live else ["live verify gave no report"]
        self.rows.append((name, live.get("status"), offline.get("status"),
                          len(live.get("findings", [])), lines))
        self.ns += time.monotonic_ns() - start

    def report(self):
        """A line a machine and a total; whether every machine gave the same
        verdict both ways."""
        print("   offline verify (build/host/vk_check on hives made from the registry Wine"
              " exported) against the live one, %d.%d s added:" % divmod(self.ns // 10**8, 10))
        different = 0
        for name, live, offline, count, lines in self.rows:
            same = not lines
            different += not same
            print("     offline %s: live %s, offline %s, %d findings: %s" %
                  (name, live, offline, count, "same" if same else "DIFFERENT"))
            for line in lines:
                print("       " + line)
        print("   offline against live: %d machines, %d same, %d different" %
              (len(self.rows), len(self.rows) - different, different))
        return different == 0 and len(self.rows) > 0
