// The export and import tables of a PE file, read from the file's bytes as
// they lie on disk: every RVA is taken through the section table to a file
// offset, and every offset and count is checked against the bytes before it
// is used, so that a damaged or hostile file can neither lead the reader
// outside them nor keep it long.
#include "exports.h"

#include "calls.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace Description {

namespace {

constexpr DWORD MOST_BYTES = 64u << 20; // no library of the product comes near
constexpr DWORD MOST_SECTIONS = 96;     // the most the loader of these Windows versions takes
constexpr DWORD MOST_NAMES = 65536;     // a name's ordinal is 16 bits
constexpr DWORD SECTION_HEADER = 40;
constexpr DWORD EXPORT_DIRECTORY = 40;
constexpr DWORD IMPORT_DESCRIPTOR = 20;
constexpr DWORD MOST_IMPORTS = 1024; // libraries one image imports; real ones import tens

struct Reader {
    const std::vector<BYTE>& bytes;
    uint64_t sections = 0; // the section table's file offset
    DWORD sectionCount = 0;

    bool Holds(uint64_t offset, uint64_t count) const {
        return offset <= bytes.size() && count <= bytes.size() - offset;
    }
    bool Word(uint64_t at, DWORD* value) const {
        if (!Holds(at, 2))
            return false;
        *value = bytes[at] | (DWORD)bytes[at + 1] << 8;
        return true;
    }
    bool Dword(uint64_t at, DWORD* value) const {
        DWORD low, high;
        if (!Word(at, &low) || !Word(at + 2, &high))
            return false;
        *value = low | high << 16;
        return true;
    }

    // The file offset of `count` bytes at `rva`, and where the bytes of the
    // section holding them end, when that section's data in the file holds
    // them all.
    bool Map(DWORD rva, uint64_t count, uint64_t* offset, uint64_t* end) const {
        for (DWORD i = 0; i < sectionCount; ++i) {
            uint64_t header = sections + (uint64_t)i * SECTION_HEADER;
            DWORD virtualSize, address, rawSize, rawStart;
            if (!Dword(header + 8, &virtualSize) || !Dword(header + 12, &address) ||
                !Dword(header + 16, &rawSize) || !Dword(header + 20, &rawStart))
                return false;
            // A size of 0 in memory: some linkers give only the size in the file.
            uint64_t span = virtualSize != 0 ? virtualSize : rawSize;
            if (rva < address || rva - address >= span)
                continue;
            uint64_t at = (uint64_t)rawStart + (rva - address);
            uint64_t limit = std::min<uint64_t>((uint64_t)rawStart + rawSize, bytes.size());
            if (at > limit || count > limit - at)
                return false;
            *offset = at;
            *end = limit;
            return true;
        }
        return false;
    }

    // Whether the text at `rva` is `name`; false when no section holds the rva.
    bool NameIs(DWORD rva, const char* name, bool* same) const {
        uint64_t at, end;
        if (!Map(rva, 1, &at, &end))
            return false;
        size_t length = std::strlen(name) + 1; // with its NUL
        *same = length <= end - at && std::memcmp(&bytes[at], name, length) == 0;
        return true;
    }
};

// The headers of a PE image, PE32 or PE32+ (which differ in where the count
// of data directories lies, the directories after it): the section table
// taken into `r`, and the RVA of data directory `index` (0 when the image
// has none). False when the bytes are no image this reads.
bool DirectoryRva(Reader* r, DWORD index, DWORD* rva) {
    *rva = 0;
    DWORD mz, pe, signature;
    if (!r->Word(0, &mz) || mz != 0x5A4D || !r->Dword(0x3C, &pe) || !r->Dword(pe, &signature) ||
        signature != 0x4550)
        return false;
    uint64_t header = pe;
    uint64_t optional = header + 24;
    DWORD sectionCount, optionalSize, magic;
    if (!r->Word(header + 6, &sectionCount) || !r->Word(header + 20, &optionalSize) ||
        !r->Word(optional, &magic))
        return false;
    DWORD countAt = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
    if (countAt == 0 || optionalSize < countAt + 4 || sectionCount > MOST_SECTIONS)
        return false;
    r->sections = optional + optionalSize;
    r->sectionCount = sectionCount;
    DWORD directories;
    if (!r->Holds(r->sections, (uint64_t)sectionCount * SECTION_HEADER) ||
        !r->Dword(optional + countAt, &directories))
        return false;
    // The directory's entry, when the header holds one.
    uint64_t entry = countAt + 4 + (uint64_t)index * 8;
    if (directories > index && optionalSize >= entry + 8 && !r->Dword(optional + entry, rva))
        return false;
    return true;
}

} // namespace

