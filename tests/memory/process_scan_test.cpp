/*
** The process scans: the NT handling of a variant process row by row, the
** Windows 9x scan, report-only, processes whose image cannot be read or
** opened, missing process-list functions, and a stop during the scan.
*/
#include "engine/walk.h"
#include "memory/kill_process.h"
#include "memory/process_scan.h"
#include "platform/wow64.h"
#include "world.h"

#include <algorithm>
#include <filesystem>

namespace {

const char kMemoryLine[] = "System Memory    W32/Phantaxis.Backdoor removed";

class ProcessScanTest : public WorldTest {
  protected:
    /* The state ScanMemory gives a scan: SCAN pressed, memory-scan mode on. */
    void Furnish() override {
        PrepareRemoval();
        g_scan.memoryScanMode = true;
    }
    /* The lines of the memory scan's removal of each of `paths`. */
    static std::vector<std::string> Removed(const std::vector<std::string>& paths) {
        std::vector<std::string> lines;
        for (const std::string& path : paths)
            lines.insert(lines.end(), {kMemoryLine, path + "     W32/Phantaxis.Trojan removed"});
        return lines;
    }
};
using ProcessScanFromXp = PerRow<ProcessScanTest>;
using ProcessScanPerNtVersion = PerRow<ProcessScanTest>;
using ImagePathPerVersion = PerRow<ProcessScanTest>;

/* NT 4.0 with psapi.dll installed. */
const WindowsVersion kNt4Psapi{"Nt4Psapi", [] {
                                   simwin::SetWindowsNt4();
                                   simwin::SetLibraryPresent("psapi.dll", true);
                               }};

} // namespace

/* A service of the image's name is the variant's own only when it is
   registered for the image (with the service manager, and per control set in
   its key's ImagePath); one that runs another program counts as none, and
   one registered for the image is stopped only while the listed process is
   the one that runs it, its keys kept too where another process runs it.
   Registered for the image means for the file the process mapped: once it
   has ended, its user makes its name a hard link to another service's
   program (Swapped), which is neither stopped nor unregistered. */
