/*
** One whole scan over drive C: with two variant files, the autostart values
** that start them and a hosts file carrying the legacy signature: every log
** line in order, the counters, and what is left on disk and in the registry.
*/
#include "engine/legacy_check.h"
#include "engine/scan_run.h"
#include "repair/autostart.h"
#include "world.h"

class WholeScanTest : public WorldTest {};

TEST_F(WholeScanTest, TwoVariantsTheirAutostartValuesAndTheHostsFile) {
    std::vector<uint8_t> first = Specimen(2), second = Specimen(1); // b and C FraudTool
    ASSERT_FALSE(first.empty() || second.empty()) << "specimens not built";
    uint8_t pattern[100];
    size_t n = CopyLegacyPattern(pattern, sizeof pattern);
    const std::string hosts = "C:\\WINDOWS\\system32\\drivers\\etc\\hosts";
    simwin::WriteFile(hosts, "begin 644 hosts\r\n127.0.0.1 localhost\r\n" +
                                 std::string(pattern, pattern + n) + "\r\nend\r\n");
    simwin::WriteFile("C:\\aaa\\first.exe", first);
    simwin::WriteFile("C:\\aaa\\readme.txt", "not a program");
    simwin::WriteFile("C:\\zzz\\second.exe", second);
    simwin::RegSetString(HKEY_LOCAL_MACHINE, AUTOSTART_RUN_KEY, "Keep",
                         "c:\\windows\\system32\\ctfmon.exe");
    simwin::RegSetString(HKEY_LOCAL_MACHINE, AUTOSTART_RUN_KEY, "First",
                         "C:\\AAA\\FIRST.EXE /autorun");
    // Same name as the Run value that the first detection removes: deleted by
    // name at the second detection, whatever it starts.
    simwin::RegSetString(HKEY_LOCAL_MACHINE, AUTOSTART_RUNSERVICES_KEY, "First",
                         "c:\\other\\thing.exe");
    simwin::RegSetString(HKEY_LOCAL_MACHINE, AUTOSTART_RUNSERVICES_KEY, "Second",
                         "\"%SystemRoot%\\..\\zzz\\second.exe\" -s");
    simwin::RegSetString(HKEY_LOCAL_MACHINE, AUTOSTART_RUNSERVICES_KEY, "Third",
                         "\"c:\\zzz\\second.exe\" -s");

    AttachWindow();
    strcpy(g_scan.target, "!:");
    g_scan.action = ACTION_DELETE;
    EXPECT_EQ(RunScan(), 1);

    EXPECT_EQ(lines_, (std::vector<std::string>{
                          hosts + "     W32/Dravok.Worm removed",
                          "System Registry     W32/Phantaxis.Backdoor removed",
                          "C:\\aaa\\first.exe     W32/Phantaxis.b.FraudTool removed",
                          "System Registry     W32/Phantaxis.C.FraudTool removed",
                          "System Registry     W32/Phantaxis.Backdoor removed",
                          "C:\\zzz\\second.exe     W32/Phantaxis.C.FraudTool removed",
                          " ",
                          "Scanning statistics",
                          "------------------------------",
                          // the hosts file was gone before the walk reached it
                          "Total files scanned\t\t:  3",
                          "Total files infected\t\t:  3",
                          "Total files removed\t\t:  3",
                      }));
    EXPECT_EQ(statuses_.back(), "Scanning completed");
    EXPECT_EQ(g_scan.filesInfected, 3);
    EXPECT_EQ(g_scan.filesRemoved, 3);
    EXPECT_STREQ(g_scan.autostartValueName, "Third");

    EXPECT_FALSE(simwin::FileExists(hosts));
    EXPECT_FALSE(simwin::FileExists("C:\\aaa\\first.exe"));
    EXPECT_FALSE(simwin::FileExists("C:\\zzz\\second.exe"));
    EXPECT_EQ(simwin::ReadFile("C:\\aaa\\readme.txt"), "not a program");
    EXPECT_EQ(simwin::RegValueNames(HKEY_LOCAL_MACHINE, AUTOSTART_RUN_KEY),
              (std::vector<std::string>{"Keep"}));
    // "%SystemRoot%\..\zzz" names the file too, but not by the same path.
    EXPECT_EQ(simwin::RegValueNames(HKEY_LOCAL_MACHINE, AUTOSTART_RUNSERVICES_KEY),
              (std::vector<std::string>{"Second"}));
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    EXPECT_EQ(simwin::OpenDescriptorCount(), 0u);
}
