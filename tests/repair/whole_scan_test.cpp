/*
** Whole scans of drive C: with variants, the autostart values that start them and a
** signed hosts file: every log line, the counters, what is left on disk and in the
** registry; then on 64-bit Windows (WoW64) and where WoW64 does not exist.
*/
#include "engine/scan_run.h"
#include "repair/autostart.h"
#include "world.h"

class WholeScanTest : public WorldTest {};

/* The log: the lines `found`, then the scan's statistics. */
Strings Log(Strings found, int scanned, int infected, int removed) {
    found.insert(found.end(), {" ", "Scanning statistics", "------------------------------",
                               "Total files scanned\t\t:  " + std::to_string(scanned),
                               "Total files infected\t\t:  " + std::to_string(infected),
                               "Total files removed\t\t:  " + std::to_string(removed)});
    return found;
}
const std::string kRun32 = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST_F(WholeScanTest, TwoVariantsTheirAutostartValuesAndTheHostsFile) {
    std::vector<uint8_t> first = Specimen(2), second = Specimen(1); // b and C FraudTool
    ASSERT_FALSE(first.empty() || second.empty()) << "specimens not built";
    const std::string hosts = "C:\\WINDOWS\\system32\\drivers\\etc\\hosts";
    simwin::WriteFile(hosts, "begin 644 hosts\r\n127.0.0.1 localhost\r\n" + LegacyPattern() +
                                 "\r\nend\r\n");
    simwin::WriteFile("C:\\aaa\\first.exe", first);
    simwin::WriteFile("C:\\aaa\\readme.txt", "not a program");
    simwin::WriteFile("C:\\zzz\\second.exe", second);
    SetStrings(AUTOSTART_RUN_KEY, {{"Keep", "c:\\windows\\system32\\ctfmon.exe"},
                                   {"First", "C:\\AAA\\FIRST.EXE /autorun"}});
    // Named as the Run value the first detection removes, in the other key: another's, kept.
    SetStrings(AUTOSTART_RUNSERVICES_KEY, {{"First", "c:\\other\\thing.exe"},
                                           {"Second", "\"%SystemRoot%\\..\\zzz\\second.exe\" -s"},
                                           {"Third", "\"c:\\zzz\\second.exe\" -s"}});

    PrepareRemoval("!:");
    EXPECT_EQ(RunScan(), 1);

    // The hosts file was gone before the walk reached it: 3 files scanned.
    EXPECT_EQ(lines_, Log({hosts + "     W32/Dravok.Worm removed",
                           "System Registry     W32/Phantaxis.Backdoor removed",
                           "C:\\aaa\\first.exe     W32/Phantaxis.b.FraudTool removed",
                           "System Registry     W32/Phantaxis.Backdoor removed",
                           "System Registry     W32/Phantaxis.Backdoor removed",
                           "C:\\zzz\\second.exe     W32/Phantaxis.C.FraudTool removed"},
                          3, 3, 3));
    EXPECT_EQ(statuses_.back(), "Scanning completed");
    EXPECT_STREQ(g_scan.autostartValueName, "Third");

    EXPECT_FALSE(simwin::FileExists(hosts));
    EXPECT_FALSE(simwin::FileExists("C:\\aaa\\first.exe"));
    EXPECT_FALSE(simwin::FileExists("C:\\zzz\\second.exe"));
    EXPECT_EQ(simwin::ReadFile("C:\\aaa\\readme.txt"), "not a program");
    EXPECT_EQ(ValueNames(AUTOSTART_RUN_KEY), (Strings{"Keep"}));
    // "%SystemRoot%\..\zzz" names the file too: Windows drops "..".
    EXPECT_EQ(ValueNames(AUTOSTART_RUNSERVICES_KEY), (Strings{"First"}));
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
    // psapi.dll (the processes' listing) from the system's folder, by no
    // name that Windows would look for in the program's own folder first.
    EXPECT_GT(simwin::LoadCount("psapi.dll"), 0);
    EXPECT_EQ(simwin::SearchedLoads(), 0);
}

/* The 32-bit program on 64-bit Windows: one variant in the real system folder
   (put there by a 64-bit program, started by a value of the 64-bit view) and
   one in SysWOW64 (put there by a 32-bit program, which names it
   C:\WINDOWS\system32\b32.exe in a value of the 32-bit view). Each file is
   met once, by its real name; each value is judged by what it starts in its
   own view; nothing that may load a library runs with the redirection off. */
