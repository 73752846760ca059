/*
** Termination by image file: which processes each platform's method
** terminates, the "Could not kill process" box, and the pauses on the
** virtual clock.
*/
#include "memory/kill_process.h"
#include "world.h"

#include <functional>
#include <numeric>

namespace {

class KillProcessTest : public WorldTest {
  protected:
    /* A process of another account that lets this program open it with
       `grants` only (on NT). */
    static DWORD Run(const std::string& image, simwin::Termination t = simwin::Termination::Ends,
                     DWORD grants = PROCESS_ALL_ACCESS) {
        return simwin::StartProcess({image, {}, t, "", grants});
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
    /* The name table with `entries` (index, name) as its Counters value. */
    static void NameTable(const std::vector<std::string>& strings) {
        std::vector<uint8_t> value;
        for (const std::string& s : strings)
            value.insert(value.end(), s.begin(), s.end() + 1);
        simwin::RegSetValue(HKEY_LOCAL_MACHINE, simwin::kPerflibEnglishKey, "Counters",
                            REG_MULTI_SZ, value);
    }
};

} // namespace

/* What one termination does on each family: the result, which processes
   still run, the pauses on the virtual clock and the box. NT 4.0 knows a
   process only by its instance name, at most 16 characters. */
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
        void (*version)();
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
        {Nt4, nt4, Ends, "A.EX", 0, "11", {}},                           // too short: nothing tried
        {Nt4, nt4, Ends, "C:\\x\\abcdefghijklmnopq.exe", 0, "11", {}},   // 17 characters: no name
        {Nt4, nt4, Ends, "C:\\x\\abcdefghijklmnop.exe", 1, "10", {500}}, // 16 characters match
        {Nt4, nt4, Ends, "C:\\x\\CleanPhantaxis.exe", 0, "11", {500}},   // never the program itself
        {Nt4, nt4, Ends, "C:\\x\\.exe", 0, "11", {}},       // an empty base name matches nothing
        {Nt4, nt4, Ends, "C:\\_Total.exe", 0, "11", {500}}, // identifier 0 became -2: none
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
        if (r.result)
            EXPECT_TRUE(simwin::Questions().empty());
        else
            ExpectBox(r.kill);
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
        if (r.images.size() == 1 && r.result) {
            EXPECT_EQ(simwin::CallCount("LoadLibraryA") + simwin::CallCount("RegOpenKeyExA"), 0);
        }
    }

    Renew(simwin::SetWindowsNt4);
    EXPECT_EQ(KillByBaseNamePerfData("A.EX"), 0);
    EXPECT_EQ(simwin::CallCount("RegOpenKeyExA"), 0);

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
   file ends. NT 4.0 reads no image path: it never terminates Windows' own
   programs by name, and any other only by its whole instance name. */
TEST_F(KillProcessTest, OnlyTheProcessRunningTheFileEnds) {
    struct Row {
        void (*version)();
        const char* variant;
        const char* real;
        bool variantEnds;
    } rows[] = {
        {simwin::SetWindows98, "C:\\TEMP\\EXPLORER.EXE", "C:\\WINDOWS\\EXPLORER.EXE", true},
        {simwin::SetWindows98, "C:\\TEMP\\MSGSRV32.EXE", "C:\\WINDOWS\\SYSTEM\\MSGSRV32.EXE", true},
        {simwin::SetWindowsNt4, "C:\\TEMP\\lsass.exe", "C:\\WINNT\\system32\\lsass.exe", false},
        {simwin::SetWindowsNt4, "C:\\TEMP\\s.exe", "C:\\WINNT\\system32\\services.exe", true},
        {simwin::SetWindowsNt4, "C:\\TEMP\\Explorer.exe", "C:\\WINNT\\explorer.exe", false},
        {simwin::SetWindowsXp, "C:\\TEMP\\svchost.exe", "C:\\WINDOWS\\system32\\svchost.exe", true},
        {simwin::SetWindows10, "C:\\TEMP\\csrss.exe", "C:\\Windows\\System32\\csrss.exe", true},
        {simwin::SetWindows10, "C:\\TEMP\\s.exe", "C:\\Windows\\System32\\smss.exe", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.variant);
        Renew(r.version);
        simwin::ServeProcessPerformanceData();
        DWORD real = Run(r.real);
        DWORD variant = Run(r.variant);
        EXPECT_EQ(KillProcessByImage(r.variant), r.variantEnds ? 1 : 0);
        EXPECT_TRUE(simwin::IsRunning(real));
        EXPECT_EQ(simwin::IsRunning(variant), !r.variantEnds);
        EXPECT_EQ(simwin::Questions().size(), r.variantEnds ? 0u : 1u);
        EXPECT_EQ(simwin::OpenHandleCount(), 0u);
    }
}

