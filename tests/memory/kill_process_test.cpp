/*
** Termination by image file: which processes each platform's method
** terminates, the "Could not kill process" box, and the pauses on the
** virtual clock.
*/
#include "memory/kill_process.h"
#include "world.h"

#include <filesystem>
#include <functional>
#include <numeric>

namespace {

class KillProcessTest : public WorldTest {
  protected:
    /* A process of another account that lets this program open it with
       `grants` only (on NT), its image a file as every running image is. */
    static DWORD Run(const std::string& image, simwin::Termination t = simwin::Termination::Ends,
                     DWORD grants = PROCESS_ALL_ACCESS, const std::string& record = "") {
        if (!simwin::FileExists(image)) simwin::WriteFile(image, "MZ " + image); // its own file
        return simwin::StartProcess({image, {}, t, record, grants});
    }
    /* The box of a failed termination, as the only question asked. */
    static void ExpectBox(const std::string& path) {
        ASSERT_EQ(simwin::Questions().size(), 1u);
        const simwin::Question& q = simwin::Questions()[0];
        EXPECT_EQ(q.kind, "MessageBoxA");
        EXPECT_EQ(q.text, "Could not kill process");
        EXPECT_EQ(q.title, path);
        EXPECT_EQ(q.style, (UINT)MB_OK);
    }
    static void Nt4Psapi() { // a program installed psapi.dll
        simwin::SetWindowsNt4();
        simwin::SetLibraryPresent("psapi.dll", true);
    }
};

} // namespace

/* What one termination does on each family: the result, which processes
   still run, the pauses on the virtual clock and the box. NT 4.0 reads an
   image path only where psapi.dll is installed; a name is no proof. */
TEST_F(KillProcessTest, EachFamilyTerminatesByItsOwnMethod) {
    std::vector<std::string> thirty; // with the program itself: 30 processes
    for (int i = 0; i < 29; i++)
        thirty.push_back("C:\\p\\" + std::to_string(i) + ".exe");
    const char *setup = "C:\\two\\setup.exe", *stuck = "C:\\x\\stuck.exe";
    const std::vector<std::string> setups = {"C:\\one\\setup.exe", "C:\\two\\SETUP.EXE", setup};
    const std::vector<std::string> nt4 = {"C:\\x\\abcdefghijklmnopq.exe",
                                          "C:\\x\\abcdefghijklmnop.exe"};
    const auto Ends = simwin::Termination::Ends, Refuses = simwin::Termination::Refuses;
    void (*const win32s)() = [] { simwin::SetVersion(VER_PLATFORM_WIN32s, 3, 10); };
    void (*const unread)() = [] { simwin::FailCall("GetVersionExA", ERROR_INVALID_PARAMETER, -1); };
    const auto W98 = simwin::SetWindows98, Nt4 = simwin::SetWindowsNt4;
    struct Row {
        WindowsVersion version;
        std::vector<std::string> images;
        simwin::Termination t;
        const char* kill;
        int32_t result;
        std::string running; // per image, '1' when it still runs after the attempt
        std::vector<DWORD> sleeps;
    } rows[] = {
        // Other platforms answer success at once, and so does a version that cannot be read.
        {win32s, {"C:\\x\\a.exe"}, Ends, "C:\\x\\a.exe", 1, "1", {}},
        {unread, {"C:\\x\\a.exe"}, Ends, "C:\\x\\a.exe", 1, "1", {}},
        // 9x: only the first process of that file, never another file of that name.
        // Load, snapshot, the program's own entry and the other file, the match.
        {W98, setups, Ends, setup, 1, "101", {100, 100, 100, 100, 100, 100, 50, 500}},
        // A search without a match takes about six seconds: 200 + 30 x 200.
        {W98, thirty, Ends, "C:\\x\\evil.exe", 0, std::string(29, '1'),
         std::vector<DWORD>(62, 100)},
        // A match that cannot be terminated is a failure too, after its pauses.
        {W98, {stuck}, Refuses, stuck, 0, "1", {100, 100, 100, 100, 50, 500}},
        // NT 4.0 without psapi.dll terminates nothing, and shows no box.
        {Nt4, nt4, Ends, "C:\\x\\abcdefghijklmnop.exe", 0, "11", {}},
        {Nt4Psapi, nt4, Ends, "C:\\x\\abcdefghijklmnopq.exe", 1, "01", {500}}, // any length
        {Nt4Psapi, nt4, Ends, "C:\\x\\abcdefghijklmnop", 1, "11", {}}, // no name's beginning
        {Nt4Psapi, nt4, Ends, "C:\\CleanPhantaxis\\CleanPhantaxis.exe", 1, "11", {}}, // itself
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.kill) + " " + std::to_string(&r - rows));
        Renew(r.version);
        simwin::ServeProcessPerformanceData();
        std::vector<DWORD> pids;
        for (const std::string& image : r.images)
            pids.push_back(Run(image, r.t));
        EXPECT_EQ(KillProcessByImage(r.kill), r.result);
        for (size_t i = 0; i < pids.size(); i++) {
            EXPECT_EQ(simwin::IsRunning(pids[i]), r.running[i] == '1') << r.images[i];
            EXPECT_EQ(simwin::ExitCodeOf(pids[i]), r.running[i] == '1' ? STILL_ACTIVE : 0u);
        }
        EXPECT_EQ(simwin::Sleeps(), r.sleeps);
        EXPECT_EQ(simwin::Now(), std::accumulate(r.sleeps.begin(), r.sleeps.end(), 0u));
        if (r.result || r.version == Nt4)
            EXPECT_TRUE(simwin::Questions().empty());
        else
            ExpectBox(r.kill);
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
        if (r.images.size() == 1 && r.result) {
            EXPECT_EQ(simwin::CallCount("LoadLibraryA") + simwin::CallCount("RegOpenKeyExA"), 0);
        }
    }

    // Without any one of the three tool-help functions nothing is terminated,
    // not even a match listed first.
    Renew(simwin::SetWindows98);
    simwin::SetCurrentProcessId(5000);
    DWORD first = Run("C:\\two\\setup.exe");
    for (const char* fn : {"CreateToolhelp32Snapshot", "Process32First", "Process32Next"}) {
        SCOPED_TRACE(fn);
        simwin::SetExportPresent("kernel32", fn, false);
        EXPECT_EQ(KillByFileNameToolhelp("C:\\two\\setup.exe"), 0);
        EXPECT_TRUE(simwin::IsRunning(first));
        simwin::SetExportPresent("kernel32", fn, true);
    }
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

