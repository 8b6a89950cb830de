// A hive file as the offline reader and repair handle it: its base block
// checked before hivex opens it, the hive opened through hivex, and names
// on a disk mounted on Linux found without regard to case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <hivex.h>

namespace Offline {

// The header of a hive's base block (its first 4 KiB), as the published
// regf format lays it out, numbers little-endian. The rest of the block is
// not read.
#pragma pack(push, 1)
struct BaseBlock {
    char magic[4];          // "regf"
    uint32_t sequence1;     // raised before Windows writes the hive
    uint32_t sequence2;     // set equal to it once the write is whole
    uint64_t lastModified;  // a FILETIME
    uint32_t majorVersion;  // 1
    uint32_t minorVersion;  // 3 on Windows XP, 5 later
    uint32_t fileType;      // 0: a hive; 1: its transaction log, in the old format
    uint32_t fileFormat;    // 1: a memory image
    uint32_t rootKeyOffset; // of the root key's cell, from the first bin
    uint32_t binsSize;      // the hive bins' bytes, after the base block
    uint32_t clustering;    // 1
    char fileName[64];      // the end of the file's path, UTF-16
    unsigned char reserved[396];
    uint32_t checksum; // of the 127 dwords before it (HeaderChecksum)
};
#pragma pack(pop)
static_assert(sizeof(BaseBlock) == 512 && offsetof(BaseBlock, binsSize) == 0x28 &&
                  offsetof(BaseBlock, checksum) == 0x1FC,
              "the regf base block's header");

// The base block's header of a file's first bytes, its numbers in this
// machine's order; false when they are fewer than the header.
bool ReadBaseBlock(const std::vector<unsigned char>& bytes, BaseBlock* block);
// The header's checksum as Windows makes it: the dwords before the checksum
// XORed, 0 and -1 kept apart (neither is ever written).
uint32_t HeaderChecksum(const unsigned char* header);

// What a hive's base block says of the file.
struct HiveFile {
    uint32_t primary = 0;   // the sequence number Windows raises before it writes
    uint32_t secondary = 0; // the one it sets equal after: unequal, the write was cut short
    bool dirty = false;     // the sequence numbers differ, or the log holds changes the file lacks
    std::string dirtyWhy;
};

// Checks `path` is a whole hive: 0 with `file` filled, else NOT_A_HIVE,
// DAMAGED_HIVE, NO_WINDOWS (no such file) or 5 (not allowed to read it),
// with `why`.
int CheckHive(const std::string& path, HiveFile* file, std::string* why);

// A hive open through hivex, closed when it goes.
class Hive {
  public:
    Hive() = default;
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;
    ~Hive();
    // False with `why` (and errno's reason) when hivex refuses the file.
    bool Open(const std::string& path, bool write, std::string* why);
    hive_h* get() const { return handle; }
    hive_node_h Root() const { return hivex_root(handle); }
    // A child by its name without regard to case (hivex's own lookup), 0 when none.
    hive_node_h Child(hive_node_h node, const std::string& name) const;
    // A node's name, and its children, in the hive's order.
    std::string Name(hive_node_h node) const;
    std::vector<hive_node_h> Children(hive_node_h node) const;

  private:
    hive_h* handle = nullptr;
};

// A value's raw bytes and type, false when the node has no such value.
bool RawValue(const Hive& hive, hive_node_h node, const std::string& name, hive_type* type,
              std::vector<unsigned char>* data);

struct Place;
// The SYSTEM hive of a place: the one given, else its Windows folder's ("" when none).
std::string SystemHivePath(const Place& place);

// The path below `folder` whose names match `relative`'s ('/'-separated)
// without regard to case, "" when there is none.
std::string FindNoCase(const std::string& folder, const std::string& relative);

} // namespace Offline
