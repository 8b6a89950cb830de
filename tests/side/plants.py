#!/usr/bin/env python3
"""What is planted on a machine after the run and the restart, one thing at a
time: each is the machine's own description with one thing added or broken,
and the status VkCheck verify must then give, the texts its report must hold
and those it must not.

    plants.py MACHINE.json OUTDIR   writes OUTDIR/KIND.json and OUTDIR/plants.txt
                                    (one JSON object a line: kind, status, names, never)

The breaks of the next boot are planted in the boot view and, where the
description also holds the key in full (TermService, the class keys), in the
key: the two are one machine.

Not planted, because Wine cannot hold it:
  - a device that is not present, with a filter that names no service
    (verify: 0, a note with Device Manager's remedy): Wine's
    SetupDiGetClassDevs gives every device under Enum to DIGCF_PRESENT too,
    so every device a program lays down under Wine reads as present; only
    the simulated Windows can hold that case.
"""
import json
import sys

CLASS = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
SERVICES = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\"
KEYBOARD = "{4D36E96B-E325-11CE-BFC1-08002BE10318}"
MOUSE = "{4D36E96F-E325-11CE-BFC1-08002BE10318}"
HUB = "{4D36E97D-E325-11CE-BFC1-08002BE10318}"


def same(a, b):
    return a.upper() == b.upper()


def boot_service(m, name):
    return next(s for s in m["boot"]["sets"][0]["services"] if same(s["name"], name))


def key(m, path):
    found = next((k for k in m["registry"] if same(k["path"], path)), None)
    if found is None:
        found = {"path": path, "values": []}
        m["registry"].append(found)
    return found


def set_value(m, path, value):
    k = key(m, path)
    k["values"] = [v for v in k["values"] if not same(v["name"], value["name"])]
    k["values"].append(value)


def windows(m):
    return m["boot"]["windowsFolder"]


def service(m):
    m["registry"].append({"path": SERVICES + "DzStore", "values": [
        {"name": "Type", "type": "REG_DWORD", "dword": 1},
        {"name": "Start", "type": "REG_DWORD", "dword": 4},
        {"name": "ErrorControl", "type": "REG_DWORD", "dword": 0},
        {"name": "ImagePath", "type": "REG_EXPAND_SZ", "text": "system32\\drivers\\DzStore.sys"}]})
    m["services"].append({"name": "DzStore", "state": "stopped", "program": "none"})


def device(m):
    m["devices"].append({"instance": "ROOT\\KRHUB\\0000", "class": HUB,
                         "hardwareIds": ["Korrin\\KrHub"]})


def class_filter(m):
    filters = ["DzXpKbdPnp", "kbdclass"]
    set_value(m, CLASS + KEYBOARD, {"name": "UpperFilters", "type": "REG_MULTI_SZ",
                                    "strings": filters})
    for c in m["boot"]["sets"][0]["classes"]:
        if same(c["guid"], KEYBOARD):
            c["upperFilters"] = filters


def device_filter(m):
    m["devices"].append({"instance": "ROOT\\VKTESTMOUSE\\0000", "class": MOUSE,
                         "hardwareIds": ["Vk\\TestMouse"], "upperFilters": ["DzXpMouPnp"]})


def device_own_filters(m):
    m["devices"].append({"instance": "ROOT\\VKTESTMOUSE\\0000", "class": MOUSE,
                         "hardwareIds": ["Vk\\TestMouse"], "upperFilters": ["DzNoUpper"],
                         "lowerFilters": ["DzNoLower"]})


def keyboard_driver(m):
    # The product's keyboard driver, deleted by the run, still the keyboard's function driver.
    m["devices"].append({"instance": "ROOT\\VKTESTKBD\\0000", "class": KEYBOARD,
                         "hardwareIds": ["Vk\\TestKbd"], "service": "DzUsbKeyboard"})


def kbdclass_disabled(m):
    boot_service(m, "kbdclass")["start"] = 4


def kbdclass_deleted(m):
    boot_service(m, "kbdclass")["deleteFlag"] = True


# The forms of a driver's image path, and the file the loader takes each for
# (below the Windows folder).
IMAGE_FORMS = [  # kind, image path (None: no ImagePath), the file
    ("relative", "System32\\DRIVERS\\kbdclass.sys", "\\System32\\DRIVERS\\kbdclass.sys"),
    ("systemroot", "\\SystemRoot\\System32\\DRIVERS\\kbdclass.sys",
     "\\System32\\DRIVERS\\kbdclass.sys"),
    ("expanded", "%SystemRoot%\\System32\\DRIVERS\\kbdclass.sys",
     "\\System32\\DRIVERS\\kbdclass.sys"),
    ("none", None, "\\System32\\drivers\\kbdclass.sys"),
]


def kbdclass_image(form, path, present):
    """kbdclass's image path in one form; its file there or taken away."""
    def plant(m):
        s = boot_service(m, "kbdclass")
        s.pop("imagePath", None)
        if form is not None:
            s["imagePath"] = form
        if not present:
            m["boot"]["images"] = [p for p in m["boot"]["images"]
                                   if not same(p, windows(m) + path)]
    return plant