TEST_F(ProcessScanTest, NtHandlingFollowsTheTableRowByRow) {
    using T = simwin::Termination;
    const WindowsVersion &Xp = kXp, &Win10 = kWin10, &Nt4 = kNt4Psapi;
    enum Service { None, Own, Hosted, OwnRunByAnother, Swapped };
    struct Row {
        const char* what;
        T termination; // Ends: the first attempt succeeds; RefusesOnce: only the second
        WindowsVersion version;
        Service service; // a service of the image's name, running it or svchost.exe
        bool stopAsked, keysDeleted, restart, recheck;
    } rows[] = {
        {"second attempt succeeds", T::RefusesOnce, Xp, None, false, false, false, true},
        {"first ok, service stopped", T::Ends, Xp, Own, true, true, false, true},
        {"first ok, no service (NT 4.0)", T::Ends, Nt4, None, false, false, true, true},
        {"first ok, no service (XP)", T::Ends, Xp, None, false, false, true, true},
        {"first ok, service of another image", T::Ends, Xp, Hosted, false, false, true, true},
        {"both fail, service stopped", T::Refuses, Xp, Own, true, true, false, true},
        {"both fail, no service", T::Refuses, Nt4, None, false, false, true, false},
        {"both fail, service of another image", T::Refuses, Nt4, Hosted, false, false, true, false},
        {"both fail, service run by another process", T::Refuses, Xp, OwnRunByAnother, false, false,
         true, false},
        {"first ok, name swapped (NT 4.0)", T::Ends, Nt4, Swapped, false, false, true, true},
        {"first ok, name swapped (2000)", T::Ends, kWin2000, Swapped, false, false, true, true},
        {"first ok, Vista and later", T::Ends, Win10, None, false, false, false, true},
        {"both fail, Vista and later", T::Refuses, Win10, Own, false, false, false, false},
    };
    const std::string path = "C:\\WINDOWS\\system32\\abc.exe";
    const std::string key = "SYSTEM\\ControlSet001\\Services\\abc";
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Renew(r.version);
        DWORD pid = RunVariant(path, r.termination);
        DWORD host = simwin::StartProcess({"C:\\WINDOWS\\system32\\svchost.exe"});
        if (r.service != None) {
            // Registered as Windows reads it: a REG_SZ with a variable of the
            // machine's environment (windir), a name without its extension,
            // arguments; the manager reads the key.
            simwin::RegSetString(HKEY_LOCAL_MACHINE, key, "ImagePath",
                                 r.service == Hosted ? "%SystemRoot%\\system32\\svchost.exe -k abc"
                                 : r.service == Swapped ? "%SystemRoot%\\system32\\mstask.exe"
                                                        : "%windir%\\System32\\ABC /service");
            simwin::RegCreatePath(HKEY_LOCAL_MACHINE, key + "\\Enum");
            simwin::ServiceSpec svc;
            svc.name = "ABC";
            svc.process = r.service == Own ? pid : r.service == Hosted ? host : pid + 1000;
            simwin::AddService(svc);
        }
        if (r.service == Swapped)
            simwin::OnCall("TerminateProcess", [&] { // once the process has ended
                const std::string program = "C:\\WINDOWS\\system32\\mstask.exe";
                if (simwin::IsRunning(pid) || simwin::FileExists(program)) return;
                simwin::WriteFile(program, "MZ");
                std::filesystem::remove(simwin::HostPath(path));
                std::filesystem::create_hard_link(simwin::HostPath(program),
                                                  simwin::HostPath(path));
            });
        std::vector<int32_t> pendingAtDisposal;
        // The attributes are cleared by path, or through the handle (XP, 10).
        for (const char* op :
             {"SetFileAttributesA", "NtSetInformationFile", "SetFileInformationByHandle"})
            simwin::OnCall(op, [&, op] {
                if (simwin::CallCount(op) == 1)
                    pendingAtDisposal.push_back(g_scan.pendingMemoryAction);
            });
        std::vector<std::string> steps; // the service is stopped before its keys go
        simwin::OnCall("ControlService", [&] { steps.push_back("stop"); });
        simwin::OnCall("RegDeleteKeyA", [&] { steps.push_back("keys"); });

        EXPECT_NE(ScanProcessesPsapi(), 0);
        EXPECT_EQ(simwin::CallCount("ControlService") > 0, r.stopAsked);
        EXPECT_EQ(simwin::ServiceState("ABC") == SERVICE_STOPPED, r.stopAsked);
        EXPECT_TRUE(simwin::IsRunning(host));
        const auto& deleted = simwin::RegDeleteKeyCalls();
        EXPECT_EQ(!deleted.empty(), r.keysDeleted);
        EXPECT_EQ(simwin::RegKeyExists(HKEY_LOCAL_MACHINE, key),
                  r.service != None && !r.keysDeleted);
        if (!deleted.empty()) {
            EXPECT_EQ(deleted[0], key + "\\Enum");
        }
        if (r.stopAsked) {
            ASSERT_FALSE(steps.empty());
            EXPECT_EQ(steps.front(), "stop");
        }
        EXPECT_EQ(g_scan.memoryRestartNeeded, r.restart ? 1 : 0);
        std::vector<std::string> lines = r.recheck ? Removed({path}) : std::vector<std::string>{};
        if (r.service == OwnRunByAnother)
            lines.push_back("System Service     abc kept: not run by process " +
                            std::to_string(pid));
        EXPECT_EQ(lines_, lines);
        EXPECT_EQ(simwin::FileExists(path), !r.recheck || r.service == Swapped); // the link stays
        EXPECT_EQ(pendingAtDisposal,
                  r.recheck ? std::vector<int32_t>{ACTION_DELETE} : std::vector<int32_t>{});
        EXPECT_EQ(g_scan.pendingMemoryAction, 0);
        EXPECT_EQ(g_scan.filesInfected, 1);
        // The image the check kept open is let go once its process is dealt
        // with, whether or not the second walk came.
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
        // The variant lets this program query and terminate it: the rights
        // asked for suffice without the debug privilege.
        EXPECT_FALSE(simwin::PrivilegeEnabled(SE_DEBUG_NAME));
    }
}

/* On 64-bit Windows a 32-bit process names its image in the 32-bit names:
   run32.exe from SysWOW64 reports C:\WINDOWS\system32\run32.exe, where a
   harmless 64-bit run32.exe really is. The variant is found, ended and
   removed by its real name; the 64-bit program and its file stay. A 32-bit
   variant that a 64-bit program started from the real system folder, with no
   namesake in SysWOW64, is found where it is; so are both.exe and tool.exe,
   whose namesakes in SysWOW64 are of the other kind. */
TEST_F(ProcessScanTest, Wow64ProcessImagesAreReadByTheirRealNames) {
    simwin::SetWindows10();
    simwin::SetWow64(true);
    DetectWow64();
    const std::string variant = "C:\\WINDOWS\\SysWOW64\\run32.exe";
    const std::string harmless = "C:\\WINDOWS\\system32\\run32.exe";
    simwin::WriteFile(harmless, "MZ not a variant");
    DWORD native = simwin::StartProcess({harmless});
    PlantVariant(variant);
    DWORD wow64 = simwin::StartProcess({variant, {}, simwin::Termination::Ends, harmless});
    simwin::SetWow64Process(wow64);
    const std::string there = "C:\\WINDOWS\\system32\\only32.exe";
    DWORD started = RunVariant(there);
    simwin::SetWow64Process(started);
    simwin::WriteFile("C:\\WINDOWS\\SysWOW64\\both.exe", "MZ not a variant");
    simwin::SetWow64Process(RunVariant("C:\\WINDOWS\\system32\\both.exe"));
    PlantVariant("C:\\WINDOWS\\SysWOW64\\tool.exe");
    simwin::WriteFile("C:\\WINDOWS\\system32\\tool.exe", "MZ not a variant");
    DWORD tool = simwin::StartProcess({"C:\\WINDOWS\\system32\\tool.exe"});
    simwin::SetWow64Process(tool);

    EXPECT_NE(ScanProcessesPsapi(), 0);
    EXPECT_EQ(lines_, Removed({variant, there, "C:\\WINDOWS\\system32\\both.exe"}));
    EXPECT_FALSE(simwin::FileExists(there));
    EXPECT_FALSE(simwin::IsRunning(wow64));
    EXPECT_TRUE(simwin::IsRunning(native));
    EXPECT_TRUE(simwin::IsRunning(tool));
    EXPECT_FALSE(simwin::FileExists(variant));
    EXPECT_TRUE(simwin::FileExists(harmless));
    EXPECT_TRUE(simwin::FileExists("C:\\WINDOWS\\SysWOW64\\both.exe"));
    EXPECT_FALSE(simwin::RedirectionOff());
}

