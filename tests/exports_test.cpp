// A library's export of DllUnregisterServer, read from its file without
// loading it: the simulated library's image through the platform boundary,
// the 64-bit image form, and damaged images.
#include "description/exports.h"
#include "support.h"

#include <algorithm>
#include <cstring>

namespace {

class ExportsTest : public FreshMachine {};

DWORD At(const std::vector<BYTE>& image, size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, &image[offset], 4); // the host is little-endian, as the image is
    return value;
}

// The PE32+ form of a PE32 image from Sim::LibraryImage: the optional header
// grows by 16 bytes (64-bit stack and heap sizes) into the headers' padding.
std::vector<BYTE> Wide(std::vector<BYTE> image) {
    size_t optional = At(image, 0x3C) + 24;
    image[optional] = 0x0B;
    image[optional + 1] = 0x02;
    image[optional - 4] += 16; // the optional header's size
    image.insert(image.begin() + optional + 88, 16, 0);
    image.erase(image.begin() + 0x200, image.begin() + 0x210);
    return image;
}

} // namespace

TEST_F(ExportsTest, ALibraryIsReadFromItsExportTableWithReadRightsOnly) {
    Sim::MakeDirectory("C:\\Lib");
    Sim::MakeFile("C:\\Lib\\server.dll", "laid by an installer")->library =
        std::make_unique<Sim::Library>();
    EXPECT_EQ(Description::Library::Unregisters, Description::ReadLibrary("C:\\Lib\\server.dll"));
    // The image follows the record as it is when read.
    Sim::FindNode("C:\\Lib\\server.dll")->library->exportsUnregister = false;
    EXPECT_EQ(Description::Library::NoExport, Description::ReadLibrary("C:\\Lib\\server.dll"));
    Sim::FindNode("C:\\Lib\\server.dll")->library->imports = {"vkclass.dll", "KERNEL32.dll"};
    std::vector<std::string> imports;
    EXPECT_EQ(Description::Library::NoExport,
              Description::ReadLibrary("C:\\Lib\\server.dll", &imports));
    EXPECT_EQ(std::vector<std::string>({"vkclass.dll", "KERNEL32.dll"}), imports);
    Sim::MakeFile("C:\\Lib\\notes.dll", "MZ, and no more of an image");
    for (const char* path :
         {"C:\\Lib\\notes.dll", "C:\\Lib\\absent.dll", "C:\\Lib\\No\\x.dll", "C:\\Lib"})
        EXPECT_EQ(Description::Library::None, Description::ReadLibrary(path)) << path;
    for (const std::string& call : CallsOf("CreateFileA"))
        EXPECT_NE(std::string::npos, call.find(", 0x80000000, 3)")) << call;
    EXPECT_EQ(7u, CallsOf("CreateFileA").size());
    EXPECT_EQ(0, Sim::OpenHandles(Sim::HandleKind::File));
    EXPECT_TRUE(CallsOf("LoadLibraryA").empty());
    EXPECT_TRUE(CallsOf("LoadLibraryExA").empty());
}

TEST(Exports, BothImageFormsAreReadAndNoDamageLeadsOutsideTheImageOrToAFalseExport) {
    const Sim::Library server;
    for (const std::vector<BYTE>& whole :
         {Sim::LibraryImage(server), Wide(Sim::LibraryImage(server))}) {
        const char NAME[] = "DllUnregisterServer";
        bool exported = false;
        ASSERT_TRUE(Description::ExportsName(whole, NAME, &exported) && exported);
        size_t name =
            std::search(whole.begin(), whole.end(), NAME, NAME + sizeof NAME) - whole.begin();
        size_t nameEnd = name + sizeof NAME;
        // A file cut short: the export is there exactly when its name is.
        for (size_t size = 0; size < whole.size(); ++size) {
            std::vector<BYTE> cut(whole.begin(), whole.begin() + size);
            bool read = Description::ExportsName(cut, NAME, &exported);
            EXPECT_EQ(size >= nameEnd, read && exported) << "cut at " << size;
        }
        // The pointers the reader follows to the name: the PE header's offset,
        // the export directory's RVA, the section's file offset, the name
        // table's RVA and the second name's RVA. Any of them damaged, no image.
        size_t sections = At(whole, 0x3C) + 24 + (At(whole, At(whole, 0x3C) + 20) & 0xFFFF);
        size_t raw = At(whole, sections + 20);
        size_t names = raw + At(whole, raw + 32) - At(whole, sections + 12);
        const size_t pointers[] = {0x3C, sections - 128, sections + 20, raw + 32, names + 4};
        for (size_t at = 0; at + 4 <= whole.size(); ++at) {
            std::vector<BYTE> damaged = whole;
            std::fill_n(damaged.begin() + at, 4, 0xFF);
            bool read = Description::ExportsName(damaged, NAME, &exported);
            bool pointer = std::count(std::begin(pointers), std::end(pointers), at) != 0;
            EXPECT_FALSE(pointer && read) << "pointer at " << at;
            EXPECT_FALSE(at + 4 > name && at < nameEnd && read && exported) << "name at " << at;
        }
    }
}

// The import table's library names, in order, in both image forms: read
// exactly when the file holds them all, and a damaged pointer to them reads
// as no image.
TEST(Exports, TheImportedLibrariesAreReadInBothFormsAndNoDamageLeadsOutsideTheImage) {
    Sim::Library library;
    EXPECT_TRUE(Description::ImportedNames(Sim::LibraryImage(library), &library.imports));
    EXPECT_TRUE(library.imports.empty());
    library.imports = {"vkclass.dll", "KERNEL32.dll", "a-name-of-some-length.dll"};
    for (const std::vector<BYTE>& whole :
         {Sim::LibraryImage(library), Wide(Sim::LibraryImage(library))}) {
        std::vector<std::string> names;
        ASSERT_TRUE(Description::ImportedNames(whole, &names));
        EXPECT_EQ(library.imports, names);
        const std::string& last = library.imports.back();
        size_t lastEnd = std::search(whole.begin(), whole.end(), last.begin(), last.end()) -
                         whole.begin() + last.size() + 1;
        for (size_t size = 0; size < whole.size(); ++size) {
            std::vector<BYTE> cut(whole.begin(), whole.begin() + size);
            bool read = Description::ImportedNames(cut, &names);
            EXPECT_EQ(size >= lastEnd, read) << "cut at " << size;
            EXPECT_TRUE(!read || names == library.imports) << "cut at " << size;
        }
        // The import directory's RVA and each descriptor's name RVA.
        size_t optional = At(whole, 0x3C) + 24;
        size_t directory =
            optional + (whole[optional] == 0x0B && whole[optional + 1] == 0x02 ? 112 + 8 : 96 + 8);
        size_t sections = optional + (At(whole, optional - 4) & 0xFFFF);
        size_t raw = At(whole, sections + 20);
        size_t descriptors = raw + At(whole, directory) - At(whole, sections + 12);
        std::vector<size_t> pointers = {directory};
        for (size_t i = 0; i < library.imports.size(); ++i)
            pointers.push_back(descriptors + i * 20 + 12);
        for (size_t at = 0; at + 4 <= whole.size(); ++at) {
            std::vector<BYTE> damaged = whole;
            std::fill_n(damaged.begin() + at, 4, 0xFF);
            bool read = Description::ImportedNames(damaged, &names);
            bool pointer = std::count(pointers.begin(), pointers.end(), at) != 0;
            EXPECT_FALSE(pointer && read) << "pointer at " << at;
        }
    }
}
