// "PendingFileRenameOperations" of Session Manager (KEY_SESSION_MANAGER):
// what the session manager carries out at the next boot, before any service
// starts. A REG_MULTI_SZ of pairs: the file's NT path ("\??\C:\..."), then
// its new one, empty when the file is to be deleted; MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT appends a pair.
#pragma once

#include "strings.h"

#include <string>
#include <vector>

namespace PendingRenames {

constexpr char VALUE[] = "PendingFileRenameOperations";
// What an NT path starts with where a Win32 path has none.
constexpr char NT_PREFIX[] = "\\??\\";

struct Rename {
    std::string source; // as stored, its NT prefix included
    std::string target; // "": the source is deleted
};

// The pairs of the value's bytes (ANSI) as the session manager reads them:
// an entry the data ends within, and a last entry without its pair, are none.
inline std::vector<Rename> Renames(const std::vector<unsigned char>& data) {
    std::vector<std::string> entries =
        Strings::SplitMultiString(data, Strings::KEEP_EMPTY | Strings::ENDED_ONLY);
    std::vector<Rename> renames;
    for (size_t i = 0; i + 1 < entries.size(); i += 2)
        renames.push_back({entries[i], entries[i + 1]});
    return renames;
}

// An NT path as the Win32 path it names: without its "\??\".
inline std::string Win32Path(const std::string& path) {
    return path.compare(0, sizeof NT_PREFIX - 1, NT_PREFIX) == 0 ? path.substr(sizeof NT_PREFIX - 1)
                                                                 : path;
}

// The NT path MoveFileEx records of a full Win32 path: a share's
// ("\\server\share\...") under "UNC", any other after the prefix alone.
inline std::string NtPath(const std::string& full) {
    if (full.size() >= 2 && full[0] == '\\' && full[1] == '\\')
        return std::string(NT_PREFIX) + "UNC\\" + full.substr(2);
    return NT_PREFIX + full;
}

// Appends the deletion of `ntPath` to the list's bytes, in place: the list
// grows by one pair a file, and copying it whole each time would cost the
// order of its square.
inline void AppendDeletion(std::vector<unsigned char>* data, const std::string& ntPath) {
    if (data->size() >= 2 && data->back() == 0)
        data->pop_back(); // the list's final NUL, put back after the new pair
    data->insert(data->end(), ntPath.begin(), ntPath.end());
    data->push_back(0);
    data->push_back(0); // no new name: delete
    data->push_back(0);
}

} // namespace PendingRenames
