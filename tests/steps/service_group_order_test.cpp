// The product's groups taken out of the service group order.
#include "installed.h"
#include "steps/steps.h"

namespace {

const char GROUP_ORDER[] = "SYSTEM\\CurrentControlSet\\Control\\ServiceGroupOrder";

} // namespace

TEST_F(FreshMachine, TheGroupOrderLosesBothGroupsInAnyCase) {
    Sim::SetValue(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List", REG_MULTI_SZ,
                  Sim::MultiSz({"Base", "termservice", "Multiuser", "Video"}));
    CleanServiceGroupOrder();
    Sim::Value list = Read(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List");
    EXPECT_EQ(Sim::MultiSz({"Base", "Video"}), list.data);
    EXPECT_EQ(Sim::MultiSz({"Base", "termservice", "Multiuser", "Video"}).size() - 22,
              list.data.size());
    EXPECT_EQ(M().liveAllocations, 0);

    // A list of only the two is left as it was, not written empty.
    Sim::SetValue(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List", REG_MULTI_SZ,
                  Sim::MultiSz({"TermService", "Multiuser"}));
    M().journal.clear();
    CleanServiceGroupOrder();
    EXPECT_EQ(Sim::MultiSz({"TermService", "Multiuser"}),
              Read(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List").data);
    EXPECT_TRUE(CallsOf("RegSetValueExW").empty());

    // A group named outside the code page (U+4E00's low byte is 0) goes back as it was.
    const std::u16string foreign = {u'B', 0x4E00, 0,    u'M', u'u', u'l',  u't', u'i',
                                    u'u', u's',   u'e', u'r', 0,    0x3A9, 0,    0};
    Sim::SetTextValue(HKEY_LOCAL_MACHINE, GROUP_ORDER, "List", REG_MULTI_SZ,
                      Sim::WideToText(foreign.data(), foreign.size()));
    CleanServiceGroupOrder();
    EXPECT_EQ(
        std::u16string({u'B', 0x4E00, 0, 0x3A9, 0, 0}),
        Sim::TextToWide(Text(*Sim::FindKey(HKEY_LOCAL_MACHINE, GROUP_ORDER)->FindValue("List"))));
}
