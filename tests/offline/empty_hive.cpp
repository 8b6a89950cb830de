#include "offline/empty_hive.h"

#include <cstdint>
#include <fstream>

namespace OfflineSupport {

namespace {

constexpr size_t BLOCK = 4096;
constexpr uint64_t WRITTEN = 0x01C48A9B0C0DA000; // 2004-08-25 12:00 UTC, as a FILETIME
constexpr uint32_t NONE = 0xFFFFFFFF;            // no cell
// Cells, as offsets from the first bin: the root key's, the security cell's,
// and the free rest.
constexpr uint32_t ROOT_CELL = 0x20;
constexpr uint32_t ROOT_SIZE = 88; // 4 + the key's 76 bytes + its name, rounded to 8
constexpr uint32_t SECURITY_CELL = ROOT_CELL + ROOT_SIZE;
constexpr uint32_t SECURITY_SIZE = 104; // 4 + 20 + the descriptor's 76, rounded to 8
constexpr uint32_t FREE_CELL = SECURITY_CELL + SECURITY_SIZE;

// A self-relative security descriptor: owner Administrators, group SYSTEM,
// and a list that grants Everyone full access to the key and its subkeys.
// clang-format off
const unsigned char DESCRIPTOR[76] = {
    1, 0, 0x04, 0x80, 48, 0, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, // header
    2, 0, 28, 0, 1, 0, 0, 0,                                            // the access list
    0, 2, 20, 0, 0x3F, 0, 0x0F, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0,  // allowed: Everyone
    1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0,              // S-1-5-32-544
    1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};                               // S-1-5-18
// clang-format on

void Put(std::vector<unsigned char>* hive, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        (*hive)[at + i] = (unsigned char)(value >> (8 * i));
}

} // namespace

std::vector<unsigned char> EmptyHive() {
    std::vector<unsigned char> hive(2 * BLOCK, 0);
    auto put = [&](size_t at, uint64_t value, int bytes) { Put(&hive, at, value, bytes); };

    // The base block.
    hive[0] = 'r', hive[1] = 'e', hive[2] = 'g', hive[3] = 'f';
    put(0x04, 1, 4);       // primary sequence number
    put(0x08, 1, 4);       // secondary: the same, the hive was closed cleanly
    put(0x0C, WRITTEN, 8); // last written
    put(0x14, 1, 4);       // major version
    put(0x18, 3, 4);       // minor version
    put(0x1C, 0, 4);       // a primary file
    put(0x20, 1, 4);       // its format: a memory image
    put(0x24, ROOT_CELL, 4);
    put(0x28, BLOCK, 4); // the bins' size
    put(0x2C, 1, 4);     // clustering factor
    uint32_t sum = 0;
    for (size_t at = 0; at < 0x1FC; at += 4)
        sum ^= (uint32_t)hive[at] | (uint32_t)hive[at + 1] << 8 | (uint32_t)hive[at + 2] << 16 |
               (uint32_t)hive[at + 3] << 24;
    put(0x1FC, sum == 0 ? 1 : sum == NONE ? NONE - 1 : sum, 4);

    // The bin: its header, then the cells, each with its size in front
    // (negative while in use).
    const size_t bin = BLOCK;
    hive[bin] = 'h', hive[bin + 1] = 'b', hive[bin + 2] = 'i', hive[bin + 3] = 'n';
    put(bin + 0x04, 0, 4);     // its offset from the first bin
    put(bin + 0x08, BLOCK, 4); // its size
    put(bin + 0x14, WRITTEN, 8);

    const size_t root = bin + ROOT_CELL;
    put(root, 0u - ROOT_SIZE, 4);
    hive[root + 4] = 'n', hive[root + 5] = 'k';
    put(root + 0x06, 0x24, 2); // the hive's root key, its name in Latin-1
    put(root + 0x08, WRITTEN, 8);
    put(root + 0x14, NONE, 4); // parent: none
    put(root + 0x20, NONE, 4); // subkey list: none (no subkeys)
    put(root + 0x24, NONE, 4); // volatile subkey list: none
    put(root + 0x2C, NONE, 4); // value list: none (no values)
    put(root + 0x30, SECURITY_CELL, 4);
    put(root + 0x34, NONE, 4); // class name: none
    put(root + 0x4C, 4, 2);    // the name's length
    hive[root + 0x50] = 'R', hive[root + 0x51] = 'O', hive[root + 0x52] = 'O';
    hive[root + 0x53] = 'T';

    const size_t security = bin + SECURITY_CELL;
    put(security, 0u - SECURITY_SIZE, 4);
    hive[security + 4] = 's', hive[security + 5] = 'k';
    put(security + 0x08, SECURITY_CELL, 4); // the next security cell: itself, the only one
    put(security + 0x0C, SECURITY_CELL, 4); // and the previous
    put(security + 0x10, 1, 4);             // keys that use it: the root
    put(security + 0x14, sizeof DESCRIPTOR, 4);
    for (size_t i = 0; i < sizeof DESCRIPTOR; ++i)
        hive[security + 0x18 + i] = DESCRIPTOR[i];

    put(bin + FREE_CELL, BLOCK - FREE_CELL, 4);
    return hive;
}

bool WriteEmptyHive(const std::string& path) {
    std::vector<unsigned char> hive = EmptyHive();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(hive.data()), (std::streamsize)hive.size());
    out.close();
    return !out.fail();
}

} // namespace OfflineSupport
