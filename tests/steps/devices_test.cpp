// The present product devices removed through the class installer, found by hardware ID.
#include "installed.h"
#include "steps/steps.h"

TEST_F(Installed, ThePresentProductDevicesAreRemovedAndNoOthers) {
    size_t foreign = 4;
    systemDirectory = &M().systemDirectory[0];
    RemoveDevices();
    for (int i = 0; i < Footprint::REMOVED_DEVICE_COUNT; ++i)
        EXPECT_EQ(nullptr, Sim::FindDevice(Footprint::REMOVED_DEVICES[i])) << i;
    for (int i = 0; i < Footprint::KEPT_DEVICE_COUNT; ++i)
        EXPECT_NE(nullptr, Sim::FindDevice(Footprint::KEPT_DEVICES[i])) << i;
    EXPECT_EQ(foreign + Footprint::KEPT_DEVICE_COUNT, M().devices.size());
    EXPECT_EQ(4u, CallsOf("SetupDiCallClassInstaller").size());
    EXPECT_EQ("SetCurrentDirectoryA(\"C:\\WINDOWS\\system32\")", Calls()[0]);
    EXPECT_EQ("SetupDiGetClassDevsA(NULL, NULL, NULL, 0x6)", Calls()[1]);
    for (auto& call : CallsOf("SetupDiGetDeviceRegistryPropertyW"))
        EXPECT_NE(std::string::npos, call.find(", 1, 64)")) << call;
    EXPECT_EQ("C:\\WINDOWS\\system32", M().currentDirectory);
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Installed, ARefusedRemovalLeavesThatDeviceAndTheWalkGoesOn) {
    Sim::FindDevice(Footprint::REMOVED_DEVICES[0])->refuseRemoval = true;
    systemDirectory = &M().systemDirectory[0];
    RemoveDevices();
    EXPECT_NE(nullptr, Sim::FindDevice(Footprint::REMOVED_DEVICES[0]));
    for (int i = 1; i < Footprint::REMOVED_DEVICE_COUNT; ++i)
        EXPECT_EQ(nullptr, Sim::FindDevice(Footprint::REMOVED_DEVICES[i])) << i;
}

TEST_F(FreshMachine, HardwareIdsAreReadNoFurtherThanTheirBuffer) {
    GUID system{};
    // 64 bytes of a matching ID with no terminator at all.
    std::vector<BYTE> ids;
    for (char c : std::string("root\\VkBusEnum") + std::string(18, 'x')) {
        ids.push_back((BYTE)c);
        ids.push_back(0);
    }
    ASSERT_EQ(64u, ids.size());
    Sim::AddDevice("ROOT\\FULL\\0000", system, {"x"}).hardwareIds = ids;
    Sim::AddDevice("ROOT\\NOIDS\\0000", system, {});
    Sim::AddDevice("ROOT\\CAPS\\0000", system, {"ROOT\\VKBUSENUM"});
    systemDirectory = nullptr;
    RemoveDevices();
    EXPECT_NE(nullptr, Sim::FindDevice("ROOT\\FULL\\0000"));
    EXPECT_NE(nullptr, Sim::FindDevice("ROOT\\NOIDS\\0000"));
    EXPECT_EQ(nullptr, Sim::FindDevice("ROOT\\CAPS\\0000"));
    EXPECT_TRUE(CallsOf("SetCurrentDirectoryA").empty());
    EXPECT_EQ("C:\\", M().currentDirectory);
}

TEST_F(FreshMachine, AnUnterminatedIdIsNotCompletedByTheDeviceReadBeforeIt) {
    GUID system{};
    // "Korrin" with no terminator, read right after a device whose first ID
    // ends in "\KrHub": together they would spell a product ID.
    Sim::AddDevice("ROOT\\BEFORE\\0000", system, {"Vendor\\KrHub"});
    Sim::Device& cut = Sim::AddDevice("ROOT\\CUT\\0000", system, {"x"});
    cut.hardwareIds.clear();
    for (char c : std::string("Korrin")) {
        cut.hardwareIds.push_back((BYTE)c);
        cut.hardwareIds.push_back(0);
    }
    // "*ZOLTAudio01" with the last byte missing: half a unit is no '1'.
    std::vector<BYTE> odd = Sim::WideMultiSz({"*ZOLTAudio01"});
    odd.resize(23);
    Sim::AddDevice("ROOT\\ODD\\0000", system, {"x"}).hardwareIds = odd;
    systemDirectory = nullptr;
    RemoveDevices();
    EXPECT_NE(nullptr, Sim::FindDevice("ROOT\\CUT\\0000"));
    EXPECT_NE(nullptr, Sim::FindDevice("ROOT\\ODD\\0000"));
    EXPECT_TRUE(CallsOf("SetupDiCallClassInstaller").empty());
}

TEST(MatchHardwareId, ComparesTheFirstIdWithoutCase) {
    EXPECT_EQ(1, MatchHardwareId(u"KORRIN\\VKXHCI"));
    EXPECT_EQ(1, MatchHardwareId(u"*zoltaudio01"));
    EXPECT_EQ(0, MatchHardwareId(u"Korrin\\KrHub2"));
    EXPECT_EQ(0, MatchHardwareId(u"Korrin\\KrHu"));
    EXPECT_EQ(0, MatchHardwareId(u""));
    EXPECT_EQ(1, MatchHardwareId(u"Korrin\\KrHub\0Other"));
    EXPECT_EQ(0, MatchHardwareId(u"Other\0Korrin\\KrHub"));
}
