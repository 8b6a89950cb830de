#include "../catalogue/catalogue.h"
#include "../registry/text.h"
#include "steps.h"

// The UTF-16 units of one hardware ID as compared, its NUL included: a
// device's first ID, ended within the list read of it, or a catalogue ID
// converted for the comparison. A catalogue ID longer than that could match
// no device's, so one that does not fit is passed over.
constexpr int COMPARED_ID_UNITS = HARDWARE_ID_LIST_BYTES / sizeof(WCHAR) + 1;

int MatchHardwareId(const WCHAR* hardwareId) {
    for (const char* entry = HardwareIdList; *entry != 0; entry = NextListEntry(entry)) {
        WCHAR wide[COMPARED_ID_UNITS];
        if (Win::MultiByteToWideChar(CP_ACP, 0, entry, -1, wide, COMPARED_ID_UNITS) == 0)
            continue;
        if (Win::lstrcmpiW(wide, hardwareId) == 0)
            return 1;
    }
    return 0;
}

void RemoveDevices() {
    if (systemDirectory != NULL)
        Win::SetCurrentDirectoryA(systemDirectory);

    HDEVINFO set = Win::SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA record;
        record.cbSize = sizeof(record);
        if (!Win::SetupDiEnumDeviceInfo(set, index, &record))
            break;
        // Only the whole units the read delivered take part, ended by a NUL
        // placed after them: a hardware ID not terminated within what was
        // read is never read past, nor completed by what the buffer held.
        WCHAR hardwareId[COMPARED_ID_UNITS];
        DWORD returned = 0;
        if (!Win::SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_HARDWAREID, NULL,
                                                    (BYTE*)hardwareId, HARDWARE_ID_LIST_BYTES,
                                                    &returned) ||
            returned > HARDWARE_ID_LIST_BYTES)
            continue;
        hardwareId[returned / sizeof(WCHAR)] = 0;
        if (MatchHardwareId(hardwareId) == 1)
            Win::SetupDiCallClassInstaller(DIF_REMOVE, set, &record);
    }
    Win::SetupDiDestroyDeviceInfoList(set);
}
