/*
** The simulated processes' own machinery: termination scripts, the system
** processes and their reported paths, libraries and exports a test removes,
** the performance data layout, and the program's exit. What processes share
** with every Win32 is pinned in tests/conformance/.
*/
#include "actions/resolve_by_name.h"
#include "world.h"

namespace {

class ProcessesTest : public WorldTest {};

typedef HANDLE (*SnapshotFn)(DWORD, DWORD);
typedef BOOL (*WalkFn)(HANDLE, PROCESSENTRY32*);
typedef BOOL (*EnumFn)(DWORD*, DWORD, DWORD*);
typedef DWORD (*ModuleNameFn)(HANDLE, HMODULE, LPSTR, DWORD);

std::vector<std::string> Snapshot() {
    std::vector<std::string> names;
    HANDLE snap =
        Resolve<SnapshotFn>("kernel32", "CreateToolhelp32Snapshot")(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 e{};
    e.dwSize = sizeof e;
    for (BOOL ok = Resolve<WalkFn>("kernel32", "Process32First")(snap, &e); ok;
         ok = Resolve<WalkFn>("kernel32", "Process32Next")(snap, &e))
        names.push_back(std::to_string(e.th32ProcessID) + " " + e.szExeFile);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    CloseHandle(snap);
    return names;
}

void EnableDebug() {
    HANDLE token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    TOKEN_PRIVILEGES tp{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_DEBUG_NAME, &tp.Privileges[0].Luid));
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    CloseHandle(token);
}

} // namespace

TEST_F(ProcessesTest, TerminationFollowsTheProcessScriptAndReleasesItsFiles) {
    simwin::WriteFile("C:\\a.exe", "x");
    simwin::WriteFile("C:\\data.bin", "x");
    DWORD ends = simwin::StartProcess({"C:\\a.exe", {"C:\\data.bin"}});
    DWORD refuses = simwin::StartProcess({"C:\\b.exe", {}, simwin::Termination::Refuses});
    DWORD once = simwin::StartProcess({"C:\\c.exe", {}, simwin::Termination::RefusesOnce});
    DWORD guarded =
        simwin::StartProcess({"C:\\d.exe", {}, simwin::Termination::NeedsDebugPrivilege});

    EXPECT_FALSE(DeleteFileA("C:\\data.bin"));
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, ends);
    EXPECT_TRUE(TerminateProcess(h, 7));
    CloseHandle(h);
    EXPECT_FALSE(simwin::IsRunning(ends));
    EXPECT_EQ(simwin::ExitCodeOf(ends), 7u);
    EXPECT_TRUE(DeleteFileA("C:\\data.bin"));
    EXPECT_TRUE(DeleteFileA("C:\\a.exe"));
    EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, ends), nullptr); // gone
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);

    h = OpenProcess(PROCESS_TERMINATE, FALSE, refuses);
    EXPECT_FALSE(TerminateProcess(h, 0));
    EXPECT_FALSE(TerminateProcess(h, 0));
    CloseHandle(h);
    EXPECT_TRUE(simwin::IsRunning(refuses));
    EXPECT_EQ(simwin::ExitCodeOf(refuses), (UINT)STILL_ACTIVE);

    h = OpenProcess(PROCESS_TERMINATE, FALSE, once);
    EXPECT_FALSE(TerminateProcess(h, 0));
    EXPECT_TRUE(TerminateProcess(h, 0));
    CloseHandle(h);

    // On NT the guarded process needs SeDebugPrivilege, and a process that
    // grants some rights refuses a request for more, unless that privilege
    // is enabled; Windows 9x has neither guard.
    EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, guarded), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    DWORD limited = simwin::StartProcess({"C:\\e.exe",
                                          {},
                                          simwin::Termination::Ends,
                                          "",
                                          PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION});
    EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, limited), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    h = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, limited);
    EXPECT_NE(h, nullptr);
    CloseHandle(h);
    EnableDebug();
    h = OpenProcess(PROCESS_ALL_ACCESS, FALSE, limited);
    EXPECT_NE(h, nullptr);
    CloseHandle(h);
    simwin::SetWindows98();
    h = OpenProcess(PROCESS_TERMINATE, FALSE, guarded);
    EXPECT_NE(h, nullptr);
    CloseHandle(h);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);

    // Terminating the program itself ends it.
    h = OpenProcess(PROCESS_TERMINATE, FALSE, GetCurrentProcessId());
    try {
        TerminateProcess(h, 3);
        ADD_FAILURE() << "the program went on";
    } catch (const simwin::ProcessExit& e) {
        EXPECT_EQ(e.code, 3);
    }
    CloseHandle(h);
}

