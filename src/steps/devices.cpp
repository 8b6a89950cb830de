#include "../catalogue/catalogue.h"
#include "../registry/text.h"
#include "steps.h"

constexpr int HARDWARE_ID_UNITS = 64;

int MatchHardwareId(const WCHAR* hardwareId) {
    for (const char* entry = HardwareIdList; *entry != 0; entry = NextListEntry(entry)) {
        WCHAR wide[HARDWARE_ID_UNITS];
        if (Win::MultiByteToWideChar(CP_ACP, 0, entry, -1, wide, HARDWARE_ID_UNITS) == 0)
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
        WCHAR hardwareId[HARDWARE_ID_BYTES / sizeof(WCHAR) + 1];
        DWORD returned = 0;
        if (!Win::SetupDiGetDeviceRegistryPropertyW(set, &record, SPDRP_HARDWAREID, NULL,
                                                    (BYTE*)hardwareId, HARDWARE_ID_BYTES,
                                                    &returned) ||
            returned > HARDWARE_ID_BYTES)
            continue;
        hardwareId[returned / sizeof(WCHAR)] = 0;
        if (MatchHardwareId(hardwareId) == 1)
            Win::SetupDiCallClassInstaller(DIF_REMOVE, set, &record);
    }
    Win::SetupDiDestroyDeviceInfoList(set);
}
