/*
** simwin: run-time loaded libraries and the process-list functions they
** export.
*/
#include "simwin/modules.h"
#include "simwin/crt.h"
#include "simwin/files.h"
#include "simwin/processes.h"
#include "simwin/services.h"
#include "simwin/system.h"
#include "simwin/text.h"
#include "simwin/wow64.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {

/* UTF-16 of a UTF-8 text (the host's names); back is simwin::Utf8Of. */
std::u16string Utf16Of(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = (unsigned char)text[i];
        const int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 3;
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + (size_t)k < text.size(); k++)
            cp = cp << 6 | ((unsigned char)text[i + (size_t)k] & 0x3F);
        i += (size_t)extra + 1;
        if (cp >= 0x10000) {
            out += (char16_t)(0xD800 + ((cp - 0x10000) >> 10));
            out += (char16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += (char16_t)cp;
        }
    }
    return out;
}

struct Library {
    const char* name; // lower case, with ".dll"
    uintptr_t base;   // the module handle LoadLibraryA gives
};

const Library kLibraries[] = {
    {"kernel32.dll", 0x7C800000}, {"psapi.dll", 0x76BF0000},  {"ntdll.dll", 0x7C900000},
    {"advapi32.dll", 0x77DD0000}, {"rpcrt4.dll", 0x77E70000},
};

std::map<std::string, bool> libraryPresent;                       // overrides of the defaults
std::map<std::string, std::map<std::string, bool>> exportPresent; // library -> function
std::map<std::string, int> loads;
int searchedLoads;
std::map<char, std::string> dosDevices; // drive letter -> target, beside the volumes

simwin::ResetHook resetModules([] {
    dosDevices.clear();
    libraryPresent.clear();
    exportPresent.clear();
    loads.clear();
    searchedLoads = 0;
});