TEST_F(WholeScanTest, Wow64FindsBothSystemFoldersAndBothRegistryViews) {
    simwin::SetWindows10();
    PlantVariant("C:\\WINDOWS\\system32\\a64.exe");
    simwin::WriteFile("C:\\WINDOWS\\system32\\notes.txt", "64");
    PlantVariant("C:\\WINDOWS\\SysWOW64\\b32.exe");
    simwin::WriteFile("C:\\WINDOWS\\SysWOW64\\notes.txt", "32");
    // The same texts in the other view start files that do not exist.
    SetStrings(AUTOSTART_RUN_KEY, {{"A", "C:\\WINDOWS\\system32\\a64.exe"},
                                   {"Keep64", "C:\\WINDOWS\\system32\\b32.exe"}});
    SetStrings(kRun32, {{"Keep32", "C:\\WINDOWS\\system32\\a64.exe"},
                        {"B", "\"%SystemRoot%\\system32\\b32.exe\" /s"}});
    // Named as the value the first detection removes, in the other view: another's, kept.
    SetStrings(kRun32 + "Services", {{"A", "c:\\other\\thing.exe"}});
    simwin::SetWow64(true);

    std::vector<std::string> offDuring;
    for (const char* op : {"LoadLibraryA", "SendMessageA", "PeekMessageA", "MessageBoxA"})
        simwin::OnCall(op, [&offDuring, op] {
            if (simwin::RedirectionOff()) offDuring.push_back(op);
        });
    PrepareRemoval("!:");
    EXPECT_EQ(RunScan(), 1);

    EXPECT_EQ(lines_, Log({"System Registry     W32/Phantaxis.Backdoor removed",
                           "C:\\WINDOWS\\system32\\a64.exe     W32/Phantaxis.Backdoor removed",
                           "System Registry     W32/Phantaxis.Backdoor removed",
                           "C:\\WINDOWS\\SysWOW64\\b32.exe     W32/Phantaxis.Backdoor removed"},
                          4, 2, 2));
    EXPECT_EQ(ValueNames(AUTOSTART_RUN_KEY), (Strings{"Keep64"}));
    EXPECT_EQ(ValueNames(kRun32), (Strings{"Keep32"}));
    EXPECT_TRUE(simwin::RegValueExists(HKEY_LOCAL_MACHINE, kRun32 + "Services", "A"));
    EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\system32\\notes.txt"), "64");
    EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\SysWOW64\\notes.txt"), "32");
    EXPECT_EQ(offDuring, Strings{});
    EXPECT_FALSE(simwin::RedirectionOff());
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

/* Where WoW64 does not exist nothing changes: no view bit reaches the
   registry (NT 4.0 and 2000 would refuse the key), the Wow6432Node values
   stay alone, and the redirection switch is never touched. */
using WholeScanPerVersion = PerRow<WholeScanTest>;
TEST_P(WholeScanPerVersion, WithoutWow64NothingChanges) {
    Renew(GetParam());
    PlantVariant("C:\\WINDOWS\\system32\\a.exe");
    for (const std::string& key : {std::string(AUTOSTART_RUN_KEY), kRun32})
        SetStrings(key, {{"A", "C:\\WINDOWS\\system32\\a.exe"}});
    PrepareRemoval("!:");
    RunScan();
    ASSERT_GE(lines_.size(), 2u);
    EXPECT_EQ(Strings(lines_.begin(), lines_.begin() + 2),
              (Strings{"System Registry     W32/Phantaxis.Backdoor removed",
                       "C:\\WINDOWS\\system32\\a.exe     W32/Phantaxis.Backdoor removed"}));
    EXPECT_EQ(ValueNames(AUTOSTART_RUN_KEY), Strings{});
    EXPECT_EQ(ValueNames(kRun32), Strings{"A"});
    EXPECT_FALSE(g_scan.wow64);
    EXPECT_EQ(simwin::CallCount("Wow64DisableWow64FsRedirection"), 0);
}
// 32-bit Windows 10 among them.
INSTANTIATE_TEST_SUITE_P(Versions, WholeScanPerVersion,
                         ::testing::Values(kWin98, kNt4, kWin2000, kWin10), ByName());
