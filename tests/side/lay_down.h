// A described machine made real on Windows itself, for the side-by-side runs
// under Wine: laid down through the Windows calls an installer makes. What a
// Win32 call cannot make (the program behind a service, the library behind a
// file) goes through the two platform hooks below (win32_hooks.cpp). What an
// installer's calls can make of a description is plain data (layable.cpp),
// so that the simulated side starts from the same machine.
#pragma once

#include "description/description.h"

namespace Description {

// Why a description cannot be laid down through Win32 calls, or "" when it can.
std::string Unlayable(const Machine& machine);

// The machine LayDown makes of a layable `machine` on `clean`, as far as a
// description tells: a service runs when it is started, a service that is
// no kernel driver and has a program (nothing starts a driver that is only a
// file), else it is as the clean machine has it or stopped; each
// root-enumerated device the clean machine lacks gets the instance ID
// DICD_GENERATE_ID gives it, the next free number under its name, beside the
// clean machine's own devices; files are laid without attributes; the
// Windows version is the clean machine's.
Machine LaidDown(const Machine& machine, const Machine& clean);

// Lays the machine down on the current one; false, with `why`, when a call
// failed. The boot view is laid too: each service's values as the boot
// loader and the service manager read them, the class filters, "Select" and
// another control set when the view has them, and the image files the view
// found (empty files), those it did not taken away. A service `own` (the
// clean machine the current one was made from) has is its own and keeps its
// values and image, unless the description holds its key in full; with no
// `own`, every service of the view is laid.
bool LayDown(const Machine& machine, std::string* why, const Machine* own = nullptr);

// The full path of a described file on this machine ("" when its folder is unknown).
std::string FullPath(const std::string& described);

// What the installer and the rules of what it can lay down share.
bool StartsWith(const std::string& text, const std::string& prefix); // without case
DWORD DwordOf(const Value* value, DWORD fallback);
// A text value as a call argument: NULL when absent or not text.
const char* TextOf(const Value* value, std::string* holder);
// The ASCII multi-string of a UTF-16 list, or false when it holds other
// characters or is not a well-ended list.
bool NarrowIds(const std::vector<BYTE>& wide, std::vector<BYTE>* narrow);
// The name DICD_GENERATE_ID turns into the instance ID ROOT\<NAME>\NNNN, or
// "" for a device that is not root-enumerated.
std::string DeviceName(const std::string& instanceId);
extern const char SERVICE_PATH[]; // "HKLM\\...\\Services\\"

// Platform hooks.
// Makes the file at `path` (its folder exists): a library that behaves and
// imports as described, the program of a service, a library a described
// server imports (`imported`), or an ordinary file.
bool LayFile(const std::string& path, const File& file, Program program, bool imported);
// Gives a created service the program it runs.
void SetProgram(const std::string& service, Program program);

} // namespace Description
