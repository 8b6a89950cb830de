#include "hive.h"

#include "offline.h"

#include "../check/check.h"
#include "../description/description.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <endian.h>
#include <fstream>
#include <iterator>

namespace Offline {

namespace {

constexpr size_t BASE_BLOCK = 4096;
constexpr size_t SECTOR = 512;
constexpr uint32_t LOG_FILE = 1; // BaseBlock::fileType of an old-format transaction log

// The first `size` bytes of a file (fewer when it is shorter); false when
// it cannot be opened, with errno set.
bool ReadStart(const std::string& path, size_t size, std::vector<unsigned char>* bytes,
               long long* length) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bytes->resize(size);
    bytes->resize(std::fread(bytes->data(), 1, size, file));
    std::fseek(file, 0, SEEK_END);
    *length = std::ftell(file);
    std::fclose(file);
    return true;
}

// An old-format transaction log beside the hive that holds a write the hive
// lacks: a valid log (its own two sequence numbers equal), written for this
// hive (the same last-written time), for a later write than the hive's last
// whole one, with dirty pages in its dirty vector.
bool LogHoldsChanges(const std::string& hivePath, const BaseBlock& hive, std::string* why) {
    size_t slash = hivePath.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : hivePath.substr(0, slash);
    std::string name = hivePath.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string log = FindNoCase(folder, name + ".LOG");
    if (log.empty())
        return false;
    std::vector<unsigned char> bytes;
    long long length = 0;
    if (!ReadStart(log, 2 * SECTOR + 8, &bytes, &length) || bytes.size() < 2 * SECTOR + 5)
        return false;
    BaseBlock header;
    if (!ReadBaseBlock(bytes, &header) || std::memcmp(header.magic, "regf", 4) != 0 ||
        header.sequence1 != header.sequence2 || header.fileType != LOG_FILE ||
        std::memcmp(bytes.data() + SECTOR, "DIRT", 4) != 0)
        return false;
    if (header.lastModified != hive.lastModified || header.sequence1 <= hive.sequence2)
        return false;
    bool dirtyPage = false;
    for (size_t at = SECTOR + 4; at < bytes.size(); ++at)
        dirtyPage = dirtyPage || bytes[at] != 0;
    if (dirtyPage)
        *why = log + " holds a write the hive lacks (its sequence number " +
               std::to_string(header.sequence1) + ", the hive's " + std::to_string(hive.sequence2) +
               ")";
    return dirtyPage;
}

} // namespace

bool ReadBaseBlock(const std::vector<unsigned char>& bytes, BaseBlock* block) {
    if (bytes.size() < sizeof *block)
        return false;
    std::memcpy(block, bytes.data(), sizeof *block);
    // Members of a packed struct are not to be pointed at: each turned in place.
    block->sequence1 = le32toh(block->sequence1);
    block->sequence2 = le32toh(block->sequence2);
    block->lastModified = le64toh(block->lastModified);
    block->majorVersion = le32toh(block->majorVersion);
    block->minorVersion = le32toh(block->minorVersion);
    block->fileType = le32toh(block->fileType);
    block->fileFormat = le32toh(block->fileFormat);
    block->rootKeyOffset = le32toh(block->rootKeyOffset);
    block->binsSize = le32toh(block->binsSize);
    block->clustering = le32toh(block->clustering);
    block->checksum = le32toh(block->checksum);
    return true;
}

uint32_t HeaderChecksum(const unsigned char* header) {
    uint32_t sum = 0;
    for (size_t at = 0; at < offsetof(BaseBlock, checksum); at += 4) {
        uint32_t dword;
        std::memcpy(&dword, header + at, 4);
        sum ^= le32toh(dword);
    }
    if (sum == 0xFFFFFFFF)
        return 0xFFFFFFFE;
    return sum == 0 ? 1 : sum;
}