std::string Lower(std::string s) {
    for (char& c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

/* "C:\WINDOWS\system32\PSAPI" -> "psapi.dll". */
std::string LibraryKey(const std::string& name) {
    std::string file = Lower(name);
    size_t slash = file.find_last_of("\\/");
    if (slash != std::string::npos) file = file.substr(slash + 1);
    if (file.find('.') == std::string::npos) file += ".dll";
    return file;
}

const Library* Known(const std::string& key) {
    for (const Library& lib : kLibraries)
        if (key == lib.name) return &lib;
    return nullptr;
}

const Library* ByHandle(HMODULE module) {
    for (const Library& lib : kLibraries)
        if (reinterpret_cast<uintptr_t>(module) == lib.base) return &lib;
    return nullptr;
}

bool Present(const std::string& key) {
    auto it = libraryPresent.find(key);
    if (it != libraryPresent.end()) return it->second;
    // psapi.dll came with Windows 2000; NT 4.0 has it only where a program
    // installed the redistributable (Microsoft's PSAPI page: "Windows NT 4.0:
    // PSAPI.DLL is distributed separately").
    if (key == "psapi.dll")
        return simwin::PlatformId() == VER_PLATFORM_WIN32_NT && simwin::MajorVersion() >= 5;
    if (key == "ntdll.dll") return simwin::PlatformId() == VER_PLATFORM_WIN32_NT;
    return Known(key) != nullptr;
}

bool Exported(const std::string& key, const std::string& function) {
    auto lib = exportPresent.find(key);
    if (lib != exportPresent.end()) {
        auto f = lib->second.find(function);
        if (f != lib->second.end()) return f->second;
    }
    // SetFileInformationByHandle and CancelSynchronousIo came with Vista, the string form of
    // security descriptors with 2000.
    const bool nt = simwin::PlatformId() == VER_PLATFORM_WIN32_NT;
    if (function == "SetFileInformationByHandle" || function == "CancelSynchronousIo")
        return nt && simwin::MajorVersion() >= 6;
    if (function == "ConvertStringSecurityDescriptorToSecurityDescriptorA")
        return nt && simwin::MajorVersion() >= 5;
    if (key == "kernel32.dll" && function == "GetProcessTimes") return nt;
    // QueryServiceStatusEx came with 2000.
    if (key == "advapi32.dll" && function == "QueryServiceStatusEx")
        return nt && simwin::MajorVersion() >= 5;
    if (key == "advapi32.dll") return nt;
    if (key == "rpcrt4.dll") return nt && simwin::MajorVersion() >= 5;
    if (key == "kernel32.dll" &&
        (function == "QueryFullProcessImageNameA" || function == "QueryFullProcessImageNameW"))
        return nt && simwin::MajorVersion() >= 6;
    if (key == "kernel32.dll" && function == "QueryDosDeviceA") return nt;
    // GetProcessImageFileNameA came with XP (NT 5.1).
    if (key == "psapi.dll" &&
        (function == "GetProcessImageFileNameA" || function == "GetProcessImageFileNameW"))
        return simwin::MajorVersion() * 10 + simwin::MinorVersion() >= 51;
    // NT 4.0's kernel32 has no tool-help functions; they came with 2000.
    if (key == "kernel32.dll" && simwin::PlatformId() == VER_PLATFORM_WIN32_NT &&
        simwin::MajorVersion() < 5 && function != "GetFileAttributesExA")
        return false;
    return true;
}

/* ---- tool help ---- */

struct Snapshot : simwin::Object {
    struct Entry {
        DWORD pid;
        std::string exeFile;
    };
    std::vector<Entry> entries;
    size_t next = 0;
};

HANDLE WINAPI SimCreateToolhelp32Snapshot(DWORD flags, DWORD) {
    if (simwin::Fails("CreateToolhelp32Snapshot")) return INVALID_HANDLE_VALUE;
    auto snap = std::make_shared<Snapshot>();
    if (flags & TH32CS_SNAPPROCESS) {
        bool nt = simwin::PlatformId() == VER_PLATFORM_WIN32_NT;
        for (const simwin::ProcessView& p : simwin::RunningProcesses())
            snap->entries.push_back({p.pid, nt || p.image.empty() ? p.exeName : p.image});
    }
    return simwin::NewHandle(snap);
}

BOOL Fill(HANDLE snapshot, PROCESSENTRY32* entry, bool first) {
    auto snap = simwin::HandleAs<Snapshot>(snapshot);
    if (!snap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!entry || entry->dwSize < sizeof(PROCESSENTRY32)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (first) snap->next = 0;
    if (snap->next >= snap->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    const Snapshot::Entry& e = snap->entries[snap->next++];
    DWORD size = entry->dwSize;
    memset(entry, 0, sizeof *entry);
    entry->dwSize = size;
    entry->th32ProcessID = e.pid;
    entry->cntThreads = 1;
    entry->pcPriClassBase = 8;
    size_t n = e.exeFile.size() < MAX_PATH - 1 ? e.exeFile.size() : MAX_PATH - 1;
    memcpy(entry->szExeFile, e.exeFile.data(), n);
    return TRUE;
}

BOOL WINAPI SimProcess32First(HANDLE snapshot, PROCESSENTRY32* entry) {
    if (simwin::Fails("Process32First")) return FALSE;
    return Fill(snapshot, entry, true);
}

BOOL WINAPI SimProcess32Next(HANDLE snapshot, PROCESSENTRY32* entry) {
    if (simwin::Fails("Process32Next")) return FALSE;
    return Fill(snapshot, entry, false);
}

/* ---- psapi ---- */

BOOL WINAPI SimEnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
    if (simwin::Fails("EnumProcesses")) return FALSE;
    if (!returned || (!ids && bytes)) { // no array of no size is an empty answer
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<simwin::ProcessView> list = simwin::RunningProcesses();
    size_t n = list.size() < bytes / sizeof(DWORD) ? list.size() : bytes / sizeof(DWORD);
    for (size_t i = 0; i < n; i++)
        ids[i] = list[i].pid;
    *returned = (DWORD)(n * sizeof(DWORD));
    return TRUE;
}

DWORD WINAPI SimGetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR buffer, DWORD size) {
    if (simwin::Fails("GetModuleFileNameExA")) return 0;
    auto h = simwin::HandleAs<simwin::ProcessHandle>(process);
    if (!h || module) { // only the main module is modelled
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const DWORD needed = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
    if ((h->access & needed) != needed) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    std::string path;
    for (const simwin::ProcessView& p : simwin::RunningProcesses())
        if (p.pid == h->pid && simwin::HandleProcessRuns(*h))
            path = simwin::AnsiPathOf(p.reportedPath);
    if (path.empty()) { // ended, or no image (System)
        SetLastError(ERROR_PARTIAL_COPY);
        return 0;
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    size_t n = path.size() < size - 1 ? path.size() : size - 1;
    memcpy(buffer, path.data(), n);
    buffer[n] = 0; // a cut path is no failure: the last error stays
    return (DWORD)n;
}

/* ---- kernel32, by name: what not every Windows has ---- */

/* The query rights a handle needs: either query right from Vista on. */
DWORD QueryRights() {
    DWORD rights = PROCESS_QUERY_INFORMATION;
    if (simwin::MajorVersion() >= 6) rights |= PROCESS_QUERY_LIMITED_INFORMATION;
    return rights;
}

/* The process `process` names when its handle holds one of `rights`; null,
   the last error set, when it is no process handle or holds none of them. */
std::shared_ptr<simwin::ProcessHandle> Queried(HANDLE process, DWORD rights) {
    auto h = simwin::HandleAs<simwin::ProcessHandle>(process);
    if (!h)
        SetLastError(ERROR_INVALID_HANDLE);
    else if (!(h->access & rights))
        SetLastError(ERROR_ACCESS_DENIED);
    return h && (h->access & rights) ? h : nullptr;
}

BOOL WINAPI SimQueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, DWORD* size) {
    if (simwin::Fails("QueryFullProcessImageNameA")) return FALSE;
    auto h = simwin::HandleAs<simwin::ProcessHandle>(process);
    if (!h || !name || !size || flags != 0) { // only the Win32 form is modelled
        SetLastError(h ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(h->access & QueryRights())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The ANSI form of the Unicode name: a best fit where it must
    // (WideCharToMultiByte without WC_NO_BEST_FIT_CHARS).
    std::string path =
        simwin::HandleProcessRuns(*h) ? simwin::AnsiPathOf(simwin::HandleImage(*h)) : "";
    if (path.empty()) {
        SetLastError(ERROR_PARTIAL_COPY);
        return FALSE;
    }
    if (*size <= path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(name, path.c_str(), path.size() + 1);
    *size = (DWORD)path.size();
    return TRUE;
}

/* The volume device a mapped drive letter stands for: C: is the first
   hard disk volume, D: the second, ...; A: and B: floppies. */
std::string VolumeDevice(char letter) {
    if (letter < 'C') return "\\Device\\Floppy" + std::to_string(letter - 'A');
    return "\\Device\\HarddiskVolume" + std::to_string(letter - 'C' + 1);
}

DWORD WINAPI SimGetProcessImageFileNameA(HANDLE process, LPSTR name, DWORD size) {
    if (simwin::Fails("GetProcessImageFileNameA")) return 0;
    auto h = Queried(process, QueryRights());
    if (!h) return 0;
    // The kernel's name of the image, in the device form: the volume's
    // device name in place of its drive letter, a best fit where it must.
    std::string path =
        simwin::HandleProcessRuns(*h) ? simwin::AnsiPathOf(simwin::HandleImage(*h)) : "";
    if (path.size() < 3 || path[1] != ':') {
        SetLastError(ERROR_PARTIAL_COPY);
        return 0;
    }
    path = VolumeDevice((char)toupper((unsigned char)path[0])) + path.substr(2);
    if (!name || size <= path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(name, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

/* The Unicode forms: each name as the file system stores it, no best fit.
   QueryFullProcessImageNameW(process, 0, ...) gives what GetModuleFileNameW
   gives the process itself, the drive form (Wine's kernel32 tests,
   test_QueryFullProcessImageNameW); GetProcessImageFileNameW the device
   form (Wine's psapi tests, test_GetProcessImageFileName). */
BOOL WINAPI SimQueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name, DWORD* size) {
    if (simwin::Fails("QueryFullProcessImageNameW")) return FALSE;
    auto h = simwin::HandleAs<simwin::ProcessHandle>(process);
    if (!h || !name || !size || flags != 0) {
        SetLastError(h ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(h->access & QueryRights())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::u16string path =
        Utf16Of(simwin::HandleProcessRuns(*h) ? simwin::HandleImage(*h) : "");
    if (path.empty() || *size <= path.size()) {
        SetLastError(path.empty() ? ERROR_PARTIAL_COPY : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(path.begin(), path.end(), name);
    name[path.size()] = 0;
    *size = (DWORD)path.size();
    return TRUE;
}

DWORD WINAPI SimGetProcessImageFileNameW(HANDLE process, LPWSTR name, DWORD size) {
    if (simwin::Fails("GetProcessImageFileNameW")) return 0;
    auto h = Queried(process, QueryRights());
    if (!h) return 0;
    std::string path = simwin::HandleProcessRuns(*h) ? simwin::HandleImage(*h) : "";
    if (path.size() < 3 || path[1] != ':') {
        SetLastError(ERROR_PARTIAL_COPY);
        return 0;
    }
    const std::u16string wide =
        Utf16Of(VolumeDevice((char)toupper((unsigned char)path[0])) + path.substr(2));
    if (!name || size <= wide.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(wide.begin(), wide.end(), name);
    name[wide.size()] = 0;
    return (DWORD)wide.size();
}

/* The image mappings of a process: its image file and kernel32.dll. */
struct Region {
    uintptr_t base, size;
    std::string file;  // Windows path now, as the ANSI functions give it; empty: free
    std::string exact; // the same, each name as stored
};

std::vector<Region> RegionsOf(const simwin::ProcessHandle& h) {
    const uintptr_t kTop = 0x7FFF0000;
    std::vector<Region> list;
    uintptr_t at = 0;
    const auto add = [&](uintptr_t base, uintptr_t size, const std::string& file,
                         const std::string& exact) {
        if (base > at) list.push_back({at, base - at, "", ""});
        list.push_back({base, size, file, exact});
        at = base + size;
    };
    if (!simwin::HandleProcessRuns(h)) return list;
    const std::string image = simwin::HandleMappedImage(h);
    if (!image.empty()) add(0x00400000, 0x10000, image, simwin::HandleMappedImage(h, true));
    uintptr_t resource = 0x10000000;
    for (const std::string& file : simwin::HandleImageResources(h)) {
        add(resource, 0x10000, simwin::AnsiPathOf(file), file);
        resource += 0x100000;
    }
    const std::string kernel = "C:\\WINDOWS\\system32\\kernel32.dll";
    if (!simwin::HandleImage(h).empty()) add(0x7C800000, 0x100000, kernel, kernel);
    if (at < kTop) list.push_back({at, kTop - at, "", ""});
    return list;
}

SIZE_T WINAPI SimVirtualQueryEx(HANDLE process, LPCVOID address, MEMORY_BASIC_INFORMATION* info,
                                SIZE_T size) {
    if (simwin::Fails("VirtualQueryEx")) return 0;
    auto h = Queried(process, PROCESS_QUERY_INFORMATION);
    if (!h) return 0;
    if (!info || size < sizeof *info) {
        SetLastError(ERROR_BAD_LENGTH);
        return 0;
    }
    const uintptr_t a = reinterpret_cast<uintptr_t>(address) & ~(uintptr_t)0xFFF;
    for (const Region& r : RegionsOf(*h)) {
        if (a < r.base || a >= r.base + r.size) continue;
        memset(info, 0, sizeof *info);
        info->BaseAddress = reinterpret_cast<LPVOID>(a);
        info->RegionSize = r.base + r.size - a;
        info->State = r.file.empty() ? MEM_FREE : MEM_COMMIT;
        if (!r.file.empty()) {
            info->AllocationBase = reinterpret_cast<LPVOID>(r.base);
            info->Type = MEM_IMAGE;
            info->AllocationProtect = info->Protect = 0x80; // PAGE_EXECUTE_WRITECOPY
        } else {
            info->Protect = 0x01; // PAGE_NOACCESS
        }
        return sizeof *info;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

/* The device path of the file mapped at `address`, as GetMappedFileNameA
   (`exact` false) or GetMappedFileNameW gives it; empty (last error set)
   when it cannot be read. */
std::string MappedFileName(const char* call, HANDLE process, LPVOID address, bool exact,
                           bool room) {
    if (simwin::Fails(call)) return "";
    auto h = Queried(process, PROCESS_QUERY_INFORMATION);
    if (!h) return "";
    if (!room) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return "";
    }
    const uintptr_t a = reinterpret_cast<uintptr_t>(address);
    std::string path;
    for (const Region& r : RegionsOf(*h))
        if (a >= r.base && a < r.base + r.size) path = exact ? r.exact : r.file;
    const bool win2000 = simwin::MajorVersion() == 5 && simwin::MinorVersion() == 0;
    if (path.size() < 3 || path[1] != ':' || (win2000 && !(h->access & PROCESS_VM_READ))) {
        SetLastError(ERROR_UNEXP_NET_ERR);
        return "";
    }
    return VolumeDevice((char)toupper((unsigned char)path[0])) + path.substr(2);
}

/* The Unicode name of the mapped file, each name as the file system stores
   it (Microsoft's GetMappedFileNameW page: the device form), cut to the
   buffer and terminated. */
DWORD WINAPI SimGetMappedFileNameW(HANDLE process, LPVOID address, LPWSTR name, DWORD size) {
    const std::string path =
        MappedFileName("GetMappedFileNameW", process, address, true, name && size);
    if (path.empty()) return 0;
    const std::u16string wide = Utf16Of(path);
    const size_t n = wide.size() < size - 1 ? wide.size() : size - 1;
    std::copy(wide.begin(), wide.begin() + (ptrdiff_t)n, name);
    name[n] = 0;
    return (DWORD)n;
}

/* CreateFileW: the Unicode name reaches the entry stored under it. A name
   of MAX_PATH characters or more opens only with the "\\?\" prefix, which
   turns off the name's parsing and lifts the limit to about 32,767
   (Microsoft's "Naming Files, Paths, and Namespaces", Maximum Path Length
   Limitation). */
HANDLE WINAPI SimCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE tmpl) {
    std::u16string wide;
    for (; path && *path; path++)
        wide += *path;
    // The prefix goes but for a device's name, which CreateFileA reads as
    // the file only after it.
    if (wide.compare(0, 4, u"\\\\?\\") == 0 && wide.size() > 6 && wide[5] == ':') {
        const std::u16string rest = wide.substr(4);
        if (!simwin::NamesDevice(simwin::Utf8Of((LPCWSTR)rest.data(), rest.size()))) wide = rest;
    } else if (wide.size() >= MAX_PATH) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(simwin::Utf8Of((LPCWSTR)wide.data(), wide.size()).c_str(), access, share, sa,
                       disposition, flags, tmpl);
}

DWORD WINAPI SimGetMappedFileNameA(HANDLE process, LPVOID address, LPSTR name, DWORD size) {
    const std::string path =
        MappedFileName("GetMappedFileNameA", process, address, false, name && size);
    if (path.empty()) return 0;
    // Cut to the buffer and terminated (Wine: a buffer of one gives "").
    const size_t n = path.size() < size - 1 ? path.size() : size - 1;
    memcpy(name, path.data(), n);
    name[n] = 0;
    return (DWORD)n;
}

DWORD WINAPI SimQueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) {
    if (simwin::Fails("QueryDosDeviceA")) return 0;
    // Drive letters only ("X:"): the volume's device, or what the session
    // defined for the letter (subst: "\??\C:\folder").
    std::string value;
    if (device && strlen(device) == 2 && device[1] == ':' && isalpha((unsigned char)device[0])) {
        const char letter = (char)toupper((unsigned char)device[0]);
        auto it = dosDevices.find(letter);
        if (it != dosDevices.end())
            value = it->second;
        else if (!simwin::HostPath(std::string(1, letter) + ":\\").empty())
            value = VolumeDevice(letter);
    }
    if (value.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (!target || size < value.size() + 2) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(target, value.c_str(), value.size() + 1);
    target[value.size() + 1] = 0; // the list ends with a second terminator
    return (DWORD)value.size() + 2;
}

BOOL WINAPI SimGetProcessTimes(HANDLE process, FILETIME* creation, FILETIME* exit, FILETIME* kernel,
                               FILETIME* user) {
    if (simwin::Fails("GetProcessTimes")) return FALSE;
    auto h = Queried(process, QueryRights());
    if (!h) return FALSE;
    if (!creation || !exit || !kernel || !user) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    memset(exit, 0, sizeof *exit);
    memset(kernel, 0, sizeof *kernel);
    memset(user, 0, sizeof *user);
    creation->dwLowDateTime = (DWORD)h->created;
    creation->dwHighDateTime = (DWORD)(h->created >> 32);
    if (!simwin::HandleProcessRuns(*h)) *exit = *creation, exit->dwLowDateTime |= 1; // has ended
    return TRUE;
}

/* Any exported function, as GetProcAddress hands it out. */
template <class F> FARPROC Export(F* fn) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(fn));
}

FARPROC Lookup(const std::string& key, const std::string& function) {
    if (key == "kernel32.dll") {
        if (function == "CreateToolhelp32Snapshot") return Export(SimCreateToolhelp32Snapshot);
        if (function == "Process32First") return Export(SimProcess32First);
        if (function == "Process32Next") return Export(SimProcess32Next);
        if (function == "QueryFullProcessImageNameA") return Export(SimQueryFullProcessImageNameA);
        if (function == "QueryFullProcessImageNameW") return Export(SimQueryFullProcessImageNameW);
        if (function == "GetProcessTimes") return Export(SimGetProcessTimes);
        if (function == "QueryDosDeviceA") return Export(SimQueryDosDeviceA);
        if (function == "VirtualQueryEx") return Export(SimVirtualQueryEx);
        if (function == "CreateFileW") return Export(SimCreateFileW);
        if (FARPROC wow64 = simwin::Wow64Export(function)) return wow64;
        if (FARPROC files = simwin::FilesExport(function)) return files;
    }
    if (key == "advapi32.dll" && function == "QueryServiceConfigA")
        return Export(QueryServiceConfigA);
    if (key == "advapi32.dll" && function == "QueryServiceStatusEx")
        return Export(QueryServiceStatusEx);
    if (FARPROC file = simwin::FileExport(key, function)) return file;
    if (key == "psapi.dll") {
        if (function == "EnumProcesses") return Export(SimEnumProcesses);
        if (function == "GetModuleFileNameExA") return Export(SimGetModuleFileNameExA);
        if (function == "GetProcessImageFileNameA") return Export(SimGetProcessImageFileNameA);
        if (function == "GetProcessImageFileNameW") return Export(SimGetProcessImageFileNameW);
        if (function == "GetMappedFileNameA") return Export(SimGetMappedFileNameA);
        if (function == "GetMappedFileNameW") return Export(SimGetMappedFileNameW);
    }
    return nullptr;
}

} // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (simwin::Fails("LoadLibraryA")) return nullptr;
    const std::string name = fileName ? fileName : "";
    std::string key = LibraryKey(name);
    const Library* lib = Known(key);
    const size_t slash = name.find_last_of("\\/");
    if (slash == std::string::npos) {
        if (key == "psapi.dll") searchedLoads++; // the others are loaded from the start
    } else if (Lower(name.substr(0, slash)) != Lower(simwin::SystemDirectory())) {
        lib = nullptr;
    }
    if (!lib || !Present(key)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    loads[key]++;
    return reinterpret_cast<HMODULE>(lib->base);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (simwin::Fails("GetProcAddress")) return nullptr;
    const Library* lib = ByHandle(module);
    if (!lib || loads[lib->name] <= 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Names only: an ordinal (a value below 0x10000) is not modelled.
    FARPROC fn =
        reinterpret_cast<uintptr_t>(procName) < 0x10000 ? nullptr : Lookup(lib->name, procName);
    if (!fn || !Exported(lib->name, procName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return fn;
}

BOOL FreeLibrary(HMODULE module) {
    if (simwin::Fails("FreeLibrary")) return FALSE;
    const Library* lib = ByHandle(module);
    if (!lib || loads[lib->name] <= 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    loads[lib->name]--;
    return TRUE;
}

namespace simwin {

int SearchedLoads() { return searchedLoads; }

void SetLibraryPresent(const std::string& name, bool present) {
    libraryPresent[LibraryKey(name)] = present;
}

void SetExportPresent(const std::string& library, const std::string& function, bool present) {
    exportPresent[LibraryKey(library)][function] = present;
}

void SetDosDevice(char letter, const std::string& target) {
    dosDevices[(char)toupper((unsigned char)letter)] = target;
}

int LoadCount(const std::string& name) {
    auto it = loads.find(LibraryKey(name));
    return it == loads.end() ? 0 : it->second;
}

} // namespace simwin
