// The product's Start-menu groups: its shortcuts and group folders deleted.
#include "installed.h"
#include "steps/steps.h"

TEST_F(Installed, AGroupMadeTheOrdinaryWayLosesItsShortcutsAndItsFolder) {
    std::string programs = M().programsFolder;
    EXPECT_TRUE(RemoveStartMenuGroup(CSIDL_PROGRAMS));
    EXPECT_FALSE(Sim::Exists(programs + "\\Tallowin"));
    EXPECT_EQ("FindFirstFileA(\"" + programs + "\\Tallowin\\*.lnk\")",
              CallsOf("FindFirstFileA")[1]);
    EXPECT_EQ(3u, CallsOf("DeleteFileA").size());
    EXPECT_EQ("RemoveDirectoryA(\"" + programs + "\\Tallowin\")", Calls().back());
    EXPECT_TRUE(Sim::Exists(programs + "\\Accessories\\Notepad.lnk"));
    EXPECT_EQ(0, Sim::OpenHandles());

    // Gone already: nothing happens and the result says the folder was not removed.
    EXPECT_FALSE(RemoveStartMenuGroup(CSIDL_PROGRAMS));
}

TEST_F(Installed, WhatIsNotAShortcutStaysAndSoDoesTheFolder) {
    std::string group = M().commonProgramsFolder + "\\Tallowin";
    Sim::MakeFile(group + "\\Read me.txt");
    Sim::MakeDirectory(group + "\\Tools.lnk");
    EXPECT_FALSE(RemoveStartMenuGroup(CSIDL_COMMON_PROGRAMS));
    EXPECT_TRUE(Sim::Exists(group + "\\Read me.txt"));
    EXPECT_TRUE(Sim::Exists(group + "\\Tools.lnk"));
    EXPECT_FALSE(Sim::Exists(group + "\\Seat Manager.lnk"));
}

TEST_F(Installed, AFileMatchedOnlyByItsShortNameIsNoShortcut) {
    // "*.lnk" finds these through NOTES~1.LNK and READ~1.LNK.
    std::string group = M().programsFolder + "\\Tallowin";
    Sim::MakeFile(group + "\\notes.lnk2");
    Sim::MakeFile(group + "\\Read me.lnkx");
    EXPECT_FALSE(RemoveStartMenuGroup(CSIDL_PROGRAMS));
    EXPECT_TRUE(Sim::Exists(group + "\\notes.lnk2"));
    EXPECT_TRUE(Sim::Exists(group + "\\Read me.lnkx"));
    EXPECT_FALSE(Sim::Exists(group + "\\Seat Manager.lnk"));
}

TEST_F(Installed, AGroupWhoseFolderKeepsTheTrailingSpacesGoesToo) {
    // Made through a path that ended in a backslash, the folder carries the
    // name exactly as the catalogue spells it.
    std::string programs = M().programsFolder;
    std::string literal = programs + "\\Tallowin  \\";
    Sim::MakeDirectory(literal);
    Sim::MakeFile(literal + "Seat Manager.lnk");
    ASSERT_TRUE(Sim::Exists(literal + "Seat Manager.lnk"));
    EXPECT_TRUE(RemoveStartMenuGroup(CSIDL_PROGRAMS));
    EXPECT_FALSE(Sim::Exists(literal));
    EXPECT_FALSE(Sim::Exists(programs + "\\Tallowin"));
    EXPECT_EQ(2u, CallsOf("RemoveDirectoryA").size());
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(Installed, AUserWithoutRightsKeepsTheAllUsersGroup) {
    M().administrator = false;
    EXPECT_FALSE(RemoveStartMenuGroup(CSIDL_COMMON_PROGRAMS));
    EXPECT_TRUE(Sim::Exists(M().commonProgramsFolder + "\\Tallowin\\Seat Manager.lnk"));
}
