/*
** The memory scan step: the restart question and the program's end on NT,
** the silent end, going on to the drives when nothing runs a variant, and the
** whole run on Windows 9x, where a variant found in memory never ends it.
*/
#include "engine/scan_run.h"
#include "engine/walk.h"
#include "memory/memory_scan.h"
#include "repair/autostart.h"
#include "world.h"

#include <filesystem>

namespace {

const char kQuestion[] =
    "W32/Phantaxis.Backdoor found in memory! registry entries created by the worm are removed. "
    "You must restart the computer and run this program to continue scanning.\n\n"
    "Restart the computer now?";
const char kMemoryLine[] = "System Memory    W32/Phantaxis.Backdoor removed";

class MemoryScanTest : public WorldTest {
  protected:
    void Furnish() override { PrepareRemoval("!:"); }
    /* Runs ScanMemory; the exit code when it ended the program, else -1. */
    static int ScanMemoryExitCode() {
        try {
            ScanMemory();
        } catch (const simwin::ProcessExit& e) {
            return e.code;
        }
        return -1;
    }
};

} // namespace

TEST_F(MemoryScanTest, XpAsksForTheRestartThenEndsTheProgram) {
    for (int answer : {IDOK, IDCANCEL}) {
        SCOPED_TRACE(answer);
        Renew();
        // The usual case: the first attempt ends it, the second fails.
        RunVariant("C:\\WINDOWS\\system32\\svc.exe");
        // A folder that the image's name without extension also matches.
        simwin::MakeDir("C:\\WINDOWS\\system32\\svc.d");
        simwin::ScriptAnswers({answer});
        EXPECT_EQ(ScanMemoryExitCode(), 0);
        EXPECT_EQ(g_scan.memoryRestartNeeded, 1);
        ASSERT_EQ(simwin::Questions().size(), 1u);
        const simwin::Question& q = simwin::Questions()[0];
        EXPECT_EQ(q.kind, "AskUser");
        EXPECT_EQ(q.text, kQuestion);
        EXPECT_EQ(q.title, "CleanPhantaxis Ver 1.0");
        EXPECT_EQ(q.style, 65u);
        EXPECT_EQ(simwin::ShutdownRequests(),
                  answer == IDOK ? std::vector<UINT>{EWX_REBOOT | EWX_FORCE} : std::vector<UINT>{});
        EXPECT_EQ(lines_, (std::vector<std::string>{
                              kMemoryLine,
                              "C:\\WINDOWS\\system32\\svc.exe     W32/Phantaxis.Trojan removed"}));
        EXPECT_EQ(g_scan.filesInfected, 1);
        EXPECT_EQ(g_scan.filesRemoved, 1);
    }
}

TEST_F(MemoryScanTest, NtEndsSilentlyWhenTheSecondAttemptSucceeds) {
    // Also when, at the termination, the variant's folder steps aside for a
    // link to the system folder: the image checked goes, the system's file
    // of that name stays, and the lines are the same. Held without sharing
    // the delete until then, the image can only be read at the check, and
    // the system's file still stays.
    // When the image's attributes cannot be reset, the line names the file
    // as the status line shows it, and the record that matched it. An image
    // over 259 characters with no 8.3 form is read, ended and deleted
    // through the handle its Unicode name opens, named shortened: no path,
    // though a user's hard link there to the system's svc.exe makes it one.
    const std::string deep = PathOfLength("C:\\x", 80, 'd', ""), attributes = deep + "\\svc.exe";
    const std::string far = "C:\\" + std::string(250, 'f') + "\\svc.exe";
    for (int swapped : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(swapped == 4   ? "long"
                     : swapped == 3 ? "attributes"
                     : swapped == 2 ? "held"
                     : swapped      ? "swapped"
                                    : "plain");
        static HANDLE held;
        Renew();
        simwin::SetShortNames(swapped != 4);
        const std::string image = swapped == 4 ? far : swapped == 3 ? attributes : "C:\\x\\svc.exe";
        MapDrive('D');
        simwin::WriteFile("D:\\later.txt", "never walked");
        simwin::WriteFile("C:\\WINDOWS\\system32\\svc.exe", "the system's own");
        SetStrings(AUTOSTART_RUN_KEY, {{"Windows", "svc.exe -x"}});
        char shown[260];
        ShortenPath(image.c_str(), shown, swapped == 4 ? 259 : 60);
        if (swapped == 4) {
            simwin::MakeDir(std::string(shown).substr(0, std::string(shown).rfind('\\')));
            std::filesystem::create_hard_link(simwin::HostPath("C:\\WINDOWS\\system32\\svc.exe"),
                                              simwin::HostPath(shown));
        }
        RunVariant(image, simwin::Termination::RefusesOnce);
        if (swapped == 3) simwin::FailCall("NtSetInformationFile", ERROR_ACCESS_DENIED, -1);
        // The folder moves once the variant has ended (the pause before the
        // disposal): while it runs, its image holds the folder in place.
        if (swapped == 1) SwapFolderForLinkAt("Sleep", "C:\\x", "C:\\WINDOWS\\system32");
        if (swapped == 2) {
            held = CreateFileA("C:\\x\\svc.exe", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               NULL, OPEN_EXISTING, 0, NULL);
            simwin::OnCall("Sleep", [] {
                if (simwin::CallCount("Sleep") != 1) return;
                CloseHandle(held);
                ASSERT_TRUE(MoveFileA("C:\\x", "C:\\x-aside"));
                simwin::MakeDirLink("C:\\x", "C:\\WINDOWS\\system32");
            });
        }
        try {
            RunScan();
            ADD_FAILURE() << "the run went on to the drives";
        } catch (const simwin::ProcessExit& e) {
            EXPECT_EQ(e.code, 0);
        }
        EXPECT_TRUE(simwin::Questions().empty());
        EXPECT_EQ(g_scan.memoryRestartNeeded, 0);
        EXPECT_TRUE(simwin::RegValueExists(HKEY_LOCAL_MACHINE, AUTOSTART_RUN_KEY, "Windows"));
        EXPECT_EQ(
            lines_,
            (std::vector<std::string>{
                kMemoryLine,
                swapped == 3 ? shown + std::string("     W32/Phantaxis.Backdoor Unable to remove")
                             : (swapped == 4 ? shown : image) + "     W32/Phantaxis.Trojan " +
                                   (swapped == 2 ? "Unable to remove" : "removed")}));
        EXPECT_TRUE(simwin::DriveQueries().empty());
        EXPECT_EQ(g_scan.filesScanned, 0);
        EXPECT_EQ(simwin::ReadFile("C:\\WINDOWS\\system32\\svc.exe"), "the system's own");
        EXPECT_EQ(simwin::FileExists(swapped == 4   ? far
                                     : swapped == 3 ? attributes
                                     : swapped      ? "C:\\x-aside\\svc.exe"
                                                    : "C:\\x\\svc.exe"),
                  swapped == 2 || swapped == 3);
        EXPECT_TRUE(simwin::PendingDeletions().empty());
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    }
}

