// The file a simulated library reads as: a 32-bit DLL image laid out as a
// linker lays one out, headers in the first 512 bytes and one section of
// code, export and import data after them, so that a reader of export and
// import tables meets the same structures it meets on Windows.
#include "machine.h"

#include <cstring>

namespace Sim {

namespace {

constexpr DWORD FILE_ALIGNMENT = 0x200;
constexpr DWORD SECTION_ALIGNMENT = 0x1000;
constexpr DWORD PE_HEADER = 0x40;                     // e_lfanew
constexpr DWORD OPTIONAL_HEADER = PE_HEADER + 4 + 20; // after the signature and file header
constexpr DWORD OPTIONAL_HEADER_SIZE = 224;           // PE32, sixteen data directories
constexpr DWORD SECTION_TABLE = OPTIONAL_HEADER + OPTIONAL_HEADER_SIZE;
constexpr DWORD SECTION_RVA = SECTION_ALIGNMENT;
constexpr DWORD SECTION_FILE = FILE_ALIGNMENT;

// Places within the section, from its start.
constexpr DWORD EXPORT_DIRECTORY = 0x00; // 40 bytes
constexpr DWORD FUNCTIONS = 0x28;        // two RVAs
constexpr DWORD NAMES = 0x30;            // two name RVAs, in ascending order of the names
constexpr DWORD ORDINALS = 0x38;         // two WORDs
constexpr DWORD MODULE_NAME = 0x40;
constexpr DWORD FIRST_NAME = 0x50;
constexpr DWORD SECOND_NAME = 0x60;
constexpr DWORD EXPORT_SIZE = 0x80;
constexpr DWORD CODE = 0x100;    // xor eax, eax; ret: both functions return S_OK
constexpr DWORD IMPORTS = 0x110; // a descriptor a library, and an empty one to end them
constexpr DWORD DESCRIPTOR = 20;
constexpr DWORD THUNKS = 16; // a library's lookup and address tables: one import by ordinal each

DWORD Align(DWORD value, DWORD alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

struct Writer {
    std::vector<BYTE>& image;
    void Word(DWORD at, WORD value) {
        image[at] = (BYTE)value;
        image[at + 1] = (BYTE)(value >> 8);
    }
    void Dword(DWORD at, DWORD value) {
        Word(at, (WORD)value);
        Word(at + 2, (WORD)(value >> 16));
    }
    void Text(DWORD at, const char* text) { std::memcpy(&image[at], text, std::strlen(text) + 1); }
};

// Where the section's parts end: the import descriptors' thunks, each
// import's name, the section's end, and its size in the file.
struct Layout {
    DWORD thunks;
    std::vector<DWORD> names;
    DWORD end;
    DWORD rawSize;
};

Layout LayOut(const std::vector<std::string>& imports) {
    Layout layout;
    layout.thunks = IMPORTS + DESCRIPTOR * (DWORD)(imports.size() + 1);
    layout.end = imports.empty() ? CODE + 3 : layout.thunks + THUNKS * (DWORD)imports.size();
    for (const std::string& name : imports) {
        layout.names.push_back(layout.end);
        layout.end = Align(layout.end + (DWORD)name.size() + 1, 2);
    }
    layout.rawSize = Align(layout.end, FILE_ALIGNMENT);
    return layout;
}

// The DOS stub's pointer, the PE and optional headers, and the one section's entry.
void WriteHeaders(Writer w, const Layout& layout) {
    w.Text(0, "MZ");
    w.Dword(0x3C, PE_HEADER);
    w.Text(PE_HEADER, "PE");      // and two NULs
    w.Word(PE_HEADER + 4, 0x14C); // i386
    w.Word(PE_HEADER + 6, 1);     // one section
    w.Word(PE_HEADER + 20, OPTIONAL_HEADER_SIZE);
    w.Word(PE_HEADER + 22, 0x2102); // an executable 32-bit image, a DLL

    const DWORD o = OPTIONAL_HEADER;
    w.Word(o, 0x10B); // PE32
    w.Dword(o + 4, FILE_ALIGNMENT);
    w.Dword(o + 20, SECTION_RVA); // base of code
    w.Dword(o + 24, SECTION_RVA); // base of data
    w.Dword(o + 28, 0x10000000);  // image base
    w.Dword(o + 32, SECTION_ALIGNMENT);
    w.Dword(o + 36, FILE_ALIGNMENT);
    w.Word(o + 40, 4);                                                   // operating system 4.0
    w.Word(o + 48, 4);                                                   // subsystem 4.0
    w.Dword(o + 56, SECTION_RVA + Align(layout.end, SECTION_ALIGNMENT)); // size of image
    w.Dword(o + 60, FILE_ALIGNMENT);                                     // size of headers
    w.Word(o + 68, 2);         // the Windows GUI subsystem
    w.Dword(o + 72, 0x100000); // stack and heap: reserved, committed
    w.Dword(o + 76, 0x1000);
    w.Dword(o + 80, 0x100000);
    w.Dword(o + 84, 0x1000);
    w.Dword(o + 92, 16);                             // data directories
    w.Dword(o + 96, SECTION_RVA + EXPORT_DIRECTORY); // the first: exports
    w.Dword(o + 100, EXPORT_SIZE);
    if (!layout.names.empty()) { // the second: imports
        w.Dword(o + 104, SECTION_RVA + IMPORTS);
        w.Dword(o + 108, layout.thunks - IMPORTS);
    }

    const DWORD s = SECTION_TABLE;
    w.Text(s, ".text");
    w.Dword(s + 8, layout.end); // virtual size
    w.Dword(s + 12, SECTION_RVA);
    w.Dword(s + 16, layout.rawSize);
    w.Dword(s + 20, SECTION_FILE);
    w.Dword(s + 36, 0x60000060); // code, initialised data; read and execute
}

// The export directory naming DllCanUnloadNow and DllUnregisterServer (or,
// without it, DllRegisterServer), and the code both run.
void WriteExports(Writer w, bool exportsUnregister) {
    const DWORD e = SECTION_FILE;
    w.Dword(e + EXPORT_DIRECTORY + 12, SECTION_RVA + MODULE_NAME);
    w.Dword(e + EXPORT_DIRECTORY + 16, 1); // ordinal base
    w.Dword(e + EXPORT_DIRECTORY + 20, 2); // functions
    w.Dword(e + EXPORT_DIRECTORY + 24, 2); // names
    w.Dword(e + EXPORT_DIRECTORY + 28, SECTION_RVA + FUNCTIONS);
    w.Dword(e + EXPORT_DIRECTORY + 32, SECTION_RVA + NAMES);
    w.Dword(e + EXPORT_DIRECTORY + 36, SECTION_RVA + ORDINALS);
    w.Dword(e + FUNCTIONS, SECTION_RVA + CODE);
    w.Dword(e + FUNCTIONS + 4, SECTION_RVA + CODE);
    w.Dword(e + NAMES, SECTION_RVA + FIRST_NAME);
    w.Dword(e + NAMES + 4, SECTION_RVA + SECOND_NAME);
    w.Word(e + ORDINALS, 0);
    w.Word(e + ORDINALS + 2, 1);
    w.Text(e + MODULE_NAME, "server.dll");
    w.Text(e + FIRST_NAME, "DllCanUnloadNow");
    // The near miss for a library without the export: a reader must match the whole name.
    w.Text(e + SECOND_NAME, exportsUnregister ? "DllUnregisterServer" : "DllRegisterServer");
    const BYTE code[] = {0x31, 0xC0, 0xC3};
    std::memcpy(&w.image[e + CODE], code, sizeof code);
}

// A descriptor each import, each with its lookup and address tables.
void WriteImports(Writer w, const Layout& layout, const std::vector<std::string>& imports) {
    const DWORD e = SECTION_FILE;
    for (DWORD i = 0; i < (DWORD)imports.size(); ++i) {
        const DWORD descriptor = e + IMPORTS + i * DESCRIPTOR;
        const DWORD lookup = layout.thunks + i * THUNKS;
        w.Dword(descriptor, SECTION_RVA + lookup);
        w.Dword(descriptor + 12, SECTION_RVA + layout.names[i]);
        w.Dword(descriptor + 16, SECTION_RVA + lookup + 8); // the address table
        for (DWORD table : {lookup, lookup + 8})
            w.Dword(e + table, 0x80000001); // ordinal 1
        w.Text(e + layout.names[i], imports[i].c_str());
    }
}

} // namespace

std::vector<BYTE> LibraryImage(const Library& library) {
    const Layout layout = LayOut(library.imports);
    std::vector<BYTE> image(SECTION_FILE + layout.rawSize, 0);
    Writer w{image};
    WriteHeaders(w, layout);
    WriteExports(w, library.exportsUnregister);
    WriteImports(w, layout, library.imports);
    return image;
}

} // namespace Sim