TEST_F(ProcessScanTest, ServiceNameIsTheImageNameWithoutItsLastExtension) {
    RunVariant("C:\\x\\my.app.exe", simwin::Termination::Refuses);
    simwin::RegSetString(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services\\my.app", "ImagePath",
                         "\\??\\C:\\x\\my.app.exe");
    EXPECT_NE(ScanProcessesPsapi(), 0);
    ASSERT_FALSE(simwin::RegDeleteKeyCalls().empty());
    EXPECT_EQ(simwin::RegDeleteKeyCalls()[0], "SYSTEM\\ControlSet001\\Services\\my.app\\Enum");
}

/* A variant started as \\?\C:\dev\aux.exe: its image is read, ended and
   removed as the file it is, not as the device its name is elsewhere. */
TEST_P(ProcessScanFromXp, AnImageNamedAsADeviceIsEndedAndRemoved) {
    Renew(GetParam());
    const DWORD pid = RunVariant("\\\\?\\C:\\dev\\aux.exe");
    EXPECT_NE(ScanProcessesPsapi(), 0);
    EXPECT_FALSE(simwin::IsRunning(pid));
    EXPECT_FALSE(simwin::FileExists("\\\\?\\C:\\dev\\aux.exe"));
    EXPECT_EQ(lines_, Removed({"C:\\dev\\aux.exe"}));
}
INSTANTIATE_TEST_SUITE_P(Versions, ProcessScanFromXp, ::testing::Values(kXp, kWin10), ByName());

/* A variant run from a named stream of a file (C:\\x:evil.exe) has an
   identity, volume and index, that its file shares: nothing that ends a
   process or waits for the restart by identity could tell which of them it
   acts on. It is left, with its line, by the memory scan alone: neither the
   single-instance test's listing before it nor the disposal's after it say
   it again. A name is no stream where it names
   the file itself (x.exe::$DATA, x::$INDEX_ALLOCATION\\...), nor where it is the loader's record
   alone (2000, NT 4.0), which the process may write: there what it maps tells. */
TEST_P(ProcessScanPerNtVersion, AnImageInAStreamIsLeftWithItsLineOnce) {
    const std::string line = "C:\\x:evil.exe     Unable to check: it runs from a file's stream";
    Renew(GetParam());
    simwin::WriteFile("C:\\x", "a plain file");
    DWORD pid = RunVariant("C:\\x:evil.exe");
    FreeProcessList(ListProcessPsapi(pid)); // as the single-instance test lists it
    EXPECT_EQ(ScanProcessesPsapi(), 0);
    bool listed;
    FreeProcessList(ListProcessesPsapi(false, &listed)); // as the disposal lists them
    EXPECT_TRUE(simwin::IsRunning(pid));
    EXPECT_TRUE(simwin::FileExists("C:\\x:evil.exe"));
    EXPECT_EQ(lines_, std::vector<std::string>{line});
    const bool nt4 = GetParam() == kNt4Psapi.set, record = nt4 || GetParam() == kWin2000.set;
    for (const char* image : {"C:\\x\\evil.exe::$Data", "C:\\x::$INDEX_ALLOCATION\\evil.exe",
                              "C:\\x:$I30:$Index_Allocation\\evil.exe"}) {
        if (nt4) break;
        SCOPED_TRACE(image);
        Renew(GetParam());
        pid = RunVariant(image);
        EXPECT_NE(ScanProcessesPsapi(), 0);
        EXPECT_FALSE(simwin::IsRunning(pid));
        EXPECT_EQ(lines_, Removed({"C:\\x\\evil.exe"}));
    }
    if (!record) return;
    Renew(GetParam());
    // 2000 reads its mappings; NT 4.0 as modelled here resolves no
    // VirtualQueryEx, so nothing but the name tells, and it is left.
    PlantVariant("C:\\x\\evil.exe");
    pid = simwin::StartProcess(
        {"C:\\x\\evil.exe", {}, simwin::Termination::Ends, "C:\\x:y", kVariantGrants});
    EXPECT_EQ(ScanProcessesPsapi() != 0, !nt4);
    EXPECT_EQ(simwin::IsRunning(pid), nt4);
    EXPECT_EQ(simwin::FileExists("C:\\x\\evil.exe"), nt4);
    EXPECT_EQ(lines_, nt4 ? std::vector<std::string>{"C:\\x:y     Unable to check: it runs from "
                                                     "a file's stream"}
                          : Removed({"C:\\x\\evil.exe"}));
    // Nor is a record naming the stream's own file, which shares the
    // stream's identity; NT 4.0 as modelled reads no mappings and checks the
    // file it names.
    Renew(GetParam());
    simwin::WriteFile("C:\\x", "a plain file");
    PlantVariant("C:\\x:evil.exe");
    pid = simwin::StartProcess(
        {"C:\\x:evil.exe", {}, simwin::Termination::Ends, "C:\\x", kVariantGrants});
    EXPECT_EQ(ScanProcessesPsapi(), 0);
    EXPECT_TRUE(simwin::IsRunning(pid));
    EXPECT_EQ(lines_, nt4 ? std::vector<std::string>{} : std::vector<std::string>{line});
}
INSTANTIATE_TEST_SUITE_P(Versions, ProcessScanPerNtVersion,
                         ::testing::Values(kNt4Psapi, kWin2000, kXp, kWin10), ByName());

