#include "../catalogue/catalogue.h"
#include "../registry/text.h"
#include "steps.h"

// Windows drops the trailing spaces and dots of a path's last component but
// keeps them inside a path. The product's installer made its group the
// ordinary way, so the folder on disk has the group name without them; the
// same must be used when the folder stands in the middle of a path.
static void TrimLastComponent(char* path) {
    DWORD length = TextLength(path);
    while (length > 1 && (path[length - 1] == ' ' || path[length - 1] == '.') &&
           path[length - 2] != '\\')
        path[--length] = 0;
}

BOOL RemoveStartMenuGroup(int csidl) {
    char groupFolder[MAX_PATH];
    groupFolder[0] = 0;
    if (!Win::SHGetSpecialFolderPathA(NULL, groupFolder, csidl, TRUE) || groupFolder[0] == 0)
        return FALSE;
    if (!AppendText(groupFolder, MAX_PATH, START_MENU_GROUP))
        return FALSE;
    TrimLastComponent(groupFolder);

    char workPath[MAX_PATH];
    if (CopyText(workPath, MAX_PATH, groupFolder) && AppendText(workPath, MAX_PATH, "\\*.lnk")) {
        WIN32_FIND_DATAA found;
        HANDLE search = Win::FindFirstFileA(workPath, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                // A shortcut whose full path would not fit is left alone.
                if (CopyText(workPath, MAX_PATH, groupFolder) &&
                    AppendText(workPath, MAX_PATH, "\\") &&
                    AppendText(workPath, MAX_PATH, found.cFileName))
                    Win::DeleteFileA(workPath);
            } while (Win::FindNextFileA(search, &found));
            Win::FindClose(search);
        }
    }
    return Win::RemoveDirectoryA(groupFolder);
}
