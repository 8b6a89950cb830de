// The product's services: the preparation control first, then each stopped and deleted.
#include "catalogue/catalogue.h"
#include "installed.h"
#include "registry/text.h"
#include "steps/steps.h"

TEST_F(Installed, DzServiceIsToldFirstThenEveryServiceIsStoppedAndDeleted) {
    SC_HANDLE scm = Scm();
    M().journal.clear();
    serviceManager = scm;
    RemoveServices();
    auto controls = CallsOf("ControlService");
    ASSERT_FALSE(controls.empty());
    EXPECT_EQ("ControlService(svc#1, 254)", controls[0]);
    EXPECT_EQ("OpenServiceA(scm#1, \"DzService\", 0xF01FF)", Calls()[0]);
    for (size_t i = 1; i < controls.size(); ++i)
        EXPECT_NE(std::string::npos, controls[i].find(", 1)")) << controls[i];
    EXPECT_EQ(19u, CallsOf("OpenServiceA").size());
    EXPECT_EQ(18u, CallsOf("DeleteService").size());

    // Gone at once but the one that refused to stop, which goes at the restart.
    for (const char* name = ServiceList; *name != 0; name = NextListEntry(name)) {
        bool stubborn = std::string(name) == Footprint::STUBBORN_SERVICE;
        EXPECT_EQ(stubborn, M().services.count(name) == 1) << name;
    }
    EXPECT_TRUE(M().services[Footprint::STUBBORN_SERVICE].deletePending);
    EXPECT_EQ(1, Sim::OpenHandles(Sim::HandleKind::Scm));
    EXPECT_EQ(1, Sim::OpenHandles());
    Sim::Restart();
    EXPECT_EQ(0u, M().services.count(Footprint::STUBBORN_SERVICE));
    EXPECT_EQ(nullptr,
              Sim::FindKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\DzHelper"));
}

TEST_F(FreshMachine, WithNoServiceInstalledOnlyNineteenOpensAreMade) {
    SC_HANDLE scm = Win::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    std::vector<std::string> before = Sim::MachineLines();
    M().journal.clear();
    serviceManager = scm;
    RemoveServices();
    EXPECT_EQ(19u, M().journal.size());
    EXPECT_EQ(19u, CallsOf("OpenServiceA").size());
    EXPECT_EQ("OpenServiceA(scm#1, \"DzService\", 0xF01FF)", Calls()[0]);
    EXPECT_EQ("OpenServiceA(scm#1, \"DzInstall\", 0xF01FF)", Calls()[1]);
    EXPECT_EQ(before, Sim::MachineLines());
}