bool ExportsName(const std::vector<BYTE>& image, const char* name, bool* exported) {
    *exported = false;
    Reader r{image};
    DWORD exportsRva;
    if (!DirectoryRva(&r, 0, &exportsRva))
        return false;
    if (exportsRva == 0)
        return true; // an image that exports nothing
    uint64_t directory, table, end;
    DWORD names, namesRva;
    if (!r.Map(exportsRva, EXPORT_DIRECTORY, &directory, &end) ||
        !r.Dword(directory + 24, &names) || !r.Dword(directory + 32, &namesRva) ||
        names > MOST_NAMES)
        return false;
    if (names == 0)
        return true;
    if (!r.Map(namesRva, (uint64_t)names * 4, &table, &end))
        return false;
    for (DWORD i = 0; i < names; ++i) {
        DWORD nameRva;
        bool same = false;
        if (!r.Dword(table + (uint64_t)i * 4, &nameRva) || !r.NameIs(nameRva, name, &same))
            return false;
        if (same) {
            *exported = true;
            return true;
        }
    }
    return true;
}

bool ImportedNames(const std::vector<BYTE>& image, std::vector<std::string>* names) {
    names->clear();
    Reader r{image};
    DWORD importsRva;
    if (!DirectoryRva(&r, 1, &importsRva))
        return false;
    // The descriptors end, as the loader reads them, at the first without a
    // name or an address table.
    for (DWORD i = 0; importsRva != 0; ++i) {
        uint64_t rva = importsRva + (uint64_t)i * IMPORT_DESCRIPTOR;
        uint64_t descriptor, end, name;
        DWORD nameRva, addresses;
        if (i == MOST_IMPORTS || rva > 0xFFFFFFFFu ||
            !r.Map((DWORD)rva, IMPORT_DESCRIPTOR, &descriptor, &end) ||
            !r.Dword(descriptor + 12, &nameRva) || !r.Dword(descriptor + 16, &addresses))
            return false;
        if (nameRva == 0 || addresses == 0)
            return true;
        if (!r.Map(nameRva, 1, &name, &end))
            return false;
        // A file name, ended within the section and MAX_PATH.
        uint64_t length = 0;
        while (name + length < end && length < MAX_PATH && image[name + length] != 0)
            ++length;
        if (length == 0 || name + length == end || length == MAX_PATH)
            return false;
        names->emplace_back((const char*)&image[name], (size_t)length);
    }
    return true;
}

// The whole file, read through `win`; false when it cannot be read
// or is over MOST_BYTES.
static bool ReadImage(const Calls& win, const std::string& path, std::vector<BYTE>* image) {
    // Whoever else has the file open, for writing or to delete it, reading goes on.
    HANDLE file = win.CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD high = 0;
    DWORD size = win.GetFileSize(file, &high);
    bool whole = false;
    if (size != INVALID_FILE_SIZE && high == 0 && size <= MOST_BYTES) {
        image->resize(size);
        DWORD done = 0, read = 0;
        while (done < size &&
               win.ReadFile(file, image->data() + done, size - done, &read, nullptr) && read != 0)
            done += read;
        whole = done == size;
    }
    win.CloseHandle(file);
    return whole;
}

Library ReadLibrary(const Calls& win, const std::string& path, std::vector<std::string>* imports) {
    std::vector<BYTE> image;
    std::vector<std::string> names;
    bool exported = false;
    if (imports != nullptr)
        imports->clear();
    // An image whose import table cannot be read would not load either.
    if (!ReadImage(win, path, &image) || !ExportsName(image, "DllUnregisterServer", &exported) ||
        !ImportedNames(image, &names))
        return Library::None;
    if (imports != nullptr)
        *imports = std::move(names);
    return exported ? Library::Unregisters : Library::NoExport;
}

Library ReadLibrary(const std::string& path, std::vector<std::string>* imports) {
    return ReadLibrary(PlatformCalls(), path, imports);
}

} // namespace Description