TEST_F(ProcessesTest, ProcessListsAreLoadedAtRunTimeAndDifferByFamily) {
    DWORD a = simwin::StartProcess({"C:\\Tools\\a.exe"});
    // The program's own entry comes first by identifier.
    EXPECT_EQ(Snapshot(),
              (std::vector<std::string>{"600 CleanPhantaxis.exe", std::to_string(a) + " a.exe"}));
    EXPECT_NE(LoadLibraryA("C:\\WINDOWS\\system32\\PSAPI"), nullptr);
    EXPECT_EQ(simwin::LoadCount("psapi.dll"), 1);
    EXPECT_TRUE(FreeLibrary(LoadLibraryA("psapi.dll")));

    // Functions the world removed.
    simwin::SetExportPresent("KERNEL32.DLL", "Process32Next", false);
    EXPECT_EQ(Resolve<WalkFn>("kernel32.dll", "Process32Next"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(Resolve<WalkFn>("kernel32.dll", "Process32FirstW"), nullptr);
    simwin::SetLibraryPresent("psapi.dll", false);
    EXPECT_EQ(LoadLibraryA("psapi.dll"), nullptr);
    EXPECT_EQ(GetProcAddress((HMODULE)(uintptr_t)0x12340000, "EnumProcesses"), nullptr);
}

TEST_F(ProcessesTest, PsapiListsIdentifiersAndReportedImagePaths) {
    simwin::StartSystemProcesses();
    DWORD a = simwin::StartProcess({"C:\\Tools\\a.exe"});
    auto enumProcesses = Resolve<EnumFn>("psapi.dll", "EnumProcesses");
    auto moduleName = Resolve<ModuleNameFn>("psapi.dll", "GetModuleFileNameExA");
    ASSERT_TRUE(enumProcesses && moduleName);
    DWORD ids[16] = {}, bytes = 0;
    ASSERT_TRUE(enumProcesses(ids, sizeof ids, &bytes));
    EXPECT_EQ(std::vector<DWORD>(ids, ids + bytes / 4),
              (std::vector<DWORD>{0, 4, 368, 416, 440, 600, a}));
    ASSERT_TRUE(enumProcesses(ids, 12, &bytes)); // as many as fit
    EXPECT_EQ(bytes, 12u);

    auto name = [&](DWORD pid, DWORD size = MAX_PATH) -> std::string {
        HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
        if (!h) return "open:" + std::to_string(GetLastError());
        char buf[MAX_PATH] = "junk";
        DWORD n = moduleName(h, nullptr, buf, size);
        CloseHandle(h);
        return n ? std::string(buf) + " " + std::to_string(n)
                 : "name:" + std::to_string(GetLastError());
    };
    EXPECT_EQ(name(0), "open:87");
    EXPECT_EQ(name(4), "open:5");
    EXPECT_EQ(name(368), "\\SystemRoot\\System32\\smss.exe 29");
    EXPECT_EQ(name(416), "open:5");
    EXPECT_EQ(name(a), "C:\\Tools\\a.exe 14");
    EXPECT_EQ(name(a, 8), "C:\\Tool 7");
    EnableDebug();
    EXPECT_EQ(name(4), "name:299");
    EXPECT_EQ(name(416), "\\??\\C:\\WINDOWS\\system32\\csrss.exe 33");
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, a); // without PROCESS_VM_READ
    char buf[MAX_PATH];
    EXPECT_EQ(moduleName(h, nullptr, buf, sizeof buf), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    CloseHandle(h);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(ProcessesTest, PerformanceDataDescribesTheProcessObject) {
    EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, nullptr, nullptr),
              (LONG)ERROR_FILE_NOT_FOUND); // nothing installed yet
    DWORD a = simwin::StartProcess({"C:\\Tools\\abcdef.exe"});
    simwin::ServeProcessPerformanceData();

    // The name table: index and name strings in turn, ending in an empty one.
    std::vector<uint8_t> table =
        simwin::RegValueData(HKEY_LOCAL_MACHINE, simwin::kPerflibEnglishKey, "Counters");
    std::string text(table.begin(), table.end());
    const std::string nul(1, '\0');
    EXPECT_NE(text.find(nul + "230" + nul + "Process" + nul), std::string::npos);
    EXPECT_NE(text.find(nul + "784" + nul + "ID Process" + nul), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), std::string("\0\0", 2));

    // Too small a buffer: ERROR_MORE_DATA, the size argument as it was.
    std::vector<uint8_t> buf(64);
    DWORD size = (DWORD)buf.size();
    EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, buf.data(), &size),
              (LONG)ERROR_MORE_DATA);
    EXPECT_EQ(size, 64u);
    buf.resize(8192);
    size = (DWORD)buf.size();
    ASSERT_EQ(
        RegQueryValueExA(HKEY_PERFORMANCE_DATA, "238 230", nullptr, nullptr, buf.data(), &size),
        (LONG)ERROR_SUCCESS);

    PERF_DATA_BLOCK head;
    memcpy(&head, buf.data(), sizeof head);
    EXPECT_EQ(std::u16string(head.Signature, head.Signature + 4), u"PERF");
    EXPECT_EQ(head.TotalByteLength, size);
    EXPECT_EQ(head.NumObjectTypes, 1u);
    PERF_OBJECT_TYPE obj;
    memcpy(&obj, buf.data() + head.HeaderLength, sizeof obj);
    EXPECT_EQ(obj.ObjectNameTitleIndex, simwin::kProcessObjectIndex);
    EXPECT_EQ(obj.NumInstances, 3); // the program, abcdef, _Total
    EXPECT_EQ(obj.NumCounters, 27u);
    EXPECT_EQ(obj.DefinitionLength, sizeof obj + 27 * sizeof(PERF_COUNTER_DEFINITION));
    PERF_COUNTER_DEFINITION id;
    memcpy(&id, buf.data() + head.HeaderLength + obj.HeaderLength + 14 * sizeof id, sizeof id);
    EXPECT_EQ(id.CounterNameTitleIndex, simwin::kIdProcessCounterIndex);
    // Walk the instances as a reader of the published layout does.
    size_t at = head.HeaderLength + obj.DefinitionLength;
    std::vector<std::string> rows;
    for (int i = 0; i < obj.NumInstances; i++) {
        PERF_INSTANCE_DEFINITION inst;
        memcpy(&inst, buf.data() + at, sizeof inst);
        std::string name;
        for (size_t k = at + inst.NameOffset; buf[k]; k += 2)
            name += (char)buf[k];
        size_t counters = at + inst.ByteLength;
        DWORD pid, length;
        memcpy(&pid, buf.data() + counters + id.CounterOffset, 4);
        memcpy(&length, buf.data() + counters, 4);
        rows.push_back(name + " " + std::to_string(pid));
        at = counters + length;
    }
    EXPECT_EQ(at, size);
    EXPECT_EQ(rows, (std::vector<std::string>{"CleanPhantaxis 600", "abcdef " + std::to_string(a),
                                              "_Total 0"}));

    // Any other object: a block without objects.
    size = (DWORD)buf.size();
    ASSERT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "2", nullptr, nullptr, buf.data(), &size),
              (LONG)ERROR_SUCCESS);
    memcpy(&head, buf.data(), sizeof head);
    EXPECT_EQ(head.NumObjectTypes, 0u);
    EXPECT_EQ(head.HeaderLength, size);
}

TEST_F(ProcessesTest, ExitEndsTheProgramWithItsCode) {
    EXPECT_THROW(exit(0), simwin::ProcessExit);
    try {
        std::exit(4);
    } catch (const simwin::ProcessExit& e) {
        EXPECT_EQ(e.code, 4);
    }
}
