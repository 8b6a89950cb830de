#!/usr/bin/python3
"""Registries that real Windows machines wrote, judged by vk_check.

    real_hives.py VK_CHECK DATA_DIR WORK_DIR
    real_hives.py --lay HIVE.xz PLACE     lays one out; prints its Windows folder

Each SYSTEM hive of DATA_DIR (*.xz) was a working machine's, so:
  1. without a Windows folder, verify says 5 (the files were not looked at)
     and nothing else that sets a status;
  2. with a Windows folder laid out as empty files, one for every image its
     services name, verify says 0: notes only;
  3. the same machine through the running machine's reader (a snapshot of
     the disk, verified with --from) gives the same status and findings;
  4. repair --dry-run takes nothing out;
  5. with the image of one class filter gone, verify says 2 and repair
     --dry-run would take out that name and no other.
Prints a line a hive, then "real hives: N passed, N failed". Exits 1 when one
failed. The image files are laid out by the rules written here, apart from
the judge's own, so that the judge's way of finding them is tested too.
Needs Debian's python3-hivex (scripts/setup.sh installs it).
"""
import json
import lzma
import os
import shutil
import subprocess
import sys

import hivex

# Findings of the offline reading alone, which a snapshot read back has not.
OFFLINE_ONLY = {"control set", "files not looked at"}


def child(h, node, name):
    for c in h.node_children(node):
        if h.node_name(c).lower() == name.lower():
            return c
    return None


def value(h, node, name):
    for v in h.node_values(node):
        if h.value_key(v).lower() == name.lower():
            return h.value_value(v)
    return None


def text(raw):
    if raw is None or raw[0] not in (1, 2):
        return None
    return raw[1].decode("utf-16-le", "replace").split("\0")[0]


def dword(raw):
    if raw is None or raw[0] != 4 or len(raw[1]) != 4:
        return None
    return int.from_bytes(raw[1], "little")


def image_paths(h):
    """Every service's image, as a path below the drive's root ("WINDOWS/..."),
    by the service's name (lower case)."""
    root = h.root()
    paths = {}
    for cs in h.node_children(root):
        services = child(h, cs, "Services") if h.node_name(cs).lower().startswith("controlset") else None
        if services is None:
            continue
        for service in h.node_children(services):
            name = h.node_name(service)
            kind = dword(value(h, service, "Type"))
            image = text(value(h, service, "ImagePath"))
            program = kind is not None and kind & 0x30
            if not image:
                if not program:
                    paths[name.lower()] = "WINDOWS/System32/drivers/%s.sys" % name
                continue
            for var in ("%systemroot%", "%windir%"):
                at = image.lower().find(var)
                if at >= 0:
                    image = image[:at] + "C:\\WINDOWS" + image[at + len(var):]
            if program:
                image = image.split('"')[1] if image.startswith('"') else image
                low = image.lower()
                end = low.find(".exe")
                image = image[: end + 4] if end >= 0 else image.split(" ")[0]
                if "." not in image.split("\\")[-1]:
                    image += ".exe"
            low = image.lower()
            if low.startswith("\\systemroot\\"):
                image = "C:\\WINDOWS\\" + image[12:]
            elif low.startswith("\\??\\"):
                image = image[4:]
            if len(image) > 2 and image[1] == ":":
                if image[0].lower() != "c":
                    continue  # another drive: not on this disk
                rel = image[3:]
            else:
                rel = "WINDOWS\\" + image
            paths[name.lower()] = rel.replace("\\", "/")
    return paths


def first_class_filter(h):
    """The first filter a setup class of the set "Select\\Default" names."""
    default = dword(value(h, child(h, h.root(), "Select"), "Default"))
    classes = child(h, child(h, child(h, h.root(), "ControlSet%03d" % default), "Control"), "Class")
    for setup_class in h.node_children(classes):
        for name in ("UpperFilters", "LowerFilters"):
            raw = value(h, setup_class, name)
            if raw is not None and raw[0] == 7:
                entries = [e for e in raw[1].decode("utf-16-le").split("\0") if e]
                if entries:
                    return entries[0]
    return None


def lay_file(folder, parts):
    """An empty file at PARTS below FOLDER, each name found without case as
    on the NTFS disk this stands for (one "system32", however spelt)."""
    for i, part in enumerate(parts):
        last = i == len(parts) - 1
        same = [n for n in os.listdir(folder) if n.lower() == part.lower()]
        path = os.path.join(folder, same[0] if same else part)
        if last:
            open(path, "a").close()
        else:
            os.makedirs(path, exist_ok=True)
            folder = path


def lay_paths(folder, parts):
    """The paths PARTS names below FOLDER, found without case."""
    found = [folder]
    for part in parts:
        found = [os.path.join(f, n) for f in found if os.path.isdir(f)
                 for n in os.listdir(f) if n.lower() == part.lower()]
    return found


def run(args):
    done = subprocess.run(args, capture_output=True, text=True)
    return done.returncode, done.stdout, done.stderr


