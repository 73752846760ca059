/*
** Processes: opening and terminating them, and the two process lists the
** memory scan reads (tool help, psapi), resolved by name at run time.
*/
#include "check.h"
#include "stage.h"

#include <cstring>
#include <vector>

namespace {

typedef HANDLE(WINAPI* SnapshotFn)(DWORD, DWORD);
typedef BOOL(WINAPI* WalkFn)(HANDLE, PROCESSENTRY32*);
typedef BOOL(WINAPI* EnumFn)(DWORD*, DWORD, DWORD*);
typedef DWORD(WINAPI* RecordFn)(HANDLE, HMODULE, LPSTR, DWORD);
typedef DWORD(WINAPI* DeviceNameFn)(HANDLE, LPSTR, DWORD);
typedef DWORD(WINAPI* DosDeviceFn)(LPCSTR, LPSTR, DWORD);
typedef BOOL(WINAPI* FullNameFn)(HANDLE, DWORD, LPSTR, DWORD*);

/* Every tool-help entry: identifier and szExeFile. */
std::vector<std::pair<DWORD, std::string>> Snapshot() {
    std::vector<std::pair<DWORD, std::string>> entries;
    auto snapshot = Resolve<SnapshotFn>("kernel32.dll", "CreateToolhelp32Snapshot");
    auto first = Resolve<WalkFn>("kernel32.dll", "Process32First");
    auto next = Resolve<WalkFn>("kernel32.dll", "Process32Next");
    CHECK(snapshot && first && next);
    if (!snapshot || !first || !next) return entries;
    HANDLE snap = snapshot(TH32CS_SNAPPROCESS, 0);
    CHECK(snap != INVALID_HANDLE_VALUE);
    PROCESSENTRY32 e;
    memset(&e, 0, sizeof e);
    e.dwSize = sizeof e;
    for (BOOL ok = first(snap, &e); ok; ok = next(snap, &e))
        entries.push_back({e.th32ProcessID, e.szExeFile});
    CHECK_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    // A record shorter than the caller's own layout is refused.
    e.dwSize = sizeof e - 1;
    CHECK(!first(snap, &e));
    CloseHandle(snap);
    return entries;
}

} // namespace

CASE(TerminationNeedsTheRightAndALivingProcess) {
    DWORD pid = stage::StartChild();
    CHECK(pid != 0);
    HANDLE query = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    CHECK(query != nullptr);
    CHECK(!TerminateProcess(query, 0)); // the handle lacks PROCESS_TERMINATE
    CHECK_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    CloseHandle(query);
    HANDLE h = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    CHECK(h != nullptr);
    stage::EndChild(pid); // it ends by itself meanwhile
    // Too late: Windows refuses with ERROR_ACCESS_DENIED (Wine reports
    // success; the program must take either as "not terminated by us").
    BOOL late = TerminateProcess(h, 0);
    if (!stage::UnderWine()) {
        CHECK(!late);
        CHECK_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    }
    CloseHandle(h);
    // A process whose security grants less than asked for cannot be opened:
    // all the rights asked for, or none.
    DWORD guarded = stage::StartChild(PROCESS_QUERY_INFORMATION);
    HANDLE granted = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, guarded);
    CHECK(granted != nullptr);
    CloseHandle(granted);
    CHECK(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, guarded) == nullptr);
    CHECK_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    // Identifier 0, the idle process, cannot be opened.
    CHECK(OpenProcess(PROCESS_TERMINATE, FALSE, 0) == nullptr);
    CHECK_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

CASE(ToolHelpListsEveryProcessByFileName) {
    DWORD child = stage::StartChild();
    bool self = false, other = false;
    for (auto& e : Snapshot()) {
        self = self || e.first == GetCurrentProcessId();
        other = other || e.first == child;
        // On NT the entry names the image file without its folder.
        if (e.first == GetCurrentProcessId()) CHECK(e.second.find('\\') == std::string::npos);
    }
    CHECK(self);
    CHECK(other);
}

/* Windows 95, 98 and ME: szExeFile holds the full path of the image
   (documented for PROCESSENTRY32 on those systems; NT gives the file name),
   and there is no psapi.dll. */
MODEL(ToolHelpGivesFullPathsOnWindows9x, stage::kWindows98) {
    CHECK(LoadLibraryA("psapi.dll") == nullptr);
    stage::StartChild();
    bool full = false;
    for (auto& e : Snapshot())
        full = full || e.second == stage::Dir() + "child.exe";
    CHECK(full);
}

