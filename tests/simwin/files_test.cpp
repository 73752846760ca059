/*
** The simulated file system's own machinery: the order its listings follow
** (NTFS's, sorted without regard to case), faults and hooks, drive mapping.
** What it shares with every Win32 is pinned in tests/conformance/.
*/
#include "world.h"

class FilesTest : public WorldTest {};

static std::vector<std::string> List(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do
        names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

TEST_F(FilesTest, ListingsFollowNtfsOrderWithoutDotsAtTheRoot) {
    simwin::WriteFile("C:\\b.txt", "x");
    simwin::WriteFile("C:\\Dir\\zeta", "x");
    simwin::WriteFile("C:\\Dir\\Alpha.exe", "x");
    simwin::MakeDir("C:\\Dir\\sub");
    EXPECT_EQ(List("C:\\*.*"), (std::vector<std::string>{"b.txt", "Dir"}));
    EXPECT_EQ(List("c:\\dir\\*.*"),
              (std::vector<std::string>{".", "..", "Alpha.exe", "sub", "zeta"}));
    EXPECT_EQ(List("C:\\DIR\\*.EXE"), (std::vector<std::string>{"Alpha.exe"}));
    EXPECT_EQ(List("C:\\Dir\\alpha.exe"), (std::vector<std::string>{"Alpha.exe"}));
    EXPECT_TRUE(List("C:\\nowhere\\*.*").empty());
    EXPECT_TRUE(List("Q:\\*.*").empty());
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(FilesTest, FaultsAndHooks) {
    simwin::WriteFile("C:\\a", "x");
    simwin::FailCall("DeleteFileA", ERROR_SHARING_VIOLATION, 1, 1);
    int hooked = 0;
    simwin::OnCall("DeleteFileA", [&] { hooked++; });
    simwin::WriteFile("C:\\b", "x");
    EXPECT_TRUE(DeleteFileA("C:\\a")); // skipped
    EXPECT_FALSE(DeleteFileA("C:\\b"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(DeleteFileA("C:\\b"));
    EXPECT_EQ(hooked, 3);
    EXPECT_EQ(simwin::CallCount("DeleteFileA"), 3);
}

TEST_F(FilesTest, DriveTypesAndQueries) {
    MapDrive('D', DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("C:\\"), (UINT)DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeA("d:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("E:\\"), (UINT)DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(simwin::DriveQueries().size(), 3u);
}