def verdict(vk, args):
    status, out, err = run([vk, "verify", "--json"] + args)
    try:
        answer = json.loads(out)
    except ValueError:
        return status, None, err
    return status, answer, err


def judged(answer):
    return sorted((f["status"], f["kind"], f["where"], f["detail"]) for f in answer["findings"])


def unpack(packed, place):
    """The hive of PACKED as PLACE/drive/WINDOWS/system32/config/SYSTEM:
    the Windows folder and the hive."""
    shutil.rmtree(place, ignore_errors=True)
    windows = os.path.join(place, "drive", "WINDOWS")
    config = os.path.join(windows, "system32", "config")
    os.makedirs(config)
    hive = os.path.join(config, "SYSTEM")
    with lzma.open(packed) as source, open(hive, "wb") as out:
        shutil.copyfileobj(source, out)
    return windows, hive


def lay_images(hive, place):
    """An empty file for every image the hive's services name, on the drive
    of PLACE; the images by service."""
    images = image_paths(hivex.Hivex(hive))
    for rel in set(images.values()):
        lay_file(os.path.join(place, "drive"), rel.split("/"))
    return images


def main():
    if sys.argv[1] == "--lay":
        # real_hives.py --lay PACKED PLACE: the machine laid out, its Windows folder printed.
        windows, hive = unpack(sys.argv[2], sys.argv[3])
        lay_images(hive, sys.argv[3])
        print(windows)
        return 0
    vk, data, work = sys.argv[1:4]
    passed = failed = 0
    for name in sorted(n for n in os.listdir(data) if n.endswith(".xz")):
        machine = name[:-3]
        faults = []
        place = os.path.join(work, machine)
        windows, hive = unpack(os.path.join(data, name), place)

        # 1. The hive alone.
        status, answer, err = verdict(vk, ["--system-hive", hive])
        if answer is None:
            faults.append("hive alone: no answer (%d): %s" % (status, err.strip()))
        else:
            setting = [f for f in answer["findings"] if f["status"] != 0]
            if status != 5 or [f["kind"] for f in setting] != ["files not looked at"]:
                faults.append("hive alone: status %d, %s" % (status, setting))
        alone = status

        # 2. With a Windows folder of empty image files.
        images = lay_images(hive, place)
        drive = os.path.join(place, "drive")
        status, answer, err = verdict(vk, ["--windows", windows])
        notes = []
        if answer is None:
            faults.append("with its files: no answer (%d): %s" % (status, err.strip()))
        else:
            notes = [f for f in answer["findings"] if f["status"] == 0]
            setting = [f for f in answer["findings"] if f["status"] != 0]
            if status != 0 or setting:
                faults.append("with its files: status %d, %s" % (status, setting))
        offline = answer

        # 3. The running machine's reader: a snapshot of it, verified.
        snapshot = os.path.join(place, "machine.json")
        code, _, err = run([vk, "snapshot", snapshot, "--windows", windows])
        status, answer, err = verdict(vk, ["--from", snapshot]) if code == 0 else (code, None, err)
        if answer is None or offline is None:
            faults.append("snapshot: no answer (%d): %s" % (status, err.strip()))
        else:
            kept = [f for f in judged(offline) if f[1] not in OFFLINE_ONLY]
            if status != offline["status"] or judged(answer) != kept:
                faults.append("snapshot: status %d, %s" % (status, judged(answer)))

        # 4. Repair finds nothing to take out.
        repair = [vk, "repair", "--windows", windows, "--dry-run", "--force", "--json"]
        code, out, err = run(repair)
        try:
            removed = json.loads(out)["removed"]
        except (ValueError, KeyError):
            removed = None
        if code != 0 or removed != []:
            faults.append("repair --dry-run: status %d, removed %s" % (code, removed))

        # 5. The same machine with one class filter's image gone is unsafe,
        #    and repair would take exactly that name out.
        gone = first_class_filter(hivex.Hivex(hive))
        for rel in {images.get((gone or "").lower())} - {None}:
            found = [p for p in lay_paths(drive, rel.split("/")) if os.path.isfile(p)]
            for path in found:
                os.remove(path)
        status, answer, err = verdict(vk, ["--windows", windows])
        code, out, err = run(repair)
        try:
            removed = {r["entry"].lower() for r in json.loads(out)["removed"]}
        except (ValueError, KeyError):
            removed = None
        if gone is None or status != 2 or code != 2 or removed != {gone.lower()}:
            faults.append("%s's image gone: verify %d, repair --dry-run %d removing %s"
                          % (gone, status, code, removed))

        if faults:
            failed += 1
            print("%s: FAILED\n  %s" % (machine, "\n  ".join(faults)))
        else:
            passed += 1
            print("%s: without its Windows folder %d; with its %d image files 0 (%d notes: %s);"
                  " without %s's 2, repair takes it out"
                  % (machine, alone, len(set(images.values())), len(notes),
                     ", ".join(sorted({f["kind"] for f in notes})), gone))
        shutil.rmtree(place, ignore_errors=True)
    print("real hives: %d passed, %d failed" % (passed, failed))
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
