#include "contract.h"

#include "platform/sim/machine.h"

namespace Contract {

extern const char SCRATCH_KEY[] = "SOFTWARE\\VkContract";
extern const char SCRATCH_FOLDER[] = "C:\\VkContract";

void Begin() {
    Sim::Reset();
    Sim::MakeDirectory(SCRATCH_FOLDER);
}

void End() {}

void WriteFile(const std::string& path) {
    Sim::MakeFile(path, "data");
}

void PlaceFaultingLibrary(const std::string& path) {
    Sim::MakeFile(path, "library")->library = std::make_unique<Sim::Library>();
    Sim::FindNode(path)->library->faultsInUnregister = true;
}

void PlacePlainImage(const std::string& path) {
    Sim::MakeFile(path)->library = std::make_unique<Sim::Library>();
    Sim::FindNode(path)->library->exportsUnregister = false;
}

std::string PlaceServerWithImport(const std::string& folder) {
    std::string server = folder + "\\contract_importer.dll";
    Sim::MakeFile(server, "library")->library = std::make_unique<Sim::Library>();
    Sim::FindNode(server)->library->imports = {IMPORTED_LIBRARY};
    Sim::MakeFile(folder + "\\" + IMPORTED_LIBRARY, "library")->library =
        std::make_unique<Sim::Library>();
    Sim::FindNode(folder + "\\" + IMPORTED_LIBRARY)->library->exportsUnregister = false;
    return server;
}

static std::string Text(const std::u16string& wide) {
    return Sim::WideToText(wide.data(), wide.size());
}

void SetValueW(const std::u16string& path, const char* name, DWORD type,
               const std::u16string& data) {
    std::string full = std::string(SCRATCH_KEY) + (path.empty() ? "" : "\\" + Text(path));
    if (name == nullptr)
        Sim::MakeKeyText(HKEY_LOCAL_MACHINE, full);
    else
        Sim::SetTextValue(HKEY_LOCAL_MACHINE, full, name, type, Text(data));
}

std::u16string ValueW(const std::string& path, const char* name) {
    Sim::Key* key = Sim::FindKey(HKEY_LOCAL_MACHINE,
                                 std::string(SCRATCH_KEY) + (path.empty() ? "" : "\\" + path));
    const Sim::Value* value = key ? key->FindValue(name) : nullptr;
    if (value == nullptr)
        return u"(none)";
    return Sim::TextToWide(std::string(value->data.begin(), value->data.end()));
}

const char* ServiceProgram() {
    return "C:\\VkContract\\service.exe";
}

bool UnderWine() {
    return false;
}

} // namespace Contract
