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

} // namespace Contract

class ContractTest : public ::testing::Test {
  protected:
    void SetUp() override { Contract::Begin(); }
    void TearDown() override { Contract::End(); }
};
