/*
** What the simulated file system must do the way Windows does it.
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

TEST_F(FilesTest, ListingShowsDotEntriesExceptAtTheRootInNtfsOrder) {
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

TEST_F(FilesTest, DeleteRefusesReadOnlyHeldAndOpenFiles) {
    simwin::WriteFile("C:\\ro.exe", "x");
    simwin::WriteFile("C:\\held.exe", "x");
    simwin::WriteFile("C:\\img.exe", "x");
    simwin::WriteFile("C:\\open.exe", "x");
    ASSERT_TRUE(SetFileAttributesA("C:\\ro.exe", FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(DeleteFileA("C:\\ro.exe"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributesA("C:\\RO.EXE", FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(DeleteFileA("C:\\ro.exe"));

    simwin::StartProcess({"C:\\img.exe", {"C:\\held.exe"}});
    EXPECT_FALSE(DeleteFileA("C:\\held.exe"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_EQ(_open("C:\\held.exe", _O_RDONLY | _O_BINARY), -1);
    EXPECT_FALSE(DeleteFileA("C:\\img.exe"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    int fd = _open("C:\\img.exe", _O_RDONLY | _O_BINARY);
    EXPECT_GE(fd, 0); // a running image can be read
    _close(fd);

    fd = _open("C:\\open.exe", _O_RDONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(DeleteFileA("C:\\open.exe"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    _close(fd);
    EXPECT_TRUE(DeleteFileA("C:\\open.exe"));
    EXPECT_FALSE(DeleteFileA("C:\\open.exe"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, SeeksBeyondTwoGigabytesFailAsWithA32BitLong) {
    simwin::WriteFile("C:\\f.bin", std::string(100, 'a'));
    int fd = _open("C:\\f.bin", _O_RDONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(_filelength(fd), 100);
    EXPECT_EQ(_lseek(fd, (long)0x80000010u, SEEK_SET), -1);
    EXPECT_EQ(_lseek(fd, (long)(uint32_t)-4, SEEK_SET), -1);
    EXPECT_EQ(_lseek(fd, 200, SEEK_SET), 200); // beyond the end is allowed
    char b[4];
    EXPECT_EQ(_read(fd, b, 4), 0);
    _close(fd);
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