TEST_F(ProcessScanTest, ReportOnlyLeavesTheProcessRunning) {
    g_scan.action = ACTION_REPORT_ONLY;
    DWORD pid = RunVariant("C:\\evil\\abc.exe");
    EXPECT_NE(ScanProcessesPsapi(), 0);
    EXPECT_TRUE(simwin::IsRunning(pid));
    EXPECT_TRUE(simwin::FileExists("C:\\evil\\abc.exe"));
    EXPECT_EQ(simwin::CallCount("TerminateProcess"), 0);
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(g_scan.filesInfected, 1);
    EXPECT_EQ(statuses_, std::vector<std::string>{"C:\\evil\\abc.exe"});
}

/* smss and csrss report \SystemRoot\ and \??\ paths: they name files in the
   Windows folder and the path wrapped, not files on the current drive, where
   anyone may plant a variant as C:\SystemRoot\System32\smss.exe. A record
   that is no drive path gives way to the file the process maps (rooted.exe).
   On 2000 (the loader's record); a long path by its 8.3 form; from XP the
   kernel's name. Each names a file renamed since the start, or another file,
   only where no mapped program file is that file. */
TEST_F(ProcessScanTest, ImagePathsAreReadAsDrivePathsOnly) {
    simwin::SetWindows2000();
    simwin::StartSystemProcesses();
    simwin::WriteFile("C:\\WINDOWS\\system32\\smss.exe", "MZ");
    PlantVariant("C:\\SystemRoot\\System32\\smss.exe");
    simwin::WriteFile("C:\\Tools\\clean.exe", "MZ not a variant");
    simwin::StartProcess({"C:\\Tools\\clean.exe"});
    DWORD hidden = simwin::StartProcess(
        {"C:\\evil\\hidden.exe", {}, simwin::Termination::Ends, "\\??\\C:\\evil\\hidden.exe"});
    PlantVariant("C:\\evil\\hidden.exe");
    PlantVariant("C:\\evil\\rooted.exe");
    DWORD rooted = simwin::StartProcess(
        {"C:\\evil\\rooted.exe", {}, simwin::Termination::Ends, "\\evil\\rooted.exe"});
    PlantVariant("C:\\evil\\long.exe"); // started as "\\?\C:\evil\long.exe"
    DWORD long_ = simwin::StartProcess(
        {"C:\\evil\\long.exe", {}, simwin::Termination::Ends, "\\\\?\\C:\\evil\\long.exe"});

    // A name the ANSI functions give by its best fit (a fullwidth "e").
    PlantVariant("C:\\evil\\\xEF\xBD\x85vil.exe");
    DWORD fit = simwin::StartProcess(
        {"C:\\evil\\\xEF\xBD\x85vil.exe", {}, simwin::Termination::Ends, "C:\\evil\\evil.exe"});

    // A longer path than 259 characters, cut to them, names another file.
    const std::string cutTo = "C:\\Apps\\" + std::string(251, 'd');
    PlantVariant(cutTo);
    DWORD deep = simwin::StartProcess({cutTo + "\\app.exe"});
    const std::string longer = "C:\\Apps\\" + std::string(245, 'e') + "\\variant.exe";
    DWORD longVariant = RunVariant(longer);

    EXPECT_NE(ScanProcessesPsapi(), 0);
    EXPECT_TRUE(simwin::IsRunning(368)); // smss.exe
    EXPECT_TRUE(simwin::IsRunning(deep));
    EXPECT_FALSE(simwin::IsRunning(hidden));
    EXPECT_FALSE(simwin::IsRunning(rooted));
    EXPECT_FALSE(simwin::IsRunning(long_));
    EXPECT_FALSE(simwin::IsRunning(fit));
    EXPECT_FALSE(simwin::IsRunning(longVariant));
    EXPECT_EQ(lines_, Removed({"C:\\evil\\hidden.exe", "C:\\evil\\rooted.exe", "C:\\evil\\long.exe",
                               "C:\\evil\\EVIL~1.EXE", "C:\\Apps\\EEEEEE~1\\variant.exe"}));
    EXPECT_FALSE(simwin::FileExists(longer));
    EXPECT_EQ(statuses_.front(), "C:\\WINDOWS\\system32\\smss.exe"); // shown, not counted
    EXPECT_EQ(g_scan.filesScanned, 0);
    EXPECT_EQ(g_scan.filesInfected, 5);
    // System and the guarded processes were refused at first: the privilege
    // was enabled for them.
    EXPECT_TRUE(simwin::PrivilegeEnabled(SE_DEBUG_NAME));
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

/* 2000 without 8.3 names: a best-fit ANSI name reaches no file the process maps. */
const WindowsVersion kNo83{"Win2000No83", [] {
                               simwin::SetWindows2000();
                               simwin::SetShortNames(false);
                           }};

/* A name stands only where a program file the process maps is that file. */
TEST_P(ImagePathPerVersion, ANameStandsWhereAMappedProgramIsItsFile) {
    Renew(GetParam());
    const bool no83 = GetParam() == kNo83.set, w2000 = GetParam() == kWin2000.set || no83;
    MapDrive('M');
    simwin::WriteFile("C:\\WINDOWS\\explorer.exe", "MZ");
    simwin::StartProcess({"C:\\WINDOWS\\explorer.exe"});
    PlantVariant("M:\\posing.exe");
    DWORD posing = simwin::StartProcess(
        {"M:\\posing.exe", {}, simwin::Termination::Ends, "C:\\WINDOWS\\explorer.exe"});
    // Every process maps kernel32.dll: a library is no process's image.
    std::vector<uint8_t> library = Specimen(45);
    library[library[0x3C] + 4 + 18 + 1] |= 0x20; // IMAGE_FILE_DLL
    simwin::WriteFile("C:\\WINDOWS\\system32\\kernel32.dll", library);
    DWORD moved = RunVariant("C:\\evil\\start.exe");
    ASSERT_TRUE(MoveFileA("C:\\evil\\start.exe", "C:\\evil\\moved.exe"));
    simwin::WriteFile("C:\\evil\\start.exe", "MZ not a variant");
    // Both images are named "C:\...\evil.exe" in ANSI (a fullwidth "e",
    // by its best fit: Microsoft's WideCharToMultiByte page, without
    // WC_NO_BEST_FIT_CHARS) beside a real evil.exe: the file each maps,
    // by the Unicode name of Microsoft's GetMappedFileNameW page, decides.
    const std::string fullwidth = "\xEF\xBD\x85vil.exe";
    PlantVariant("C:\\x\\" + fullwidth);
    simwin::WriteFile("C:\\x\\evil.exe", "MZ not a variant");
    DWORD fit = simwin::StartProcess({"C:\\x\\" + fullwidth});
    simwin::WriteFile("C:\\y\\" + fullwidth, "MZ not a variant");
    PlantVariant("C:\\y\\evil.exe");
    DWORD clean = simwin::StartProcess({"C:\\y\\" + fullwidth});
    // Renamed since its start, a viewer maps a variant for its icon alone
    // (LoadLibraryEx's LOAD_LIBRARY_AS_IMAGE_RESOURCE: an image mapping too).
    simwin::WriteFile("C:\\apps\\viewer.exe", "MZ not a variant");
    PlantVariant("C:\\evil\\icon.exe");
    DWORD viewer = simwin::StartProcess({"C:\\apps\\viewer.exe",
                                         {},
                                         simwin::Termination::Ends,
                                         "",
                                         PROCESS_ALL_ACCESS,
                                         {"C:\\evil\\icon.exe"}});
    ASSERT_TRUE(MoveFileA("C:\\apps\\viewer.exe", "C:\\apps\\viewer2.exe"));
    // So does another account's browser on a share no letter of this
    // session names: its own image cannot be opened, only the icon's.
    MapDrive('N', DRIVE_REMOTE);
    simwin::WriteFile("N:\\tools\\browser.exe", "MZ not a variant");
    DWORD browser = simwin::StartProcess({"N:\\tools\\browser.exe",
                                          {},
                                          simwin::Termination::Ends,
                                          "",
                                          PROCESS_ALL_ACCESS,
                                          {"C:\\evil\\icon.exe"}});
    simwin::SetDosDevice('N', "\\Device\\LanmanRedirector\\;N:0000\\other\\share");
    // A variant named with a fullwidth "e" that maps a program for its
    // icon: from XP on the kernel's Unicode name (Microsoft's
    // QueryFullProcessImageNameW and GetProcessImageFileNameW pages) opens
    // the file its image mapping is; 2000 has no such name.
    PlantVariant("C:\\z\\" + fullwidth);
    DWORD wide = simwin::StartProcess({"C:\\z\\" + fullwidth,
                                       {},
                                       simwin::Termination::Ends,
                                       "",
                                       PROCESS_ALL_ACCESS,
                                       {"C:\\x\\evil.exe"}});
    // Listed, a program's running image steps aside for a link to a
    // variant before its check (its folder cannot move while it runs):
    // the file checked is not the image it maps.
    simwin::WriteFile("C:\\u\\a.exe", "MZ not a variant");
    PlantVariant("C:\\v\\a.exe");
    DWORD swapped = simwin::StartProcess({"C:\\u\\a.exe"});
    simwin::OnCall("_access", [] {
        if (simwin::CallCount("_access") != 1) return;
        ASSERT_TRUE(MoveFileA("C:\\u\\a.exe", "C:\\u\\a-aside.exe"));
        std::filesystem::create_hard_link(simwin::HostPath("C:\\v\\a.exe"),
                                          simwin::HostPath("C:\\u\\a.exe"));
    });
    // Known by identity alone (no short form fits): moved once at its check's first look,
    // another file left in its place; so moved at each look; held without sharing.
    const std::string deep = FolderChain(FolderChain("C:", 'a', 'z', 8), 'a', 'f', 8);
    PlantVariant(deep + "\\held.exe");
    const DWORD ren = RunVariant(deep + "\\r.exe"), swap = RunVariant(deep + "\\s.exe"),
                held = simwin::StartProcess({deep + "\\held.exe", {deep + "\\held.exe"}});
    simwin::OnCall("CreateFileA", [&] {
        const std::string at = simwin::CallAbout();
        if (statuses_.empty() || (at != deep + "\\r.exe" && at.rfind(deep + "\\s", 0))) return;
        ASSERT_TRUE(MoveFileA(at.c_str(), (at + "x").c_str()));
        simwin::WriteFile(at, "MZ another file");
    });
    EXPECT_NE(ScanProcessesPsapi(), 0);
    EXPECT_TRUE(simwin::IsRunning(held) && simwin::IsRunning(swap) && !simwin::IsRunning(ren));
    EXPECT_EQ(simwin::IsRunning(wide), w2000);
    EXPECT_TRUE(simwin::IsRunning(swapped));
    EXPECT_FALSE(simwin::IsRunning(posing));
    EXPECT_FALSE(simwin::IsRunning(moved));
    EXPECT_EQ(simwin::IsRunning(fit), no83);
    EXPECT_TRUE(simwin::IsRunning(clean));
    EXPECT_EQ(std::count(statuses_.begin(), statuses_.end(), "C:\\y\\evil.exe"), 0);
    EXPECT_TRUE(simwin::IsRunning(viewer));
    EXPECT_TRUE(simwin::IsRunning(browser));
    char renamed[260], shown[260]; // 2000 names no image by the kernel: held is not listed
    ShortenPath((deep + "\\r.exex").c_str(), renamed, 259);
    ShortenPath((deep + "\\held.exe").c_str(), shown, 259);
    std::vector<std::string> paths = {"M:\\posing.exe", "C:\\evil\\moved.exe"};
    if (!no83) paths.push_back("C:\\x\\EVIL~1.EXE");
    if (!w2000) paths.push_back("C:\\z\\EVIL~1.EXE");
    paths.push_back(renamed);
    std::vector<std::string> removed = Removed(paths);
    if (!w2000) removed.push_back(shown + std::string("     Unable to check"));
    EXPECT_EQ(lines_, removed);
    EXPECT_EQ(std::count(statuses_.begin(), statuses_.end(), "C:\\WINDOWS\\system32\\kernel32.dll"),
              0);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}
/* Another program's batch oplock on a long-path image, or on the program a
   process whose record names another maps, holds up no open of the scan. */
TEST_P(ImagePathPerVersion, NoOpenWaitsOnAnOplock) {
    Renew(GetParam());
    simwin::SetShortNames(false);
    const std::string longer = "C:\\Users\\bob\\" + std::string(245, 'e') + "\\variant.exe";
    const DWORD pid = RunVariant(longer);
    simwin::WriteFile("C:\\Users\\bob\\lib.exe", "MZ not a variant");
    simwin::StartProcess(
        {"C:\\Users\\bob\\lib.exe", {}, simwin::Termination::Ends, "C:\\WINDOWS\\explorer.exe"});
    ASSERT_TRUE(simwin::HoldOplock(longer, simwin::Oplock::Batch));
    ASSERT_TRUE(simwin::HoldOplock("C:\\Users\\bob\\lib.exe", simwin::Oplock::Batch));
    ScanProcessesPsapi();
    EXPECT_EQ(simwin::OplockWaits(), 0);
    EXPECT_TRUE(simwin::IsRunning(pid));
    EXPECT_TRUE(simwin::FileExists(longer));
}
INSTANTIATE_TEST_SUITE_P(Versions, ImagePathPerVersion,
                         ::testing::Values(kWin2000, kXp, kWin10, kNo83), ByName());

TEST_F(ProcessScanTest, EveryRefusedOpenAsksForTheDebugPrivilegeAgain) {
    simwin::StartSystemProcesses();
    RunVariant("C:\\evil\\guarded.exe", simwin::Termination::NeedsDebugPrivilege);
    simwin::FailCall("OpenProcessToken", ERROR_ACCESS_DENIED, -1);
    EXPECT_EQ(ScanProcessesPsapi(), 0); // the guarded variant cannot be reached
    // System, csrss, winlogon and the variant: four refusals, four boxes.
    ASSERT_EQ(simwin::Questions().size(), 4u);
    for (const auto& q : simwin::Questions()) {
        EXPECT_EQ(q.kind, "MessageBoxA");
        EXPECT_EQ(q.text, "false");
        EXPECT_EQ(q.title, "TEMP");
        EXPECT_EQ(q.style, (UINT)MB_OK);
    }
    EXPECT_EQ(simwin::CallCount("LookupPrivilegeValueA"), 4);
    EXPECT_EQ(simwin::CallCount("AdjustTokenPrivileges"), 4);
    EXPECT_FALSE(simwin::PrivilegeEnabled(SE_DEBUG_NAME));
}

TEST_F(ProcessScanTest, Windows9xTerminatesAndDisposesInSnapshotOrder) {
    simwin::SetWindows98();
    simwin::StartSystemProcesses();
    simwin::WriteFile("C:\\WINDOWS\\clean.exe", "MZ");
    simwin::StartProcess({"C:\\WINDOWS\\clean.exe"});
    DWORD first = RunVariant("C:\\WINDOWS\\first.exe");
    DWORD second = RunVariant("C:\\WINDOWS\\second.exe", simwin::Termination::Refuses);
    EXPECT_NE(ScanProcessesToolhelp(), 0);
    EXPECT_FALSE(simwin::IsRunning(first));
    EXPECT_TRUE(simwin::IsRunning(second));
    // The second cannot be terminated: its re-check finds the file held and
    // leaves it for the restart (KillProcessByImage tries once more).
    std::vector<std::string> want = Removed({"C:\\WINDOWS\\first.exe"});
    want.insert(want.end(),
                {kMemoryLine, "C:\\WINDOWS\\second.exe     W32/Phantaxis.Trojan Unable to remove"});
    EXPECT_EQ(lines_, want);
    EXPECT_FALSE(simwin::FileExists("C:\\WINDOWS\\first.exe"));
    EXPECT_TRUE(simwin::FileExists("C:\\WINDOWS\\second.exe"));
    EXPECT_EQ(g_scan.filesInfected, 2);
    EXPECT_EQ(g_scan.memoryRestartNeeded, 0); // no services on Windows 9x
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

/* Without a process list, or any one function that reads it, nothing is
   checked, not even a variant listed first. */
TEST_F(ProcessScanTest, MissingListsFindNothing) {
    const auto absent = [](const char* dll, const char* fn) {
        return [dll, fn] { simwin::SetExportPresent(dll, fn, false); };
    };
    const auto nt = ScanProcessesPsapi;
    const auto tool = [] {
        simwin::SetWindows98();
        simwin::SetCurrentProcessId(5000);
        return ScanProcessesToolhelp();
    };
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::function<int32_t()> scan;
    } cases[] = {
        {"no psapi.dll", [] { simwin::SetLibraryPresent("psapi.dll", false); }, nt},
        {"no EnumProcesses", absent("psapi", "EnumProcesses"), nt},
        {"no GetModuleFileNameExA (2000)",
         [] {
             simwin::SetWindows2000();
             simwin::SetExportPresent("psapi", "GetModuleFileNameExA", false);
         },
         nt},
        {"NT 4.0 without psapi.dll", simwin::SetWindowsNt4, nt},
        {"EnumProcesses fails", [] { simwin::FailCall("EnumProcesses", ERROR_ACCESS_DENIED); }, nt},
        {"no tool help on NT", absent("kernel32", "CreateToolhelp32Snapshot"),
         ScanProcessesToolhelp},
        {"no snapshot",
         [] { simwin::FailCall("CreateToolhelp32Snapshot", ERROR_NOT_ENOUGH_MEMORY); },
         ScanProcessesToolhelp},
        {"no first entry", [] { simwin::FailCall("Process32First", ERROR_NO_MORE_FILES); },
         ScanProcessesToolhelp},
        {"no CreateToolhelp32Snapshot", absent("kernel32", "CreateToolhelp32Snapshot"), tool},
        {"no Process32First", absent("kernel32", "Process32First"), tool},
        {"no Process32Next", absent("kernel32", "Process32Next"), tool},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Renew();
        DWORD pid = RunVariant("C:\\evil\\abc.exe");
        c.arrange();
        EXPECT_EQ(c.scan(), 0);
        EXPECT_TRUE(statuses_.empty());
        EXPECT_TRUE(simwin::IsRunning(pid));
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    }
}

TEST_F(ProcessScanTest, AtMost1024ProcessesAreExamined) {
    for (int i = 0; i < 1023; i++) // with the program itself: 1024
        simwin::StartProcess({"C:\\p\\" + std::to_string(i) + ".exe"});
    DWORD late = RunVariant("C:\\evil\\late.exe");
    EXPECT_EQ(ScanProcessesPsapi(), 0);
    EXPECT_TRUE(simwin::IsRunning(late));
    EXPECT_EQ(simwin::CallCount("GetProcessImageFileNameA"), 1024);
}

TEST_F(ProcessScanTest, AStopDuringTheScanEndsTheChecks) {
    DWORD first = RunVariant("C:\\evil\\first.exe");
    DWORD second = RunVariant("C:\\evil\\second.exe");
    // The user presses Escape while the first image is being disposed of.
    // (On XP the image is deleted through its handle.)
    simwin::OnCall("NtSetInformationFile", [] {
        if (simwin::CallCount("NtSetInformationFile") == 1)
            simwin::PostTestMessage(g_scan.mainWindow, WM_KEYDOWN, VK_ESCAPE);
    });
    simwin::ScriptAnswers({IDYES});
    EXPECT_NE(ScanProcessesPsapi(), 0);
    EXPECT_TRUE(g_scan.stopRequested);
    EXPECT_FALSE(simwin::IsRunning(first));
    EXPECT_FALSE(simwin::FileExists("C:\\evil\\first.exe"));
    EXPECT_TRUE(simwin::IsRunning(second));
    EXPECT_TRUE(simwin::FileExists("C:\\evil\\second.exe"));
    for (const auto& s : statuses_)
        EXPECT_NE(s, "C:\\evil\\second.exe");
    EXPECT_EQ(g_scan.filesInfected, 1);
}

/* The variant exits after it was listed and Windows may give its identifier
   to a new program: that program is never terminated, by the scans or by
   the termination by image. Where the terminate right comes only after the
   listing, a new handle is used only when it reaches the process listed. */
TEST_F(ProcessScanTest, TerminationReachesOnlyTheProcessListed) {
    const char* path = "C:\\WINDOWS\\abc.exe";
    struct Row {
        WindowsVersion version;
        const char* exitBefore; // the call before which the variant exits
        std::function<int32_t()> run;
        bool fat = false; // instead, the vendor's image moves and a variant takes its FAT entry
    } rows[] = {
        {kWin98, "OpenProcess", ScanProcessesToolhelp},
        {kXp, "_access", ScanProcessesPsapi},
        {kXp, "_access", ScanProcessesPsapi, true},
        {kWin98, "OpenProcess", [&] { return KillProcessByImage(path); }},
        {kNt4Psapi, "TerminateProcess", [&] { return KillProcessByImage(path); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.exitBefore);
        Renew(r.version);
        simwin::ServeProcessPerformanceData();
        if (r.fat)
            MapDrive('D'), simwin::SetFatVolume('D'), simwin::WriteFile("D:\\App\\s.exe", "MZ");
        DWORD pid = r.fat ? simwin::StartProcess({"D:\\App\\s.exe"}) : RunVariant(path), other = 0;
        simwin::OnCall(r.exitBefore, [&] {
            if (r.fat && !other) {
                ASSERT_TRUE(MoveFileA("D:\\App\\s.exe", "D:\\s.exe"));
                PlantVariant("D:\\App\\s.exe");
                other = pid;
            }
            if (other) return;
            simwin::EndProcess(pid);
            const simwin::ProcessSpec notepad = {"C:\\WINDOWS\\notepad.exe"};
            other = simwin::ReuseIdentifier(pid, notepad);
            if (!other) other = simwin::StartProcess(notepad);
        });
        r.run();
        EXPECT_TRUE(simwin::IsRunning(other));
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
        // The variant in the FAT entry runs nowhere ended: the run offers the restart.
        EXPECT_EQ(g_scan.restartNeeded && g_scan.restartOtherwise, r.fat);
    }
    // Without creation times only a handle kept from the listing may end it.
    const struct {
        DWORD grants;
        bool times, ends;
    } later[] = {{kVariantGrants & ~PROCESS_TERMINATE, true, true},
                 {kVariantGrants & ~PROCESS_TERMINATE, false, false},
                 {kVariantGrants, false, true}};
    for (const auto& c : later) {
        Renew();
        PlantVariant(path);
        DWORD pid = simwin::StartProcess({path, {}, simwin::Termination::Ends, "", c.grants});
        simwin::OnCall("_access", [] { EnableDebugPrivilege(); });
        if (!c.times) simwin::FailCall("GetProcessTimes", ERROR_ACCESS_DENIED, -1);
        EXPECT_NE(ScanProcessesPsapi(), 0);
        EXPECT_EQ(simwin::IsRunning(pid), !c.ends);
    }
}
