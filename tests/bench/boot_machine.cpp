// Writes the installed machine's description, and with DEVICES and SERVICES
// the same machine grown by that many present devices and boot-view
// services, for the figures of VkCheck's cost on a large machine
// (scripts/boot-figures.sh):
//
//     vk_boot_machine FILE [DEVICES SERVICES]
//
// Every added service is a kernel driver whose image file is there; one in
// five starts with the system and one in five automatically, each of those
// depending on the service before it and on a group of ten. Every added
// device has a function driver and an upper and a lower filter among them,
// so that the judge has three names to look up for each device and the
// machine it judges is sound.
#include "description/description.h"
#include "machine/footprint.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The classes the added devices belong to: ones every machine has.
const char* const CLASSES[] = {
    "{4D36E97D-E325-11CE-BFC1-08002BE10318}", // System
    "{4D36E96A-E325-11CE-BFC1-08002BE10318}", // hdc
    "{36FC9E60-C465-11CF-8056-444553540000}", // USB
    "{4D36E972-E325-11CE-BFC1-08002BE10318}", // Net
};
constexpr int GROUPS = 10;

std::string Numbered(const char* format, int n) {
    char text[64];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

// A UTF-16 REG_MULTI_SZ's bytes of the entries, as a device's property holds them.
std::vector<BYTE> WideMulti(const std::vector<std::string>& entries) {
    std::vector<BYTE> bytes;
    for (const std::string& entry : entries) {
        for (char16_t unit : Description::Utf16(entry) + u'\0') {
            bytes.push_back((BYTE)unit);
            bytes.push_back((BYTE)(unit >> 8));
        }
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

void Grow(Description::Machine* machine, int devices, int services) {
    Description::Boot& boot = machine->boot;
    if (boot.sets.empty() || services <= 0)
        return;
    Description::ControlSet& set = boot.sets[0];
    std::vector<std::string> names;
    for (int i = 0; i < services; ++i) {
        Description::BootService service;
        service.name = Numbered("BfDrv%04d", i);
        service.type = SERVICE_KERNEL_DRIVER;
        service.start = i % 5 == 0   ? SERVICE_SYSTEM_START
                        : i % 5 == 1 ? SERVICE_AUTO_START
                                     : SERVICE_DEMAND_START;
        service.imagePath = "System32\\DRIVERS\\" + Numbered("bfdrv%04d.sys", i);
        service.group = Numbered("BfGroup%d", i % GROUPS);
        if (*service.start != SERVICE_DEMAND_START && i > 0) {
            service.dependOnService = {names.back()};
            service.dependOnGroup = {Numbered("BfGroup%d", (i + 1) % GROUPS)};
        }
        boot.images.push_back(Description::ImageFile(service, boot.windowsFolder));
        machine->serviceKeys.push_back(service.name);
        names.push_back(service.name);
        set.services.push_back(service);
    }
    for (int i = 0; i < devices; ++i) {
        Description::Device device;
        device.instanceId = Numbered("PCI\\VEN_8086&DEV_%04X\\3&1F2C8E&0&00", i);
        device.classGuid = CLASSES[i % 4];
        device.hardwareIds = WideMulti({Numbered("PCI\\VEN_8086&DEV_%04X", i), "PCI\\CC_0600"});
        device.hasHardwareIds = true;
        device.service = names[(size_t)i % names.size()];
        device.upperFilters = WideMulti({names[(size_t)(i + 1) % names.size()]});
        device.lowerFilters = WideMulti({names[(size_t)(i + 2) % names.size()]});
        machine->devices.push_back(device);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s FILE [DEVICES SERVICES]\n", argv[0]);
        return 2;
    }
    Description::Machine machine = Footprint::Installed();
    if (argc == 4)
        Grow(&machine, std::atoi(argv[2]), std::atoi(argv[3]));
    std::ofstream out(argv[1], std::ios::binary);
    out << Description::Write(machine) << "\n";
    if (!out) {
        std::fprintf(stderr, "%s cannot be written\n", argv[1]);
        return 1;
    }
    return 0;
}
