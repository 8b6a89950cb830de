// The simulated machine written as the disk of a Windows that is switched
// off: its SYSTEM and SOFTWARE hives (made with hivex from an empty hive)
// and the files of its drive C:, for the tests of the offline reader and
// repair.
#pragma once

#include <string>
#include <vector>

namespace OfflineSupport {

// Writes the current simulated machine under the folder `root`, as its
// drive C:
//  - <Windows folder>\system32\config\SYSTEM: HKLM\SYSTEM, its
//    CurrentControlSet as ControlSet00N, N being Select\Current (1 without
//    one), in place of any key of that name; each registered device as its
//    key ControlSet00N\Enum\<instance ID> (ClassGUID, and HardwareID,
//    Service, UpperFilters and LowerFilters when it has them), merged with a
//    key already there;
//  - <Windows folder>\system32\config\SOFTWARE: HKLM\SOFTWARE, with
//    Microsoft\Windows NT\CurrentVersion's CurrentVersion, CurrentBuildNumber
//    (NT only) and SystemRoot taken from the machine's version and Windows
//    folder where it lacks them;
//  - every folder and file of the drive C:, a library as the image it reads
//    as, every file writable whatever its attributes.
// Names are written in the case the machine holds them; the folders on the
// way to the hives take the case of the machine's folders where it has
// them. String data go to the hives as UTF-16, as Windows keeps them, every
// other type's bytes as they are. Keys that refuse opening or writing are
// written as the others: a disk read offline knows no access checks. False,
// with `why` saying what failed, when something cannot be written.
bool WriteWindows(const std::string& root, std::string* why);

// Every key of a hive (its path below the root) and every value as
//     <key path> TAB <name> TAB <type, decimal> TAB <data, hex>
// lines, sorted as text (a key's line comes before its values'). One line
// "! <path>: <reason>" when the file cannot be opened as a hive.
std::vector<std::string> HiveLines(const std::string& hivePath);

} // namespace OfflineSupport