/* A variant in another folder named like one of Windows' own programs, or
   with a prefix of a running program's name: only the process running the
   file ends. NT 4.0 ends nothing by name (Word, a database, the RPC
   service), with psapi.dll only the file's process. From XP on the kernel
   names the image, not the loader's record (`record`) that the variant may
   rewrite (Windows' shell) or that names its user's own drive letter (S:).
   A volume the user brings (E:) may claim the serial and index of any
   file: only one drive letter proves one volume. In the pause after the
   variant ends, its folder may come to lead to the other program's. */
TEST_F(KillProcessTest, OnlyTheProcessRunningTheFileEnds) {
    struct Row {
        WindowsVersion version;
        const char* variant;
        const char* real;
        bool variantEnds;
        const char* record = "";
        // 1: the variant's folder, 2: the other's image file, in the pause;
        // 3: the other's image file while it is listed; 4: the other's
        // folder for a junction to the variant's, before the termination;
        // 5: on FAT, whose index (a folder entry's) a later file may take
        int swapInPause = 0;
    } rows[] = {
        {simwin::SetWindows98, "C:\\TEMP\\EXPLORER.EXE", "C:\\WINDOWS\\EXPLORER.EXE", true},
        {simwin::SetWindows98, "C:\\TEMP\\MSGSRV32.EXE", "C:\\WINDOWS\\SYSTEM\\MSGSRV32.EXE", true},
        {simwin::SetWindowsNt4, "C:\\TEMP\\WINWORD.EXE", "C:\\Office\\WINWORD.EXE", false},
        {simwin::SetWindowsNt4, "C:\\TEMP\\rpcss.exe", "C:\\WINNT\\system32\\rpcss.exe", false},
        {Nt4Psapi, "C:\\TEMP\\sqlservr.exe", "C:\\MSSQL7\\Binn\\sqlservr.exe", true},
        {Nt4Psapi, "C:\\TEMP\\Explorer.exe", "C:\\WINNT\\explorer.exe", true},
        {simwin::SetWindowsXp, "C:\\TEMP\\svchost.exe", "C:\\WINDOWS\\system32\\svchost.exe", true},
        {simwin::SetWindowsXp, "C:\\TEMP\\v.exe", "C:\\WINDOWS\\explorer.exe", true,
         "C:\\WINDOWS\\explorer.exe"},
        {simwin::SetWindowsXp, "C:\\TEMP\\v.exe", "C:\\WINDOWS\\notepad.exe", true, "S:\\v.exe"},
        {simwin::SetWindows10, "C:\\TEMP\\csrss.exe", "C:\\Windows\\System32\\csrss.exe", true},
        {simwin::SetWindows10, "C:\\TEMP\\s.exe", "C:\\Windows\\System32\\smss.exe", true},
        {simwin::SetWindows10, "C:\\TEMP\\v.exe", "C:\\Windows\\explorer.exe", true,
         "C:\\Windows\\explorer.exe"},
        {simwin::SetWindowsXp, "E:\\v.exe", "C:\\Office\\WINWORD.EXE", true},
        {simwin::SetWindowsXp, "D:\\v.exe", "C:\\Office\\WINWORD.EXE", false, "", 5},
        {simwin::SetWindows10, "C:\\TEMP\\svchost.exe", "C:\\Windows\\System32\\svchost.exe", true,
         "", 1},
        {simwin::SetWindowsXp, "C:\\TEMP\\agent.exe", "C:\\Tool\\agent.exe", true, "", 2},
        {simwin::SetWindows10, "C:\\TEMP\\agent.exe", "C:\\Tool\\agent.exe", true, "", 2},
        {simwin::SetWindows10, "C:\\TEMP\\agent.exe", "C:\\Tool\\agent.exe", true, "", 3},
        {simwin::SetWindowsXp, "C:\\TEMP\\agent.exe", "C:\\Tool\\agent.exe", true, "", 4},
        {simwin::SetWindows10, "C:\\TEMP\\agent.exe", "C:\\Tool\\agent.exe", true, "", 4},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.variant) + " swap " + std::to_string(r.swapInPause));
        Renew(r.version);
        simwin::ServeProcessPerformanceData();
        if (r.swapInPause == 5) MapDrive('D'), simwin::SetFatVolume('D');
        if (r.variant[0] == 'E') { // one host file: one serial and index on both drives
            MapDrive('E');
            simwin::WriteFile(r.real, "MZ");
            std::filesystem::create_hard_link(simwin::HostPath(r.real),
                                              simwin::HostPath(r.variant));
        }
        DWORD variant = 0; // listed before the other program when its folder is swapped
        // Once its path is read, and before the identity of the file it names
        // is: the listing keeps only the file the process maps.
        if (r.swapInPause == 3)
            simwin::OnCall("FindFirstFileA", [&r] {
                if (_stricmp(simwin::CallAbout().c_str(), r.real) != 0 ||
                    simwin::FileExists(std::string(r.real) + ".old"))
                    return;
                ASSERT_TRUE(MoveFileA(r.real, (std::string(r.real) + ".old").c_str()));
                std::filesystem::create_hard_link(simwin::HostPath(r.variant),
                                                  simwin::HostPath(r.real));
            });
        // A folder with a running image below stays where it is.
        if (r.swapInPause == 4)
            simwin::OnCall("TerminateProcess", [&r] {
                if (simwin::CallCount("TerminateProcess") != 1) return;
                const std::string folder = std::string(r.real).substr(0, 7);
                const bool moved = MoveFileA(folder.c_str(), (folder + "-aside").c_str());
                EXPECT_FALSE(moved);
                if (moved) simwin::MakeDirLink(folder, "C:\\TEMP");
            });
        if (r.swapInPause == 1 || r.swapInPause == 2) {
            variant = Run(r.variant);
            simwin::OnCall("Sleep", [&r] {
                if (simwin::CallCount("Sleep") != 1) return;
                if (r.swapInPause == 1) {
                    ASSERT_TRUE(MoveFileA("C:\\TEMP", "C:\\TEMP-aside"));
                    simwin::MakeDirLink("C:\\TEMP", "C:\\Windows\\System32");
                    return;
                } // a running image shares deleting: it may be renamed
                ASSERT_TRUE(MoveFileA(r.real, (std::string(r.real) + ".old").c_str()));
                std::filesystem::create_hard_link(simwin::HostPath(r.variant),
                                                  simwin::HostPath(r.real));
            });
        }
        DWORD real = Run(r.real);
        if (!variant)
            variant = Run(r.variant, simwin::Termination::Ends, PROCESS_ALL_ACCESS, r.record);
        EXPECT_EQ(KillProcessByImage(r.variant), r.variantEnds || r.swapInPause == 5 ? 1 : 0);
        EXPECT_TRUE(simwin::IsRunning(real));
        EXPECT_EQ(simwin::IsRunning(variant), !r.variantEnds);
        EXPECT_EQ(simwin::Questions().size(), 0u); // NT 4.0 without psapi.dll shows none
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    }
}