int CheckHive(const std::string& path, HiveFile* file, std::string* why) {
    std::vector<unsigned char> bytes;
    long long length = 0;
    if (!ReadStart(path, BASE_BLOCK, &bytes, &length)) {
        int error = errno;
        *why = path + ": " + std::strerror(error);
        return error == EACCES || error == EPERM ? Check::NOT_ALLOWED : NO_WINDOWS;
    }
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "regf", 4) != 0) {
        *why = path + " is not a registry hive (it does not start with \"regf\")";
        return NOT_A_HIVE;
    }
    if (bytes.size() < BASE_BLOCK) {
        *why = path + " is truncated: " + std::to_string(length) +
               " bytes, shorter than a hive's base block";
        return DAMAGED_HIVE;
    }
    BaseBlock header;
    ReadBaseBlock(bytes, &header);
    uint64_t bins = header.binsSize;
    if ((long long)(BASE_BLOCK + bins) > length) {
        *why = path + " is truncated: its base block counts " + std::to_string(bins) +
               " bytes of hive bins, the file holds " + std::to_string(length - BASE_BLOCK);
        return DAMAGED_HIVE;
    }
    file->primary = header.sequence1;
    file->secondary = header.sequence2;
    if (file->primary != file->secondary) {
        file->dirty = true;
        file->dirtyWhy = path + " was not closed cleanly: its sequence numbers differ (" +
                         std::to_string(file->primary) + ", " + std::to_string(file->secondary) +
                         ")";
    } else if (HeaderChecksum(bytes.data()) != header.checksum) {
        file->dirty = true;
        file->dirtyWhy = path + " was not closed cleanly: its base block's checksum is wrong";
    } else {
        file->dirty = LogHoldsChanges(path, header, &file->dirtyWhy);
    }
    return 0;
}

Hive::~Hive() {
    if (handle != nullptr)
        hivex_close(handle);
}

bool Hive::Open(const std::string& path, bool write, std::string* why) {
    errno = 0;
    handle = hivex_open(path.c_str(), write ? HIVEX_OPEN_WRITE : 0);
    if (handle != nullptr)
        return true;
    int error = errno;
    *why = path + " is damaged: hivex cannot read it (" + std::strerror(error) + ")";
    return false;
}

hive_node_h Hive::Child(hive_node_h node, const std::string& name) const {
    return hivex_node_get_child(handle, node, name.c_str());
}

std::string Hive::Name(hive_node_h node) const {
    char* name = hivex_node_name(handle, node);
    std::string text = name != nullptr ? name : "";
    std::free(name);
    return text;
}

std::vector<hive_node_h> Hive::Children(hive_node_h node) const {
    std::vector<hive_node_h> children;
    hive_node_h* list = hivex_node_children(handle, node);
    for (size_t i = 0; list != nullptr && list[i] != 0; ++i)
        children.push_back(list[i]);
    std::free(list);
    return children;
}

bool RawValue(const Hive& hive, hive_node_h node, const std::string& name, hive_type* type,
              std::vector<unsigned char>* data) {
    hive_value_h value = hivex_node_get_value(hive.get(), node, name.c_str());
    if (value == 0)
        return false;
    size_t length = 0;
    char* bytes = hivex_value_value(hive.get(), value, type, &length);
    if (bytes == nullptr)
        return false;
    data->assign(bytes, bytes + length);
    std::free(bytes);
    return true;
}

std::string FindNoCase(const std::string& folder, const std::string& relative) {
    std::string path = folder;
    size_t at = 0;
    while (at <= relative.size()) {
        size_t end = relative.find('/', at);
        if (end == std::string::npos)
            end = relative.size();
        std::string part = relative.substr(at, end - at);
        at = end + 1;
        if (part.empty())
            continue;
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr)
            return "";
        std::string found;
        std::u16string wanted = Description::UpperUnicode(part);
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name == part) {
                found = part;
                break;
            }
            if (found.empty() && Description::UpperUnicode(entry->d_name) == wanted)
                found = entry->d_name;
        }
        closedir(dir);
        if (found.empty())
            return "";
        path += "/" + found;
    }
    return path;
}

} // namespace Offline
