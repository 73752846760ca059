/*
** Hostile input to the repairs a detection triggers. The scan must not crash
** (these tests also run under ASan), reads only what it needs, changes only
** what belongs to the infected file, and goes on to remove a later one.
*/
#include "engine/file_check.h"
#include "engine/legacy_check.h"
#include "engine/walk.h"
#include "repair/autostart.h"
#include "actions/files.h"
#include "world.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string kHosts = "C:\\WINDOWS\\system32\\drivers\\etc\\hosts";

class HostileRepairTest : public ScanWorldTest {
  protected:
    /* A sparse file of `size` bytes: `head`, `middle` at 50 MB (if any), `tail` at the end. */
    void WriteSparse(const std::string& win, const std::string& head, const std::string& tail,
                     uintmax_t size, const std::string& middle = "") {
        simwin::WriteFile(win, head);
        std::string host = simwin::HostPath(win);
        fs::resize_file(host, size);
        std::fstream f(host, std::ios::in | std::ios::out | std::ios::binary);
        if (!middle.empty()) f.seekp(50 << 20) << middle;
        f.seekp((std::streamoff)(size - tail.size())) << tail;
    }
};

TEST_F(HostileRepairTest, AutostartValuesWithTheLongestNamesAndMegabytesOfData) {
    const std::string longRun = LongestValueName('N'), longServices = LongestValueName('M'),
                      longKeep = LongestValueName('K');
    const std::string megabyte(1 << 20, 'x');
    simwin::WriteFile("C:\\Program Files\\Victim\\evil.exe", infected_);
    simwin::WriteFile("C:\\zzz\\late.exe", infected_);
    std::string names = "x"; // the file's name after each of 100000 backslashes
    while (names.size() < megabyte.size())
        names += "\\evil.exe.";
    simwin::SetEnv("VICTIM", "C:\\Program Files\\Victim");
    // Start the infected file: removed, however long the name or the data;
    // start something else: kept (BareBig is not in a system folder).
    SetStrings(AUTOSTART_RUN_KEY, {{longRun, "C:\\PROGRAM FILES\\VICTIM\\EVIL.EXE /autorun"},
                                   {"Big", "\"c:\\program files\\victim\\evil.exe\" " + megabyte},
                                   {longKeep, "c:\\windows\\notepad.exe"},
                                   {"BareBig", megabyte + "evil.exe"},
                                   {"Other", "c:\\program files\\victim\\other.exe " + megabyte},
                                   {"Names", names}});
    SetStrings(AUTOSTART_RUNSERVICES_KEY, {{longServices, "%SystemDrive%\\..\\" + megabyte},
                                           {"Env", "%VICTIM%\\evil.exe " + megabyte}});
    const std::vector<uint8_t> binary = Unterminated(1 << 20);
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, AUTOSTART_RUNSERVICES_KEY, "Binary", REG_BINARY,
                        binary);

    EXPECT_GT(WalkDirectory("C:\\*.*"), 0);
    // longServices expands to c:\..\xxx...
    EXPECT_EQ(ValueNames(AUTOSTART_RUN_KEY), (Strings{longKeep, "BareBig", "Other", "Names"}));
    EXPECT_EQ(ValueNames(AUTOSTART_RUNSERVICES_KEY), (Strings{longServices, "Binary"}));
    EXPECT_EQ(simwin::RegValueData(HKEY_LOCAL_MACHINE, AUTOSTART_RUNSERVICES_KEY, "Binary"),
              binary);
    // A name too long for the 128-byte slot is never remembered (a cut name
    // could be another value's); the last one that fits is.
    EXPECT_STREQ(g_scan.autostartValueName, "Env");
    EXPECT_FALSE(simwin::FileExists("C:\\Program Files\\Victim\\evil.exe"));
    EXPECT_FALSE(simwin::FileExists("C:\\zzz\\late.exe"));
    EXPECT_EQ(g_scan.filesRemoved, 2);
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_.back(), kLateRemoved);
    EXPECT_EQ(std::count(lines_.begin(), lines_.end(),
                         "System Registry     W32/Phantaxis.Backdoor removed"),
              3);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(HostileRepairTest, HostsFilesOfNothingAndOfAHundredMegabytes) {
    const uintmax_t hundredMb = 100u << 20;
    const std::string signature = LegacyPattern();

    // Empty: no line, no change.
    simwin::WriteFile(kHosts, "");
    EXPECT_EQ(CheckLegacyFile("W32/Phantaxis.Backdoor", kHosts.c_str()), 0);
    EXPECT_TRUE(simwin::FileExists(kHosts));

    // 100 MB, the signature in the middle: only head and tail are read, so the file stays.
    WriteSparse(kHosts, "begin 644 hosts\r\n127.0.0.1 localhost\r\n", "\r\n::1 localhost\r\n",
                hundredMb, signature);
    uint64_t before = simwin::BytesRead();
    EXPECT_EQ(CheckLegacyFile("W32/Phantaxis.Backdoor", kHosts.c_str()), 0);
    EXPECT_LE(simwin::BytesRead() - before, 5u + 4096u + 4096u);
    EXPECT_EQ(fs::file_size(simwin::HostPath(kHosts)), hundredMb);

    // Reached by a walk's detection, it is also checked as an ordinary file (a few
    // header bytes); the infected file and a later one are removed.
    simwin::WriteFile("C:\\aaa\\evil.exe", infected_);
    simwin::WriteFile("C:\\zzz\\late.exe", infected_);
    before = simwin::BytesRead();
    EXPECT_GT(WalkDirectory("C:\\*.*"), 0);
    EXPECT_LT(simwin::BytesRead() - before, 2 * (5u + 8192u) + 4 * 1024u + 127 * 40u);
    EXPECT_EQ(fs::file_size(simwin::HostPath(kHosts)), hundredMb);
    EXPECT_EQ(lines_,
              (Strings{"C:\\aaa\\evil.exe     W32/Phantaxis.b.FraudTool removed", kLateRemoved}));

    // 100 MB with the signature in its head: removed, still read only at its two ends.
    WriteSparse(kHosts, "begin 644 hosts\r\n" + signature + "\r\n", "\r\nend\r\n", hundredMb);
    before = simwin::BytesRead();
    EXPECT_EQ(CheckLegacyFile("W32/Phantaxis.Backdoor", kHosts.c_str()), 1);
    EXPECT_LE(simwin::BytesRead() - before, 5u + 4096u + 4096u);
    EXPECT_FALSE(simwin::FileExists(kHosts));
    EXPECT_EQ(lines_.back(), kHosts + "     W32/Dravok.Worm removed");
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}

