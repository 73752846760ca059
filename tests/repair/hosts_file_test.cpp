/*
** The hosts file check: where each platform family keeps the file, and that
** an ordinary hosts file is never touched.
*/
#include "repair/hosts_file.h"
#include "world.h"

static std::string SignedHosts() {
    return "begin\r\n127.0.0.1 localhost\r\n" + LegacyPattern() + "\r\n";
}
const char* const kNtHosts = "C:\\WINDOWS\\system32\\drivers\\etc\\hosts";
const char* const kWin9xHosts = "C:\\WINDOWS\\hosts";

class HostsFileTest : public WorldTest {
  protected:
    void Furnish() override {
        PrepareRemoval();
        simwin::WriteFile(kNtHosts, SignedHosts());
        simwin::WriteFile(kWin9xHosts, SignedHosts());
    }
};

/* Where each family keeps the file: NT under the system folder, 9x in the
   Windows folder (at a drive's root with one backslash between the parts). */
struct Place {
    const char* name;
    WindowsVersion version;
    const char* systemDir;  // NT's folder
    const char* windowsDir; // 9x's folder
    const char* removed;    // the file that goes, as shown
    const char* kept;
};
using HostsPlaceTest = PerRow<HostsFileTest, Place>;

TEST_P(HostsPlaceTest, EachFamilyLooksWhereItKeepsTheFile) {
    const Place& r = GetParam();
    Renew(r.version);
    simwin::WriteFile("C:\\hosts", SignedHosts());
    simwin::SetSystemDirectory(r.systemDir);
    simwin::SetWindowsDirectory(r.windowsDir);
    CheckHostsFile();
    EXPECT_FALSE(simwin::FileExists(r.removed));
    EXPECT_TRUE(simwin::FileExists(r.kept));
    EXPECT_EQ(lines_, Strings{std::string(r.removed) + "     W32/Dravok.Worm removed"});
    EXPECT_EQ(g_scan.filesInfected, 1);
    EXPECT_EQ(g_scan.filesRemoved, 1);
    CheckHostsFile(); // gone now: nothing more happens
    EXPECT_EQ(lines_.size(), 1u);
    EXPECT_EQ(g_scan.filesInfected, 1);
}

const Place kPlaces[] = {
    {"XP", kXp, "c:\\windows\\system32", "C:\\WINDOWS",
     "c:\\windows\\system32\\drivers\\etc\\hosts", kWin9xHosts},
    {"Win98", kWin98, "C:\\WINDOWS\\system32", "c:\\windows", "c:\\windows\\hosts", kNtHosts},
    {"Win98AtTheRoot", kWin98, "C:\\WINDOWS\\system32", "C:\\", "C:\\hosts", kNtHosts}};
INSTANTIATE_TEST_SUITE_P(Versions, HostsPlaceTest, ::testing::ValuesIn(kPlaces), ByName());

TEST_F(HostsFileTest, OtherPlatformsAndUnusableFoldersLookNowhere) {
    simwin::FailCall("GetVersionExA", ERROR_INVALID_PARAMETER); // PLATFORM_NONE
    CheckHostsFile();
    simwin::SetVersion(VER_PLATFORM_WIN32s, 3, 11); // PLATFORM_OTHER
    CheckHostsFile();
    for (const char* op : {"_open", "GetSystemDirectoryA", "GetWindowsDirectoryA"})
        EXPECT_EQ(simwin::CallCount(op), 0) << op;

    simwin::SetWindowsXp();
    simwin::FailCall("GetSystemDirectoryA", ERROR_ACCESS_DENIED);
    CheckHostsFile();
    // A folder whose hosts path would not fit 260 bytes, or that does not fit itself.
    simwin::SetSystemDirectory("C:\\" + std::string(240, 's'));
    CheckHostsFile();
    simwin::SetSystemDirectory("C:\\" + std::string(300, 's'));
    CheckHostsFile();
    EXPECT_EQ(simwin::CallCount("_open"), 0);

    EXPECT_TRUE(simwin::FileExists(kNtHosts));
    EXPECT_TRUE(simwin::FileExists(kWin9xHosts));
    EXPECT_TRUE(lines_.empty());
}

TEST_F(HostsFileTest, AnOrdinaryHostsFileStaysUnchangedAtEveryDetection) {
    const std::string ordinary = "# hosts\r\n127.0.0.1       localhost\r\n";
    simwin::WriteFile(kNtHosts, ordinary);
    for (int i = 0; i < 10; i++)
        CheckHostsFile();
    EXPECT_EQ(simwin::ReadFile(kNtHosts), ordinary);
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(g_scan.filesInfected, 0);
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}
