#include "../catalogue/catalogue.h"
#include "../registry/text.h"
#include "steps.h"

// Windows drops the trailing spaces and dots of a path's last component but
// keeps them inside a path. The product's installer made its group the
// ordinary way, so the folder on disk has the group name without them.
static void TrimLastComponent(char* path) {
    DWORD length = TextLength(path);
    while (length > 1 && (path[length - 1] == ' ' || path[length - 1] == '.') &&
           path[length - 2] != '\\')
        path[--length] = 0;
}

// A search for "*.lnk" also matches 8.3 short names ("notes.lnk2" is
// NOTES~1.LNK), so only a long name that really ends in ".lnk" is a shortcut.
static BOOL IsShortcutName(const char* name) {
    static const char EXTENSION[] = ".lnk";
    DWORD length = TextLength(name);
    if (length < 4)
        return FALSE;
    for (DWORD i = 0; i < 4; ++i) {
        if ((name[length - 4 + i] | 0x20) != EXTENSION[i])
            return FALSE;
    }
    return TRUE;
}

// Deletes the shortcuts in `groupFolder`, then the folder itself; nonzero
// when the folder was removed. `keepName` removes it through a trailing
// backslash, which keeps the trailing spaces of its name.
static BOOL RemoveGroupFolder(const char* groupFolder, BOOL keepName) {
    char workPath[MAX_PATH];
    if (CopyText(workPath, MAX_PATH, groupFolder) && AppendText(workPath, MAX_PATH, "\\*.lnk")) {
        WIN32_FIND_DATAA found;
        HANDLE search = Win::FindFirstFileA(workPath, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                // A shortcut whose full path would not fit is left alone.
                if (IsShortcutName(found.cFileName) && CopyText(workPath, MAX_PATH, groupFolder) &&
                    AppendText(workPath, MAX_PATH, "\\") &&
                    AppendText(workPath, MAX_PATH, found.cFileName))
                    Win::DeleteFileA(workPath);
            } while (Win::FindNextFileA(search, &found));
            Win::FindClose(search);
        }
    }
    if (!keepName)
        return Win::RemoveDirectoryA(groupFolder);
    if (!CopyText(workPath, MAX_PATH, groupFolder) || !AppendText(workPath, MAX_PATH, "\\"))
        return FALSE;
    return Win::RemoveDirectoryA(workPath);
}

// The group is looked for under its name as the catalogue spells it, which a
// folder made through a path ending in a backslash really carries, and then
// under the name Windows makes of it the ordinary way.
BOOL RemoveStartMenuGroup(int csidl) {
    char groupFolder[MAX_PATH];
    groupFolder[0] = 0;
    if (!Win::SHGetSpecialFolderPathA(NULL, groupFolder, csidl, TRUE) || groupFolder[0] == 0)
        return FALSE;
    if (!AppendText(groupFolder, MAX_PATH, START_MENU_GROUP))
        return FALSE;
    DWORD literalLength = TextLength(groupFolder);
    BOOL removed = RemoveGroupFolder(groupFolder, TRUE);
    TrimLastComponent(groupFolder);
    if (TextLength(groupFolder) != literalLength && RemoveGroupFolder(groupFolder, FALSE))
        removed = TRUE;
    return removed;
}

void RemoveStartMenuGroups() {
    RemoveStartMenuGroup(CSIDL_PROGRAMS);
    RemoveStartMenuGroup(CSIDL_COMMON_PROGRAMS);
}