TEST_F(HostileRepairTest, WininitWithALineOfAHundredThousandCharacters) {
    simwin::SetWindows98();
    simwin::MakeDir("C:\\WINDOWS\\TEMP");
    const std::string ini = "C:\\WINDOWS\\wininit.ini";
    // One long entry inside [rename], with "[" at every piece boundary of
    // the merge's 647-character reads: none of them starts a line, so none
    // is a section header, and the line is written back whole.
    std::string longLine = "NUL=";
    while (longLine.size() < 100000)
        longLine += longLine.size() % 647 == 0 ? '[' : 'A';
    const std::string old = "[rename]\r\n" + longLine + "\r\n[other]\r\nx=1\r\n";
    simwin::WriteFile(ini, old);
    simwin::WriteFile("C:\\WINDOWS\\system.ini", "[boot]\r\n");

    // Its running process keeps the infected file and cannot be ended: the deletion waits.
    simwin::WriteFile("C:\\Program Files\\Victim Tool\\evil.exe", infected_);
    simwin::StartProcess(
        {"C:\\Program Files\\Victim Tool\\evil.exe", {}, simwin::Termination::Refuses});
    simwin::WriteFile("C:\\zzz\\late.exe", infected_);
    EXPECT_GT(WalkDirectory("C:\\*.*"), 0);

    const std::string entry = "NUL=C:\\PROGRA~1\\VICTIM~1\\evil.exe\r\n";
    EXPECT_EQ(simwin::ReadFile(ini),
              "[rename]\r\n" + longLine + "\r\n" + entry + "[other]\r\nx=1\r\n");
    EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\TEMP\\wininit.ini"), old);
    EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\system.ini"), "[boot]\r\n");
    EXPECT_TRUE(g_scan.restartNeeded);
    EXPECT_TRUE(simwin::FileExists("C:\\Program Files\\Victim Tool\\evil.exe"));
    EXPECT_FALSE(simwin::FileExists("C:\\zzz\\late.exe"));
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_.back(), kLateRemoved);

    // 100,000 characters, no line end, no section: section and entry get lines of their own.
    const std::string bare(100000, 'z');
    simwin::WriteFile(ini, bare);
    EXPECT_TRUE(AddWininitRename("NUL", "C:\\A.EXE"));
    EXPECT_EQ(simwin::ReadFile(ini), bare + "\r\n[rename]\r\nNUL=C:\\A.EXE\r\n");
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
    EXPECT_EQ(simwin::OpenStreamCount(), 0u);
}

} // namespace