TEST_F(MemoryScanTest, NtWithNothingRunningGoesOnToTheDrives) {
    simwin::WriteFile("C:\\a.txt", "x");
    simwin::WriteFile("C:\\Tools\\clean.exe", "MZ");
    simwin::StartProcess({"C:\\Tools\\clean.exe"});
    PlantVariant("C:\\Data\\copy.exe"); // on disk, not running
    EXPECT_EQ(ScanMemoryExitCode(), -1);
    EXPECT_FALSE(g_scan.memoryScanMode);
    EXPECT_EQ(statuses_, std::vector<std::string>{"C:\\Tools\\clean.exe"});
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(RunScan(), 1);
    EXPECT_EQ(g_scan.filesScanned, 3);
    EXPECT_EQ(g_scan.filesInfected, 1);
    EXPECT_EQ(statuses_.back(), "Scanning completed");
}

TEST_F(MemoryScanTest, UnknownPlatformsScanNoProcess) {
    DWORD pid = RunVariant("C:\\x\\svc.exe");
    simwin::SetVersion(VER_PLATFORM_WIN32s, 3, 10);
    EXPECT_EQ(ScanMemoryExitCode(), -1);
    EXPECT_FALSE(g_scan.memoryScanMode);
    simwin::FailCall("GetVersionExA", ERROR_INVALID_PARAMETER, 1); // platform code 0
    EXPECT_EQ(ScanMemoryExitCode(), -1);
    EXPECT_FALSE(g_scan.memoryScanMode);
    EXPECT_TRUE(simwin::IsRunning(pid));
    EXPECT_EQ(simwin::CallCount("LoadLibraryA"), 0);
    EXPECT_TRUE(statuses_.empty());
}

TEST_F(MemoryScanTest, Windows9xRemovesTheRunningVariantThenWalksTheDrives) {
    simwin::SetWindows98();
    simwin::StartSystemProcesses();
    DWORD pid = RunVariant("C:\\WINDOWS\\evil.exe");
    simwin::MakeDir("C:\\WINDOWS\\evil.d"); // does not hide the image from the memory scan
    PlantVariant("C:\\Data\\copy.exe");
    simwin::WriteFile("C:\\Data\\notes.txt", "x");
    EXPECT_EQ(RunScan(), 1);
    EXPECT_FALSE(simwin::IsRunning(pid));
    EXPECT_FALSE(g_scan.memoryScanMode);
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          kMemoryLine,
                          "C:\\WINDOWS\\evil.exe     W32/Phantaxis.Trojan removed",
                          "C:\\Data\\copy.exe     W32/Phantaxis.Backdoor removed",
                          " ",
                          "Scanning statistics",
                          "------------------------------",
                          "Total files scanned\t\t:  2",
                          "Total files infected\t\t:  2",
                          "Total files removed\t\t:  2",
                      }));
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\evil.exe"));
    EXPECT_FALSE(simwin::FileExists("C:\\Data\\copy.exe"));
    EXPECT_EQ(statuses_.back(), "Scanning completed");
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(MemoryScanTest, NtOffersTheRestartWhenTheImageWaitsForIt) {
    // NT 4.0 (with psapi.dll installed): the image, still held by another
    // program, is left for the restart; the question comes although the
    // variant's process ended.
    simwin::SetWindowsNt4();
    simwin::SetLibraryPresent("psapi.dll", true);
    RunVariant("C:\\x\\svc.exe", simwin::Termination::RefusesOnce);
    HANDLE held =
        CreateFileA("C:\\x\\svc.exe", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    simwin::ScriptAnswers({IDOK, IDOK});
    EXPECT_EQ(ScanMemoryExitCode(), 0);
    EXPECT_TRUE(g_scan.restartNeeded);
    EXPECT_EQ(g_scan.memoryRestartNeeded, 0);
    ASSERT_FALSE(simwin::Questions().empty());
    EXPECT_EQ(simwin::Questions().back().text, kQuestion);
    EXPECT_EQ(simwin::ShutdownRequests(), std::vector<UINT>{EWX_REBOOT | EWX_FORCE});
    EXPECT_EQ(simwin::PendingDeletions(), std::vector<std::string>{"C:\\x\\svc.exe"});
    CloseHandle(held);
}
