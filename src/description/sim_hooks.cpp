// The installer's platform hooks on the simulated Windows: a service's
// program and a library's behaviour are records of the machine.
#include "lay_down.h"

#include "../platform/sim/load.h"
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
    Sim::Observe(machine);
}

} // namespace Description
