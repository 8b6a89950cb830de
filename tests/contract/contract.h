// Tests of Windows behaviour the product relies on, written against the
// platform boundary alone so that the same tests run on the simulated Windows
// and on a real implementation of Windows. Each works under a scratch key and
// a scratch folder of its own and removes them afterwards.
#pragma once

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace Contract {

extern const char SCRATCH_KEY[];    // under HKEY_LOCAL_MACHINE
extern const char SCRATCH_FOLDER[]; // a folder the test may fill

// Resets the simulated machine, or on Windows clears what an earlier run left.
void Begin();
// Removes the scratch key and folder.
void End();

// Creates `path` (relative to the scratch key) and sets a value there.
void SetValue(const std::string& path, const char* name, DWORD type, const std::string& data);
bool KeyExists(HKEY root, const std::string& path);
void WriteFile(const std::string& path);
// Places at `path` a COM server library whose DllUnregisterServer reads
// through a null pointer.
void PlaceFaultingLibrary(const std::string& path);
// Places at `path` a PE image that does not export DllUnregisterServer.
void PlacePlainImage(const std::string& path);
// Places in `folder` a COM server library whose import table names a second
// library, IMPORTED_LIBRARY, placed beside it; returns the server's path.
std::string PlaceServerWithImport(const std::string& folder);
extern const char IMPORTED_LIBRARY[];

// As a program using the W functions would: creates `path` (relative to the
// scratch key) and, given a name, sets a string value there. Both may hold
// characters the ANSI code page cannot carry.
void SetValueW(const std::u16string& path, const char* name, DWORD type,
               const std::u16string& data);
// A value as the W functions read it; "(none)" when there is none.
std::u16string ValueW(const std::string& path, const char* name);

// A service program that, told to stop, reports STOP_PENDING with a wait
// hint and stops a moment later. The simulator runs no programs.
const char* ServiceProgram();

// True on Wine, which departs from Windows in known ways.
bool UnderWine();

} // namespace Contract

// Marks a test of what Windows documents and Wine is known not to do: it
// runs on the simulator and is skipped, visibly, under Wine.
#define KNOWN_WINE_DIFFERENCE(windows)                                                             \
    do {                                                                                           \
        if (Contract::UnderWine())                                                                 \
            GTEST_SKIP() << "known Wine difference; Windows: " << (windows);                       \
    } while (0)

class ContractTest : public ::testing::Test {
  protected:
    void SetUp() override { Contract::Begin(); }
    void TearDown() override { Contract::End(); }
};
