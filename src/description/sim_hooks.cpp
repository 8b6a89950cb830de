// The installer's platform hooks on the simulated Windows: a service's
// program and a library's behaviour are records of the machine.
#include "lay_down.h"

#include "../platform/sim/machine.h"

namespace Description {

// A library another imports is an ordinary file here: the simulated loader
// takes any file it finds for an import.
bool LayFile(const std::string& path, const File& described, Program, bool) {
    HANDLE file = Win::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    Win::CloseHandle(file);
    if (described.library != Library::None) {
        Sim::Node* node = Sim::FindNode(path);
        node->library = std::make_unique<Sim::Library>();
        node->library->exportsUnregister = described.library == Library::Unregisters;
        for (const Import& import : described.imports)
            node->library->imports.push_back(import.name);
    }
    return true;
}

void SetProgram(const std::string& service, Program program) {
    Sim::Service& record = Sim::Current().services[service];
    record.acceptsStop = program != Program::RefusesStop;
    // The program answers every user-defined control, as the real one does.
    for (DWORD control = 128; control <= 255; ++control)
        record.customControls.insert(control);
}

void Observe(Machine* machine) {
    Sim::Machine& m = Sim::Current();
    for (Service& service : machine->services) {
        auto found = m.services.find(service.name);
        if (found == m.services.end())
            continue;
        Sim::Value type;
        bool driver =
            Sim::ReadValue(HKEY_LOCAL_MACHINE,
                           "SYSTEM\\CurrentControlSet\\Services\\" + service.name, "Type", &type) &&
            type.data.size() == 4 &&
            (type.data[0] & (SERVICE_KERNEL_DRIVER | SERVICE_FILE_SYSTEM_DRIVER)) != 0;
        service.program = driver                      ? Program::None
                          : found->second.acceptsStop ? Program::Records
                                                      : Program::RefusesStop;
    }
    for (File& file : machine->files) {
        // Libraries lie in the product folder only.
        if (file.path.rfind("%PRODUCT%", 0) != 0)
            continue;
        Sim::Node* node = file.directory ? nullptr : Sim::FindNode(FullPath(file.path));
        if (node != nullptr && node->library)
            file.library =
                node->library->exportsUnregister ? Library::Unregisters : Library::NoExport;
    }
    machine->unregistered = m.unregistered;
    machine->received.clear();
    for (auto& entry : m.receivedByDeleted)
        machine->received.push_back({entry.first, entry.second});
    for (auto& entry : m.services) {
        if (!entry.second.received.empty())
            machine->received.push_back({entry.first, entry.second.received});
    }
}

} // namespace Description
