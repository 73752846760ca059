/*
** simwin: WoW64: the flag, the redirection switch, the redirected paths and
** the registry's two views of Software.
*/
#include "simwin/wow64.h"
#include "simwin/crt.h"
#include "simwin/modules.h"
#include "simwin/processes.h"
#include "simwin/registry.h"
#include "simwin/security.h"
#include "simwin/system.h"

#include <set>

namespace {

bool wow64 = false;
bool redirectionOff = false;
std::set<DWORD> wow64Processes;

simwin::ResetHook resetWow64([] {
    wow64 = false;
    redirectionOff = false;
    wow64Processes.clear();
});

/* The length of `folder` when `path` lies in it (or is it), else 0. */
size_t InFolder(const std::string& path, const std::string& folder) {
    size_t n = folder.size();
    if (n == 0 || path.size() < n || _strnicmp(path.c_str(), folder.c_str(), n) != 0) return 0;
    return path.size() == n || path[n] == '\\' || path[n] == '/' ? n : 0;
}

/* The system folder's subfolders that stay shared (drivers\etc, ...). */
bool Shared(const std::string& rest) {
    if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) return false;
    for (const char* folder :
         {"drivers\\etc", "spool", "catroot", "catroot2", "logfiles", "driverstore"})
        if (InFolder(rest.substr(1), folder)) return true;
    return false;
}

bool AtLeast(DWORD major, DWORD minor) {
    OSVERSIONINFOA v = simwin::Version();
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           (v.dwMajorVersion > major || (v.dwMajorVersion == major && v.dwMinorVersion >= minor));
}

BOOL WINAPI SimIsWow64Process(HANDLE process, BOOL* result) {
    if (simwin::Fails("IsWow64Process")) return FALSE;
    if (!result) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (process == GetCurrentProcess()) {
        *result = wow64;
        return TRUE;
    }
    // Another process: its handle must carry the query right.
    auto h = simwin::HandleAs<simwin::ProcessHandle>(process);
    const DWORD refused = !h                                         ? ERROR_INVALID_HANDLE
                          : !(h->access & PROCESS_QUERY_INFORMATION) ? ERROR_ACCESS_DENIED
                                                                     : 0;
    if (refused) {
        SetLastError(refused);
        return FALSE;
    }
    *result = wow64 && wow64Processes.count(h->pid) ? TRUE : FALSE;
    return TRUE;
}

/* What both halves of the redirection switch refuse first: a fault placed
   on `function`, then any call outside WoW64 (ERROR_INVALID_FUNCTION). */
bool SwitchRefuses(const char* function) {
    if (simwin::Fails(function)) return true;
    if (!wow64) SetLastError(ERROR_INVALID_FUNCTION);
    return !wow64;
}

BOOL WINAPI SimWow64DisableWow64FsRedirection(void** previous) {
    if (SwitchRefuses("Wow64DisableWow64FsRedirection")) return FALSE;
    if (!previous) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *previous = reinterpret_cast<void*>((uintptr_t)(redirectionOff ? 1 : 0));
    redirectionOff = true;
    return TRUE;
}

BOOL WINAPI SimWow64RevertWow64FsRedirection(void* previous) {
    if (SwitchRefuses("Wow64RevertWow64FsRedirection")) return FALSE;
    redirectionOff = reinterpret_cast<uintptr_t>(previous) != 0;
    return TRUE;
}

template <class F> FARPROC Export(F* fn) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(fn));
}

} // namespace

namespace simwin {

void SetWow64(bool on) {
    wow64 = on;
    // A 32-bit program's environment there: its own Program Files variables
    // name the "(x86)" folders, the W6432 ones the folders a 64-bit
    // program's variables name; those two exist from Windows 7 on ("WOW64
    // Implementation Details", learn.microsoft.com/windows/win32/winprog64/
    // wow64-implementation-details: "ProgramW6432 and CommonProgramW6432 ...
    // were added starting with Windows 7 and Windows Server 2008 R2"). Set
    // the version first.
    const std::string root = WindowsDirectory().substr(0, 3);
    const bool w6432 = AtLeast(6, 1);
    const std::pair<const char*, std::string> vars[] = {
        {"ProgramFiles", root + "Program Files (x86)"},
        {"ProgramFiles(x86)", root + "Program Files (x86)"},
        {"ProgramW6432", root + "Program Files"},
        {"CommonProgramFiles", root + "Program Files (x86)\\Common Files"},
        {"CommonProgramFiles(x86)", root + "Program Files (x86)\\Common Files"},
        {"CommonProgramW6432", root + "Program Files\\Common Files"},
    };
    for (const auto& [name, value] : vars)
        SetEnvironmentVariableA(name,
                                on && (w6432 || !strstr(name, "W6432")) ? value.c_str() : nullptr);
}
bool Wow64() { return wow64; }
void SetWow64Process(DWORD pid) { wow64Processes.insert(pid); }
bool RedirectionOff() { return redirectionOff; }

std::string Redirected(const std::string& path) {
    if (!wow64 || redirectionOff) return path;
    size_t n = InFolder(path, SystemDirectory());
    if (n == 0 || Shared(path.substr(n))) return path;
    return WindowsDirectory() + "\\SysWOW64" + path.substr(n);
}

std::string RegistryPath(HKEY key, const char* subKey, REGSAM sam) {
    std::string path = subKey ? subKey : "";
    if (!wow64 || key != HKEY_LOCAL_MACHINE || (sam & KEY_WOW64_64KEY)) return path;
    size_t n = InFolder(path, "Software");
    if (n == 0) return path;
    std::string rest = path.substr(n);
    if (InFolder(rest.empty() ? rest : rest.substr(1), "Wow6432Node")) return path;
    return path.substr(0, n) + "\\Wow6432Node" + rest;
}

bool RefusesViewBits(REGSAM sam) {
    return !wow64 && (sam & (KEY_WOW64_64KEY | KEY_WOW64_32KEY)) &&
           PlatformId() == VER_PLATFORM_WIN32_NT && !AtLeast(5, 1);
}

FARPROC Wow64Export(const std::string& function) {
    if (function == "IsWow64Process") return AtLeast(5, 1) ? Export(SimIsWow64Process) : nullptr;
    bool switchPresent = wow64 || AtLeast(6, 0);
    if (function == "Wow64DisableWow64FsRedirection")
        return switchPresent ? Export(SimWow64DisableWow64FsRedirection) : nullptr;
    if (function == "Wow64RevertWow64FsRedirection")
        return switchPresent ? Export(SimWow64RevertWow64FsRedirection) : nullptr;
    return nullptr;
}

} // namespace simwin
