// The catalogue's shape where the steps rely on it.
#include "catalogue/catalogue.h"
#include "registry/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The address just past a list's final NUL.
static const char* ListEnd(const char* list)
{
    while (*list != 0)
        list = NextListEntry(list);
    return list + 1;
}

static std::vector<std::string> Walk(const char* list)
{
    std::vector<std::string> entries;
    for (const char* entry = list; *entry != 0; entry = NextListEntry(entry))
        entries.push_back(entry);
    return entries;
}

TEST(Catalogue, ServerListsAreTheTailsOfTheirFileLists)
{
    EXPECT_EQ(std::vector<std::string>({"VkView.dll", "VkUsbMmc.dll", "VkUsbVw.dll", "VkMMC.dll"}),
              Walk(MainServerList));
    EXPECT_EQ(std::vector<std::string>({"SeatMmc.dll", "SeatView.dll"}), Walk(SupportServerList));
    // The same storage, not copies.
    EXPECT_GT(MainServerList, MainFileList);
    EXPECT_LT(MainServerList, ListEnd(MainFileList));
    EXPECT_GT(SupportServerList, SupportFileList);
    EXPECT_LT(SupportServerList, ListEnd(SupportFileList));
}

TEST(Catalogue, ListSizesAddUpToTheFiftyThreeDeletions)
{
    EXPECT_EQ(4u, Walk(HardwareIdList).size());
    EXPECT_EQ(53u, Walk(MainFileList).size() + Walk(ExtraFileList).size() +
                       Walk(SupportFileList).size() + Walk(DriverFileList).size());
    EXPECT_EQ(18u, Walk(ServiceList).size());
    EXPECT_EQ("DzService", Walk(ServiceList)[1]);
    EXPECT_EQ(Walk(ServiceList)[1], std::string(PREPARE_REMOVAL_SERVICE));
}

TEST(Catalogue, FilterRowsReferToServiceListEntries)
{
    EXPECT_EQ(ClassFilterNames[0], ClassFilterNames[1]);
    EXPECT_EQ(ClassFilterNames[1], ClassFilterNames[2]);
    for (const char* name : ClassFilterNames) {
        EXPECT_GE(name, ServiceList);
        EXPECT_LT(name, ListEnd(ServiceList));
    }
    EXPECT_EQ(6u, Walk(ClassFilterGuids).size());
}

TEST(Catalogue, TheGroupNameKeepsItsTwoTrailingSpaces)
{
    EXPECT_EQ(std::string("\\Tallowin  "), START_MENU_GROUP);
    EXPECT_EQ(11u, TextLength(START_MENU_GROUP));
}