/* Windows NT 4.0: kernel32 has no tool-help functions (they came with
   Windows 2000); GetProcAddress fails for them. psapi.dll is no part of it
   either: Microsoft's PSAPI page says it is distributed separately there. */
MODEL(NoToolHelpOnNt4, stage::kWindowsNt4) {
    CHECK(Resolve<SnapshotFn>("kernel32.dll", "CreateToolhelp32Snapshot") == nullptr);
    CHECK_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
    CHECK(LoadLibraryA("psapi.dll") == nullptr);
}

/* The kernel's name of a process's image, beside its loader's record:
   GetProcessImageFileNameA (XP on) gives the drive letter's device
   (QueryDosDeviceA) and the rest of the path, and refuses a buffer without
   room for the terminator (as Wine's psapi tests find on Windows);
   QueryFullProcessImageNameA (Vista on) the drive form. */
CASE(TheKernelNamesTheImageOfAProcess) {
    DWORD child = stage::StartChild();
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, child);
    auto record = Resolve<RecordFn>("psapi.dll", "GetModuleFileNameExA");
    auto deviceName = Resolve<DeviceNameFn>("psapi.dll", "GetProcessImageFileNameA");
    auto dosDevice = Resolve<DosDeviceFn>("kernel32.dll", "QueryDosDeviceA");
    CHECK(h && record && deviceName && dosDevice);
    if (!h || !record || !deviceName || !dosDevice) return;
    char image[MAX_PATH] = {}, name[2 * MAX_PATH] = {}, device[MAX_PATH] = {};
    for (int i = 0; i < 100 && record(h, nullptr, image, sizeof image) == 0; i++)
        Sleep(20); // until the child's loader has written its record
    CHECK(strlen(image) > 2);
    DWORD n = deviceName(h, name, sizeof name);
    CHECK(n > 0 && n == strlen(name) && name[0] == '\\');
    const std::string drive(image, 2);
    CHECK(dosDevice(drive.c_str(), device, sizeof device) > strlen(device));
    const bool byDevice = _stricmp(name, (std::string(device) + (image + 2)).c_str()) == 0;
    CHECK(byDevice);
    CHECK_EQ(deviceName(h, name, n), 0u);
    CHECK_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    if (auto fullName = Resolve<FullNameFn>("kernel32.dll", "QueryFullProcessImageNameA")) {
        DWORD size = sizeof name;
        CHECK(fullName(h, 0, name, &size));
        CHECK_EQ(size, (DWORD)strlen(image));
        CHECK(_stricmp(name, image) == 0);
    }
    CloseHandle(h);
}

CASE(EnumProcessesFillsWhatFits) {
    DWORD child = stage::StartChild();
    auto enumProcesses = Resolve<EnumFn>("psapi.dll", "EnumProcesses");
    CHECK(enumProcesses != nullptr);
    if (!enumProcesses) return;
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    CHECK(enumProcesses(ids.data(), 4096, &bytes));
    CHECK(bytes % 4 == 0 && bytes >= 8 && bytes <= 4096);
    bool self = false, other = false;
    for (DWORD i = 0; i < bytes / 4; i++) {
        self = self || ids[i] == GetCurrentProcessId();
        other = other || ids[i] == child;
    }
    CHECK(self);
    CHECK(other);
    // Too small an array: as many as fit, and still success.
    CHECK(enumProcesses(ids.data(), 8, &bytes));
    CHECK_EQ(bytes, 8u);
}

CASE(WideTextBecomesEightBitTextWithItsTerminator) {
    std::basic_string<WCHAR> abc, abcd;
    for (const char* c = "abcd"; *c; c++) {
        if (*c != 'd') abc += (WCHAR)*c;
        abcd += (WCHAR)*c;
    }
    char out[16];
    CHECK_EQ(WideCharToMultiByte(CP_ACP, 0, abc.c_str(), -1, out, sizeof out, nullptr, nullptr), 4);
    CHECK_EQ(out, "abc");
    CHECK_EQ(WideCharToMultiByte(CP_ACP, 0, abcd.c_str(), -1, nullptr, 0, nullptr, nullptr), 5);
    CHECK_EQ(WideCharToMultiByte(CP_ACP, 0, abcd.c_str(), -1, out, 4, nullptr, nullptr), 0);
    CHECK_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    CHECK_EQ(WideCharToMultiByte(CP_ACP, 0, abcd.c_str(), 2, out, 4, nullptr, nullptr), 2);
}