TEST_F(KillProcessTest, XpAndLaterCompareTheFileInAnyCaseOrForm) {
    simwin::WriteFile("C:\\Program Files\\Evil\\evil.exe", "MZ");
    // It holds its image without sharing: compared by its short form, unopened.
    DWORD pid = simwin::StartProcess(
        {"C:\\Program Files\\Evil\\evil.exe", {"C:\\Program Files\\Evil\\evil.exe"}});
    EXPECT_EQ(KillProcessByImage("C:\\Program Files\\Evil\\other.exe"), 1); // nothing matched
    EXPECT_TRUE(simwin::IsRunning(pid));
    EXPECT_EQ(KillProcessByImage("C:\\PROGRA~1\\Evil\\evil.exe"), 1); // the short form
    EXPECT_FALSE(simwin::IsRunning(pid));
    pid = Run("C:\\Program Files\\Evil\\evil.exe", simwin::Termination::Ends, kVariantGrants);
    EXPECT_EQ(KillProcessByImage("c:\\PROGRAM FILES\\evil\\EVIL.EXE"), 1);
    EXPECT_FALSE(simwin::IsRunning(pid));
    // Started through a hard link: its image is the file, by another name.
    simwin::MakeDir("C:\\TEMP");
    std::filesystem::create_hard_link(simwin::HostPath("C:\\Program Files\\Evil\\evil.exe"),
                                      simwin::HostPath("C:\\TEMP\\link.exe"));
    pid = Run("C:\\TEMP\\link.exe", simwin::Termination::Ends, kVariantGrants);
    EXPECT_EQ(KillProcessByImage("C:\\Program Files\\Evil\\evil.exe"), 1);
    EXPECT_FALSE(simwin::IsRunning(pid));
    // Such a link over 259 characters with no 8.3 form: by the identity its
    // "\\?\" name opens, while another program beside it that maps the file
    // for its icon alone keeps running.
    simwin::SetShortNames(false);
    const std::string deep = "C:\\" + std::string(250, 'd') + "\\";
    simwin::MakeDir(deep);
    std::filesystem::create_hard_link(simwin::HostPath("C:\\Program Files\\Evil\\evil.exe"),
                                      simwin::HostPath(deep + "link.exe"));
    pid = Run(deep + "link.exe", simwin::Termination::Ends, kVariantGrants);
    simwin::WriteFile(deep + "other.exe", "MZ");
    const DWORD beside = simwin::StartProcess({deep + "other.exe",
                                               {},
                                               simwin::Termination::Ends,
                                               "",
                                               kVariantGrants,
                                               {"C:\\Program Files\\Evil\\evil.exe"}});
    EXPECT_EQ(KillProcessByImage("C:\\Program Files\\Evil\\evil.exe"), 1);
    EXPECT_FALSE(simwin::IsRunning(pid));
    EXPECT_TRUE(simwin::IsRunning(beside));
    simwin::EndProcess(beside);
    simwin::SetShortNames(true);
    EXPECT_EQ(simwin::Sleeps(), (std::vector<DWORD>{500, 500, 500, 500}));
    EXPECT_TRUE(simwin::Questions().empty());
    // Windows 10: a process psapi cannot read (here: protected) is read by
    // its full image name; nothing ended shows the box.
    simwin::SetWindows10();
    pid = Run("C:\\Program Files\\Evil\\evil.exe", simwin::Termination::Ends,
              PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION);
    EXPECT_EQ(KillProcessByImage("C:\\Program Files\\Evil\\other.exe"), 0);
    EXPECT_EQ(simwin::Questions().size(), 1u);
    EXPECT_EQ(KillProcessByImage("C:\\PROGRA~1\\Evil\\evil.exe"), 1);
    EXPECT_FALSE(simwin::IsRunning(pid));
    simwin::SetWindowsXp();
    // Without psapi.dll the attempt fails, still without a box.
    simwin::SetLibraryPresent("psapi.dll", false);
    EXPECT_EQ(KillProcessByImage("C:\\x\\a.exe"), 0);
    EXPECT_EQ(simwin::Questions().size(), 1u); // the one of Windows 10
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}
