/*
** What the simulated system folders and environment must do the way Windows
** does it: the length conventions of the folder queries and of the
** environment expansion.
*/
#include "world.h"

class SystemTest : public WorldTest {};

TEST_F(SystemTest, FolderQueriesGiveTheLengthOrTheSizeNeeded) {
    char buffer[260];
    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 19u); // without the terminator
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 10), 11u); // too small: with the terminator
    simwin::SetSystemDirectory("C:\\" + std::string(300, 'd'));
    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 304u);
    simwin::FailCall("GetSystemDirectoryA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 0u);
}

TEST_F(SystemTest, ExpansionCountsTheTerminatorAndLeavesAShortBufferUnterminated) {
    char buffer[64];
    // SystemRoot starts as the Windows folder; names ignore case.
    EXPECT_EQ(ExpandEnvironmentStringsA("%systemroot%\\a.exe", buffer, sizeof buffer), 17u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\a.exe");
    simwin::SetEnv("SystemRoot", "c:\\winnt");
    EXPECT_EQ(ExpandEnvironmentStringsA("%SYSTEMROOT%", buffer, sizeof buffer), 9u);
    EXPECT_STREQ(buffer, "c:\\winnt");
    // Undefined variables and lone percent signs stay as written.
    EXPECT_EQ(ExpandEnvironmentStringsA("%NONE%\\x 50% %", buffer, sizeof buffer), 15u);
    EXPECT_STREQ(buffer, "%NONE%\\x 50% %");

    // Too small: the size needed, and nothing a caller may use as a string.
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ExpandEnvironmentStringsA("%SystemRoot%\\long", buffer, 4), 14u);
    EXPECT_EQ(memchr(buffer, 0, 4), nullptr);
    EXPECT_EQ(buffer[4], '#'); // nothing beyond the size given
    EXPECT_EQ(ExpandEnvironmentStringsA("%SystemRoot%", nullptr, 0), 9u);

    simwin::FailCall("ExpandEnvironmentStringsA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ExpandEnvironmentStringsA("x", buffer, sizeof buffer), 0u);
}
