#!/usr/bin/env python3
"""The leftovers planted on a machine after the run and the restart, one kind
at a time: each is the machine's own description with one thing added, and
the status VkCheck verify must then give and a text its report must hold.

    plants.py MACHINE.json OUTDIR   writes OUTDIR/KIND.json and OUTDIR/plants.txt
"""
import json
import sys

CLASS = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
SERVICES = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\"
KEYBOARD = "{4D36E96B-E325-11CE-BFC1-08002BE10318}"
MOUSE = "{4D36E96F-E325-11CE-BFC1-08002BE10318}"
HUB = "{4D36E97D-E325-11CE-BFC1-08002BE10318}"


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
    key = next((k for k in m["registry"] if k["path"].upper() == (CLASS + KEYBOARD).upper()), None)
    if key is None:
        key = {"path": CLASS + KEYBOARD, "values": []}
        m["registry"].append(key)
    key["values"] = [v for v in key["values"] if v["name"].upper() != "UPPERFILTERS"]
    key["values"].append({"name": "UpperFilters", "type": "REG_MULTI_SZ",
                          "strings": ["DzXpKbdPnp", "kbdclass"]})


def device_filter(m):
    m["devices"].append({"instance": "ROOT\\VKTESTMOUSE\\0000", "class": MOUSE,
                         "hardwareIds": ["Vk\\TestMouse"], "upperFilters": ["DzXpMouPnp"]})


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


PLANTS = [  # kind, plant, status, text the report names
    ("service", service, 1, "Services\\DzStore"),
    ("present-device", device, 1, "ROOT\\KRHUB\\"),
    ("class-filter", class_filter, 2, "Keyboard"),
    ("device-filter", device_filter, 2, "VKTESTMOUSE"),
    ("file", file, 0, "drivers\\VkGate.sys"),
    ("registry-tree", tree, 1, "Notify\\RyWinLog"),
    ("pending-deletion", pending, 3010, "VkConsole.exe"),
]

machine = json.load(open(sys.argv[1]))
with open(sys.argv[2] + "/plants.txt", "w") as plants:
    for kind, plant, status, text in PLANTS:
        m = json.loads(json.dumps(machine))
        # Files and devices are made, never remade: of those the machine has,
        # the folders alone are laid again.
        m["files"] = [f for f in m["files"] if f.get("directory")]
        m["devices"] = []
        plant(m)
        json.dump(m, open(sys.argv[2] + "/" + kind + ".json", "w"), indent=1)
        print(kind, status, text, file=plants)
