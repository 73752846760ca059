/*
** simwin's own forms of short names (the FAT/NTFS generation with tail
** numbers) and what MoveFileExA records for the restart.
*/
#include "world.h"

class FileNamesTest : public WorldTest {};

static std::string Short(const char* path) {
    char buf[MAX_PATH];
    DWORD n = GetShortPathNameA(path, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return "<" + std::to_string(GetLastError()) + ">";
    EXPECT_EQ(n, strlen(buf));
    return buf;
}

TEST_F(FileNamesTest, ShortPathsUseGeneratedEightDotThreeNames) {
    simwin::WriteFile("C:\\Program Files\\verylongname.exe", "x");
    simwin::WriteFile("C:\\Program Data\\a b.c.txt", "x");
    simwin::WriteFile("C:\\Progra~1x\\readme.txt", "x");
    simwin::WriteFile("C:\\WINDOWS\\a+b.htm", "x");
    EXPECT_EQ(Short("C:\\Program Files\\verylongname.exe"), "C:\\PROGRA~2\\VERYLO~1.EXE");
    EXPECT_EQ(Short("c:\\program data\\A B.C.TXT"), "c:\\PROGRA~1\\ABC~1.TXT");
    EXPECT_EQ(Short("C:\\windows\\a+b.htm"), "C:\\windows\\A_B~1.HTM");
    EXPECT_EQ(Short("C:\\Program Files\\"), "C:\\PROGRA~2\\");
    EXPECT_EQ(Short("C:\\Program Files\\gone.exe"), "<2>");
    EXPECT_EQ(Short("C:\\No Such Dir\\gone.exe"), "<3>");
    // Too small a buffer: the size needed, terminator included.
    char small[4];
    EXPECT_EQ(GetShortPathNameA("C:\\Program Files", small, sizeof small), 12u);
}

TEST_F(FileNamesTest, DelayedMovesAreRecordedNotDone) {
    EXPECT_TRUE(MoveFileExA("C:\\in use.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_TRUE(MoveFileExA("C:\\a.exe", "C:\\b.exe", MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(simwin::PendingDeletions(), (std::vector<std::string>{"C:\\in use.exe"}));
    EXPECT_EQ(simwin::PendingRenames().size(), 1u);
    simwin::AllowDelayedMoves(false);
    EXPECT_FALSE(MoveFileExA("C:\\x.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(simwin::PendingDeletions().size(), 1u);
}
