/*
** The simulated file system's own machinery: the order its listings follow
** (NTFS's, sorted without regard to case), its forms of short names (the
** FAT/NTFS generation with tail numbers), what MoveFileExA records for the
** restart, faults and hooks, drive mapping. What it shares with every Win32
** is pinned in tests/conformance/.
*/
#include "world.h"

class FilesTest : public WorldTest {};

static std::string Short(const char* path) {
    char buf[MAX_PATH];
    DWORD n = GetShortPathNameA(path, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return "<" + std::to_string(GetLastError()) + ">";
    EXPECT_EQ(n, strlen(buf));
    return buf;
}

TEST_F(FilesTest, ShortPathsUseGeneratedEightDotThreeNames) {
    simwin::WriteFile("C:\\Program Files\\verylongname.exe", "x");
    simwin::WriteFile("C:\\Program Data\\a b.c.txt", "x");
    simwin::WriteFile("C:\\Progra~1x\\readme.txt", "x");
    simwin::WriteFile("C:\\WINDOWS\\a+b.htm", "x");
    EXPECT_EQ(Short("C:\\Program Files\\verylongname.exe"), "C:\\PROGRA~2\\VERYLO~1.EXE");
    EXPECT_EQ(Short("c:\\program data\\A B.C.TXT"), "c:\\PROGRA~1\\ABC~1.TXT");
    EXPECT_EQ(Short("C:\\windows\\a+b.htm"), "C:\\windows\\A_B~1.HTM");
    EXPECT_EQ(Short("C:\\Program Files\\"), "C:\\PROGRA~2\\");
    EXPECT_EQ(Short("C:\\Program Files\\gone.exe"), "<2>");
    EXPECT_EQ(Short("C:\\No Such Dir\\gone.exe"), "<2>"); // the first missing name
    // Too small a buffer: the size needed, terminator included.
    char small[4];
    EXPECT_EQ(GetShortPathNameA("C:\\Program Files", small, sizeof small), 12u);
}

TEST_F(FilesTest, DelayedMovesAreRecordedNotDone) {
    EXPECT_TRUE(MoveFileExA("C:\\in use.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_TRUE(MoveFileExA("C:\\a.exe", "C:\\b.exe", MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(simwin::PendingDeletions(), (std::vector<std::string>{"C:\\in use.exe"}));
    EXPECT_EQ(simwin::PendingRenames().size(), 1u);
    simwin::AllowDelayedMoves(false);
    EXPECT_FALSE(MoveFileExA("C:\\x.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(simwin::PendingDeletions().size(), 1u);
}

/* Each entry as "long name|8.3 name|attributes in hex". */
static std::vector<std::string> Listing(const char* pattern) {
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        char attrs[16];
        snprintf(attrs, sizeof attrs, "%lx", (unsigned long)fd.dwFileAttributes);
        out.push_back(std::string(fd.cFileName) + "|" + fd.cAlternateFileName + "|" + attrs);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
}

TEST_F(FilesTest, ListingsGiveAnsiNamesEightDotThreeNamesAndDirectoryLinks) {
    simwin::WriteFile("C:\\d\\\xE7\x97\x85\xE6\xAF\x92.exe", "x"); // outside the code page
    simwin::WriteFile("C:\\d\\caf\xC3\xA9.exe", "x");              // inside it
    simwin::WriteFile("C:\\d\\Long Name.txt", "x");
    simwin::MakeDirLink("C:\\d\\link", "C:\\d");
    EXPECT_EQ(Listing("C:\\d\\*.*"),
              (std::vector<std::string>{".||10", "..||10", "caf\xE9.exe||20", "link||410",
                                        "Long Name.txt|LONGNA~1.TXT|20", "??.exe|__~1.EXE|20"}));
    // The short name reaches the file, the "?" form does not; a pattern
    // also matches the short name.
    EXPECT_TRUE(DeleteFileA("C:\\d\\__~1.EXE"));
    EXPECT_FALSE(DeleteFileA("C:\\d\\caf?.exe"));
    EXPECT_EQ(Listing("C:\\d\\LONGNA~1.*"),
              (std::vector<std::string>{"Long Name.txt|LONGNA~1.TXT|20"}));
    EXPECT_EQ(Short("C:\\d\\link\\link\\caf\xE9.exe"), "C:\\d\\link\\link\\caf\xE9.exe");
    EXPECT_EQ(GetFileAttributesA("C:\\d\\link"), 0x410u);

    // 9x has no reparse points; without 8.3 names there is no short form.
    simwin::SetWindows98();
    EXPECT_EQ(GetFileAttributesA("C:\\d\\link"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    simwin::SetShortNames(false);
    EXPECT_EQ(Listing("C:\\d\\Long*"), (std::vector<std::string>{"Long Name.txt||20"}));
    EXPECT_EQ(Short("C:\\d\\Long Name.txt"), "C:\\d\\Long Name.txt");
}

TEST_F(FilesTest, CopyOntoItselfFailsAndKeepsTheFile) {
    simwin::WriteFile("C:\\WINDOWS\\wininit.ini", "[rename]\r\n");
    EXPECT_FALSE(CopyFileA("C:\\WINDOWS\\wininit.ini", "c:\\windows\\.\\WININIT.INI", FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    simwin::SetWindows98();
    EXPECT_FALSE(CopyFileA("C:\\WINDOWS\\wininit.ini", "C:\\WINDOWS\\wininit.ini", FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
    EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\wininit.ini"), "[rename]\r\n");
}

TEST_F(FilesTest, ListingsFollowNtfsOrderWithoutDotsAtTheRoot) {
    simwin::WriteFile("C:\\b.txt", "x");
    simwin::WriteFile("C:\\Dir\\zeta", "x");
    simwin::WriteFile("C:\\Dir\\Alpha.exe", "x");
    simwin::MakeDir("C:\\Dir\\sub");
    EXPECT_EQ(Listing("C:\\*.*"), (std::vector<std::string>{"b.txt||20", "Dir||10"}));
    EXPECT_EQ(Listing("c:\\dir\\*.*"), (std::vector<std::string>{".||10", "..||10", "Alpha.exe||20",
                                                                 "sub||10", "zeta||20"}));
    EXPECT_EQ(Listing("C:\\DIR\\*.EXE"), (std::vector<std::string>{"Alpha.exe||20"}));
    EXPECT_EQ(Listing("C:\\Dir\\alpha.exe"), (std::vector<std::string>{"Alpha.exe||20"}));
    EXPECT_TRUE(Listing("C:\\nowhere\\*.*").empty());
    EXPECT_TRUE(Listing("Q:\\*.*").empty());
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

// A named stream is part of its file's record, of a size of its own.
TEST_F(FilesTest, AStreamHasItsFilesIdentity) {
    simwin::WriteFile("C:\\x", "a plain file");
    simwin::WriteFile("C:\\x:evil.exe", "MZ");
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    for (int i : {0, 1}) {
        HANDLE h = CreateFileA(i ? "C:\\x:evil.exe" : "C:\\x", FILE_READ_ATTRIBUTES, 7, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        EXPECT_TRUE(GetFileInformationByHandle(h, &info[i]) && CloseHandle(h));
    }
    EXPECT_EQ(info[1].dwVolumeSerialNumber, info[0].dwVolumeSerialNumber);
    EXPECT_EQ(info[1].nFileIndexLow, info[0].nFileIndexLow);
    EXPECT_EQ(info[1].nFileIndexHigh, info[0].nFileIndexHigh);
    EXPECT_EQ(info[1].nNumberOfLinks, info[0].nNumberOfLinks);
    EXPECT_EQ(info[1].nFileSizeLow, 2u);
}

/* FAT numbers a file by its folder and its entry there (the remarks of
   BY_HANDLE_FILE_INFORMATION): a new file in a freed entry takes the old
   file's index. It refuses to rename a folder while a file below it is open
   (FatSetRenameInfo, fileinfo.c of Microsoft's FASTFAT sample). */
TEST_F(FilesTest, FatIndexesFilesByEntryAndKeepsFoldersWithOpenFiles) {
    simwin::SetFatVolume('C');
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int i : {0, 1}) {
        const std::string path = i ? "C:\\d\\b.exe" : "C:\\d\\a.exe";
        simwin::WriteFile(path, "x");
        h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_TRUE(GetFileInformationByHandle(h, &info[i]));
        EXPECT_TRUE(i || (CloseHandle(h) && DeleteFileA(path.c_str())));
    }
    EXPECT_EQ(info[1].nFileIndexLow, info[0].nFileIndexLow);
    EXPECT_EQ(info[1].nFileIndexHigh, info[0].nFileIndexHigh);
    EXPECT_FALSE(MoveFileA("C:\\d", "C:\\e"));
    CloseHandle(h);
    EXPECT_TRUE(MoveFileA("C:\\d", "C:\\e"));
}