TEST_F(KillProcessTest, Nt4NeedsBothIndexesOfTheNameTable) {
    simwin::SetWindowsNt4();
    simwin::ServeProcessPerformanceData();
    DWORD pid = Run("C:\\x\\abc.exe");
    struct Case {
        const char* what;
        std::vector<std::string> table;
        int32_t result;
    } cases[] = {
        {"no process entry", {"784", "ID Process", "232", "Thread"}, 0},
        {"no id process entry", {"230", "Process", "784", "Elapsed Time"}, 0},
        {"case ignored, a later match wins",
         {"999", "PROCESS", "230", "process", "784", "id process"},
         1},
        {"last string unterminated", {"230", "Process", "784", "ID Process"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pid = Run("C:\\x\\abc.exe");
        NameTable(c.table);
        if (std::string(c.what) == "last string unterminated") {
            std::vector<uint8_t> v =
                simwin::RegValueData(HKEY_LOCAL_MACHINE, simwin::kPerflibEnglishKey, "Counters");
            v.pop_back();
            simwin::RegSetValue(HKEY_LOCAL_MACHINE, simwin::kPerflibEnglishKey, "Counters",
                                REG_BINARY, v);
        }
        EXPECT_EQ(KillByBaseNamePerfData("C:\\x\\abc.exe"), c.result);
        EXPECT_EQ(simwin::IsRunning(pid), c.result == 0);
    }
    // No name table at all, or performance data that cannot be read.
    pid = Run("C:\\x\\abc.exe");
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, simwin::kPerflibEnglishKey, "Counters", REG_BINARY, {});
    EXPECT_EQ(KillByBaseNamePerfData("C:\\x\\abc.exe"), 0);
    simwin::ServeProcessPerformanceData();
    simwin::FailCallOn("RegQueryValueExA", "230", ERROR_ACCESS_DENIED); // the data query
    EXPECT_EQ(KillByBaseNamePerfData("C:\\x\\abc.exe"), 0);
    EXPECT_TRUE(simwin::IsRunning(pid));
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(KillProcessTest, Nt4GrowsTheDataBufferAndReadsAtMost254Rows) {
    // What the query leaves in its size argument with ERROR_MORE_DATA is not
    // defined: as it was, smaller, or nothing at all.
    const std::pair<const char*, std::function<DWORD(DWORD, DWORD)>> sizes[] = {
        {"unchanged", nullptr},
        {"half", [](DWORD given, DWORD) { return given / 2; }},
        {"zero", [](DWORD, DWORD) { return 0u; }},
        {"beyond reason", [](DWORD, DWORD) { return 0xFFFFFFF0u; }},
    };
    for (const auto& [what, reported] : sizes) {
        SCOPED_TRACE(what);
        Renew(simwin::SetWindowsNt4);
        simwin::ServeProcessPerformanceData();
        simwin::SetPerfSizeOnMoreData(reported);
        DWORD early = Run("C:\\x\\early.exe");
        for (int i = 0; i < 400; i++)
            Run("C:\\p\\n" + std::to_string(i) + ".exe");
        DWORD late = Run("C:\\x\\late.exe");
        size_t blockSize = simwin::BuildProcessPerfBlock(simwin::ProcessPerfInstances()).size();
        ASSERT_GT(blockSize, 51200u + 25600u);
        const int queries = 1 + (int)((blockSize - 51200 + 25599) / 25600);
        // A buffer that never grows enough would ask for ever: end that.
        // The second call reads the table twice: before and after the open.
        simwin::FailCall("RegQueryValueExA", ERROR_ACCESS_DENIED, -1, 3 * (2 + queries));

        int before = simwin::CallCount("RegQueryValueExA");
        EXPECT_EQ(KillByBaseNamePerfData("C:\\x\\late.exe"), 0); // row 403: never read
        EXPECT_EQ(simwin::CallCount("RegQueryValueExA") - before, 2 + queries);
        EXPECT_TRUE(simwin::IsRunning(late));
        EXPECT_EQ(KillByBaseNamePerfData("C:\\x\\early.exe"), 1); // row 2
        EXPECT_FALSE(simwin::IsRunning(early));
    }
}

TEST_F(KillProcessTest, XpAndLaterCompareTheFileInAnyCaseOrForm) {
    simwin::WriteFile("C:\\Program Files\\Evil\\evil.exe", "MZ");
    DWORD pid = Run("C:\\Program Files\\Evil\\evil.exe", simwin::Termination::Ends, kVariantGrants);
    EXPECT_EQ(KillProcessByImage("C:\\Program Files\\Evil\\other.exe"), 1); // nothing matched
    EXPECT_TRUE(simwin::IsRunning(pid));
    EXPECT_EQ(KillProcessByImage("C:\\PROGRA~1\\Evil\\evil.exe"), 1); // the short form
    EXPECT_FALSE(simwin::IsRunning(pid));
    pid = Run("C:\\Program Files\\Evil\\evil.exe", simwin::Termination::Ends, kVariantGrants);
    EXPECT_EQ(KillProcessByImage("c:\\PROGRAM FILES\\evil\\EVIL.EXE"), 1);
    EXPECT_FALSE(simwin::IsRunning(pid));
    EXPECT_EQ(simwin::Sleeps(), (std::vector<DWORD>{500, 500}));
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
