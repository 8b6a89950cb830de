// A described machine made real: the same installer code on the simulated
// Windows and on a real one, through the platform boundary. What a Win32
// call cannot make (the program behind a service, the library behind a
// file) goes through the few platform hooks below, one realization each.
#pragma once

#include "description.h"

namespace Description {

// Why a description cannot be laid down through Win32 calls, or "" when it can.
std::string Unlayable(const Machine& machine);

// Lays the machine down on the current one; false, with `why`, when a call failed.
bool LayDown(const Machine& machine, std::string* why);

// A described key path's root and the path below it ("HKCR\\x": HKEY_CLASSES_ROOT, "x").
std::string RootPath(const std::string& path, HKEY* root);

// Every service key the description lists that this machine lacks is made,
// a disabled driver's: what the machine's filters name exists on it. The
// product's services and TermService are left to the service manager.
void LayServiceKeys(const Machine& machine);

// The GUID a "{...}" text names; false when it names none.
bool GuidOf(const std::string& text, GUID* guid);

// The full path of a described file on this machine ("" when its folder is unknown).
std::string FullPath(const std::string& described);

// Platform hooks.
// Makes the file at `path` (its folder exists): a library that behaves and
// imports as described, the program of a service, a library a described
// server imports (`imported`), or an ordinary file.
bool LayFile(const std::string& path, const File& file, Program program, bool imported);
// Gives a created service the program it runs.
void SetProgram(const std::string& service, Program program);
// Fills in what is observed rather than read: each service's program and
// the controls it received, each library's behaviour, and the libraries
// whose DllUnregisterServer ran.
void Observe(Machine* machine);

} // namespace Description
