// What the tests share: every test starts from a fresh simulated machine.
#pragma once

#include "platform/sim/machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class FreshMachine : public ::testing::Test {
  protected:
    void SetUp() override { Sim::Reset(); }
    Sim::Machine& M() { return Sim::Current(); }

    // The journal's entries without their results.
    static std::vector<std::string> Calls() {
        std::vector<std::string> calls;
        for (auto& line : Sim::Current().journal)
            calls.push_back(line.substr(0, line.find(" -> ")));
        return calls;
    }
    // The journal entries that start with `name`.
    static std::vector<std::string> CallsOf(const std::string& name) {
        std::vector<std::string> calls;
        for (auto& call : Calls()) {
            if (call.compare(0, name.size() + 1, name + "(") == 0)
                calls.push_back(call);
        }
        return calls;
    }
    static std::string Text(const Sim::Value& value) {
        return std::string(value.data.begin(), value.data.end());
    }
    static Sim::Value Read(HKEY root, const std::string& path, const std::string& name) {
        Sim::Value value;
        EXPECT_TRUE(Sim::ReadValue(root, path, name, &value)) << path << " : " << name;
        return value;
    }
};