def termservice_depends(m):
    names = ["RPCSS", "DzService"]
    set_value(m, SERVICES + "TermService", {"name": "DependOnService", "type": "REG_MULTI_SZ",
                                            "strings": names})
    boot_service(m, "TermService")["dependOnService"] = names


def termservice_group(m):
    # The group's one member cannot load: it is disabled.
    set_value(m, SERVICES + "TermService", {"name": "DependOnGroup", "type": "REG_MULTI_SZ",
                                            "strings": ["DzNoLoad"]})
    boot_service(m, "TermService")["dependOnGroup"] = ["DzNoLoad"]
    m["boot"]["sets"][0]["services"].append(
        {"name": "DzGroupMember", "type": 1, "start": 4, "group": "DzNoLoad",
         "imagePath": "System32\\DRIVERS\\DzGroupMember.sys"})


def last_known_good(m):
    # Last Known Good names a second set, where kbdclass is disabled: a note, not a finding.
    current = m["boot"]["sets"][0]
    other = json.loads(json.dumps(current))
    other["name"] = "ControlSet002"
    next(s for s in other["services"] if same(s["name"], "kbdclass"))["start"] = 4
    m["boot"]["sets"] = [current, other]
    m["boot"]["select"] = {"current": 1, "default": 1, "lastKnownGood": 2}


def file(m):
    m["files"].append({"path": "%PRODUCT%\\drivers\\VkGate.sys"})


def tree(m):
    m["registry"].append({
        "path": "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\RyWinLog",
        "values": [{"name": "DllName", "type": "REG_SZ", "text": "RyWinLog.dll"}]})


def pending(m):
    path = "\\??\\" + m["productFolder"] + "\\VkConsole.exe"
    m["files"].append({"path": "%PRODUCT%\\VkConsole.exe"})
    m["pending"] = {"hex": (path.encode("latin-1") + b"\0\0\0").hex()}


WINDOWS = "%WINDOWS%"  # stands for the Windows folder in the texts below
PLANTS = [  # kind, plant, status, texts the report names, texts it must not
    ("service", service, 1, ["Services\\DzStore"], []),
    ("present-device", device, 1, ["ROOT\\KRHUB\\"], []),
    ("class-filter", class_filter, 2, ["Keyboard"], []),
    ("device-filter", device_filter, 2, ["VKTESTMOUSE"], []),
    ("file", file, 0, ["drivers\\VkGate.sys"], []),
    ("registry-tree", tree, 1, ["Notify\\RyWinLog"], []),
    ("pending-deletion", pending, 3010, ["VkConsole.exe"], []),
    ("keyboard-driver", keyboard_driver, 2,
     ["ROOT\\VKTESTKBD\\", "its function driver DzUsbKeyboard: no such service"], []),
    ("kbdclass-disabled", kbdclass_disabled, 2, ["names kbdclass (disabled)"], []),
    ("kbdclass-deleted", kbdclass_deleted, 2,
     ["names kbdclass (marked for deletion: it goes at the restart)"], []),
    ("device-own-filters", device_own_filters, 2,
     ["upper filter DzNoUpper: no such service", "lower filter DzNoLower: no such service"], []),
    ("termservice-depends", termservice_depends, 2,
     ["TermService will not start: it depends on DzService (no such service)"], []),
    ("termservice-group", termservice_group, 2,
     ["it depends on the group DzNoLoad, no member of which starts at the boot and can load"], []),
    ("last-known-good", last_known_good, 0,
     ["choosing Last Known Good Configuration at the next boot would fail: "
      "HKLM\\SYSTEM\\ControlSet002\\Control\\Class\\", "names kbdclass (disabled)"],
     ["UNSAFE"]),
]
# The kernel opens a driver's image by its NT path as given: with a trailing
# space or a "/" it finds no file, though Win32's normalisation would find
# kbdclass.sys, which is there.
for form, image in (("trailing-space", "System32\\DRIVERS\\kbdclass.sys "),
                    ("slash", "System32/DRIVERS/kbdclass.sys")):
    PLANTS.append(("image-%s" % form, kbdclass_image(image, None, True), 2,
                   ["names kbdclass (image file missing: " + WINDOWS + "\\" + image + ")"], []))
for form, image, path in IMAGE_FORMS:
    PLANTS.append(("image-%s-there" % form, kbdclass_image(image, path, True), 0, [], ["kbdclass"]))
    PLANTS.append(("image-%s-missing" % form, kbdclass_image(image, path, False), 2,
                   ["names kbdclass (image file missing: " + WINDOWS + path + ")"], []))

machine = json.load(open(sys.argv[1]))
with open(sys.argv[2] + "/plants.txt", "w") as plants:
    for kind, plant, status, names, never in PLANTS:
        m = json.loads(json.dumps(machine))
        # Files and devices are made, never remade: of those the machine has,
        # the folders alone are laid again.
        m["files"] = [f for f in m["files"] if f.get("directory")]
        m["devices"] = []
        plant(m)
        json.dump(m, open(sys.argv[2] + "/" + kind + ".json", "w"), indent=1)
        names = [n.replace(WINDOWS, windows(machine)) for n in names]
        print(json.dumps({"kind": kind, "status": status, "names": names, "never": never}),
              file=plants)
