#include "catalogue.h"

#include "../platform/windows_keys.h"

namespace {

// The entry at index `n` of a constant list, found while compiling.
constexpr const char* ListEntry(const char* list, int n) {
    while (n-- > 0) {
        while (*list != 0)
            ++list;
        ++list;
    }
    return list;
}

// Whether two texts are the same byte for byte, case included: the checks
// below pin the exact entry a pointer into a list names.
constexpr bool IsExactly(const char* a, const char* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

} // namespace

extern constexpr char HardwareIdList[] = "Korrin\\KrHub\0"
                                         "*ZOLTAudio01\0"
                                         "root\\VkBusEnum\0"
                                         "Korrin\\vkxhci\0";

extern constexpr char MainFileList[] = "VkConsole.exe\0"
                                       "VkSiteMMC.dll\0"
                                       "VkMmc.msc\0"
                                       "VkSiteMmc.msc\0"
                                       "VkDskExt.exe\0"
                                       "VkLogoff.exe\0"
                                       "VkUninst.exe\0"
                                       "dzseatid.tdx\0"
                                       "vkaxfer.sys\0"
                                       "vkaxfer.inf\0"
                                       "vkaudio.sys\0"
                                       "vkaudio.inf\0"
                                       "vkbus.sys\0"
                                       "vkbus.inf\0"
                                       "vkclass.dll\0"
                                       "vkxhci.sys\0"
                                       "vkxhciu.inf\0"
                                       "VkTone.wav\0"
                                       "VkView.dll\0"
                                       "VkUsbMmc.dll\0"
                                       "VkUsbVw.dll\0"
                                       "VkMMC.dll\0";
extern constexpr const char* const MainServerList = ListEntry(MainFileList, 18);
static_assert(IsExactly(ListEntry(MainFileList, 18), "VkView.dll"), "main servers");
static_assert(*ListEntry(MainFileList, 22) == 0, "22 main files");

extern constexpr char ExtraFileList[] = "VkMain.exe\0"
                                        "VkDskExt.dll\0"
                                        "VkKbdExt.dll\0"
                                        "Vkaidu.dll\0"
                                        "VkLogon.dll\0"
                                        "VkWinSta.dll\0"
                                        "dzseatid.tdx\0"
                                        "dzvdisp.dll\0"
                                        "vkclass.dll\0";
static_assert(*ListEntry(ExtraFileList, 9) == 0, "9 extra files");

extern constexpr char SupportFileList[] = "VkServer.exe\0"
                                          "VkLogo_5.bin\0"
                                          "VkUsbMmc.dll\0"
                                          "VkUsbVw.dll\0"
                                          "SeatMmc.dll\0"
                                          "SeatView.dll\0";
extern constexpr const char* const SupportServerList = ListEntry(SupportFileList, 4);
static_assert(IsExactly(ListEntry(SupportFileList, 4), "SeatMmc.dll"), "support servers");
static_assert(*ListEntry(SupportFileList, 6) == 0, "6 support files");

extern constexpr char DriverFileList[] = "VkGate.sys\0"
                                         "VkMouCls.sys\0"
                                         "VkKbdCls.sys\0"
                                         "VkRelay.sys\0"
                                         "VkAidk.sys\0"
                                         "VkKbdPnp.sys\0"
                                         "VkMouPnp.sys\0"
                                         "VkHidCls.sys\0"
                                         "VkStore.sys\0"
                                         "dzvdisp.sys\0"
                                         "dzstd.sys\0"
                                         "VkInst.sys\0"
                                         "vkaxfer.sys\0"
                                         "vkaudio.sys\0"
                                         "vkbus.sys\0"
                                         "vkxhci.sys\0";
static_assert(*ListEntry(DriverFileList, 16) == 0, "16 driver files");

extern constexpr char ServiceList[] = "DzInstall\0"
                                      "DzService\0"
                                      "DzBootSrv\0"
                                      "DzPciVga\0"
                                      "DzUsbMouse\0"
                                      "DzUsbKeyboard\0"
                                      "DzLegacyKeyboard\0"
                                      "DzHelper\0"
                                      "DzXpKbdPnp\0"
                                      "DzXpMouPnp\0"
                                      "DzXpHidCls\0"
                                      "DzStore\0"
                                      "DzVdisp\0"
                                      "Dzstd\0"
                                      "vkaxfer\0"
                                      "vkaudio\0"
                                      "vkbus\0"
                                      "vkxhci\0";
static_assert(*ListEntry(ServiceList, 18) == 0, "18 services");

extern constexpr char ClassFilterGuids[] = "4D36E980-E325-11CE-BFC1-08002BE10318\0"
                                           "4D36E967-E325-11CE-BFC1-08002BE10318\0"
                                           "71A27CDD-812A-11D0-BEC7-08002BE2092F\0"
                                           "4D36E96B-E325-11CE-BFC1-08002BE10318\0"
                                           "4D36E96F-E325-11CE-BFC1-08002BE10318\0"
                                           "745A17A0-74D3-11D0-B6FE-00A0C90F57DA\0";
static_assert(*ListEntry(ClassFilterGuids, CLASS_FILTER_ROWS) == 0, "6 classes");

extern constexpr const char* const ClassFilterNames[CLASS_FILTER_ROWS] = {
    ListEntry(ServiceList, 11), // DzStore: floppy disk drives
    ListEntry(ServiceList, 11), // DzStore: disk drives
    ListEntry(ServiceList, 11), // DzStore: storage volumes
    ListEntry(ServiceList, 8),  // DzXpKbdPnp: keyboards
    ListEntry(ServiceList, 9),  // DzXpMouPnp: mice
    ListEntry(ServiceList, 10), // DzXpHidCls: human interface devices
};
static_assert(IsExactly(ListEntry(ServiceList, 11), "DzStore") &&
                  IsExactly(ListEntry(ServiceList, 8), "DzXpKbdPnp") &&
                  IsExactly(ListEntry(ServiceList, 9), "DzXpMouPnp") &&
                  IsExactly(ListEntry(ServiceList, 10), "DzXpHidCls"),
              "class filter names");

extern constexpr ShellRegistration ShellRegistrationTable[SHELL_REGISTRATION_ROWS] = {
    {"{3B9E6C10-7A2D-11D2-8F4C-00A0C9E41B27}", "Seat Display Extension"},
    {"{3B9E6C11-7A2D-11D2-8F4C-00A0C9E42A53}", "Shared Input Extension"},
};

extern constexpr char START_MENU_GROUP[] = "\\Tallowin  ";
static_assert(sizeof(START_MENU_GROUP) == 12, "the group name keeps its two trailing spaces");
extern constexpr char PRODUCT_CONTROL_KEY[] = KEY_CONTROL "\\Multiuser";
extern constexpr char PRODUCT_FOLDER_VALUE[] = "DzPath";
extern constexpr char WINLOGON_NOTIFY_RYWINLOG[] = KEY_WINLOGON_NOTIFY "\\RyWinLog";
extern constexpr char WINLOGON_NOTIFY_DZMUNOTIFY[] = KEY_WINLOGON_NOTIFY "\\Dzmunotify";
extern constexpr char GROUP_ORDER_TERMSERVICE[] = GROUP_TERMSERVICE;
extern constexpr char GROUP_ORDER_MULTIUSER[] = "Multiuser";
extern constexpr const char* const PREPARE_REMOVAL_SERVICE = ListEntry(ServiceList, 1);
static_assert(IsExactly(ListEntry(ServiceList, 1), "DzService"), "prepared service");
