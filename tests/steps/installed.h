// The machine the step tests start from: Windows XP with the product
// installed, and the keys more than one step touches.
#pragma once

#include "machine/footprint.h"
#include "platform/platform.h"
#include "support.h"

const char CONTROL_KEY[] = "SYSTEM\\CurrentControlSet\\Control\\Multiuser";
const char WINLOGON[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

class Installed : public FreshMachine {
  protected:
    void SetUp() override {
        Sim::Reset();
        Footprint::Install();
    }
    SC_HANDLE Scm() { return Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS); }
};
