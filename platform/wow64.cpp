/*
** WoW64: detection, the redirection switch, the registry views and the
** translation of a 32-bit program's paths.
*/
#include "platform/wow64.h"
#include "engine/scan_state.h"
#include "platform/join_path.h"
#include "platform/registry_value.h"
#include "platform/resolve.h"

#include <stdlib.h>

namespace {

typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, BOOL*);
typedef BOOL(WINAPI* DisableRedirectionFn)(void**);
typedef BOOL(WINAPI* RevertRedirectionFn)(void*);

/* kernel32's WoW64 functions, facts of the Windows the program runs on:
   found by DetectWow64 and kept for the whole process. */
struct {
    DisableRedirectionFn disableRedirection; // with its revert, or neither
    RevertRedirectionFn revertRedirection;
} s_wow64;

/* Whether `path` begins with the folder `folder` (any case), followed by a
   backslash or its end; the folder's length, else 0. */
size_t InFolder(const char* path, const char* folder) {
    size_t n = strlen(folder);
    if (n == 0 || _strnicmp(path, folder, n) != 0) return 0;
    return path[n] == '\\' || path[n] == 0 ? n : 0;
}

/* Folders of the system folder that WoW64 leaves where they are: a 32-bit
   program reaches the real ones under the System32 name. */
const char* const kShared[] = {"drivers\\etc", "spool",    "catroot",
                               "catroot2",     "logfiles", "driverstore"};

bool Shared(const char* rest) {
    if (*rest != '\\') return false;
    for (const char* folder : kShared)
        if (InFolder(rest + 1, folder)) return true;
    return false;
}

} // namespace

void DetectWow64() {
    g_scan.wow64 = FALSE;
    s_wow64.disableRedirection = nullptr;
    s_wow64.revertRedirection = nullptr;
    HMODULE kernel = LoadSystemLibrary("Kernel32.dll");
    IsWow64ProcessFn query = Resolve<IsWow64ProcessFn>(kernel, Resolvable::IsWow64Process);
    BOOL wow64 = FALSE;
    if (!query || !query(GetCurrentProcess(), &wow64) || !wow64) return;
    g_scan.wow64 = TRUE;
    auto disable =
        Resolve<DisableRedirectionFn>(kernel, Resolvable::Wow64DisableWow64FsRedirection);
    auto revert = Resolve<RevertRedirectionFn>(kernel, Resolvable::Wow64RevertWow64FsRedirection);
    if (disable && revert) {
        s_wow64.disableRedirection = disable;
        s_wow64.revertRedirection = revert;
    }
}

NativeFileNames::NativeFileNames() : previous_(nullptr), off_(false) {
    if (g_scan.wow64 && s_wow64.disableRedirection && s_wow64.revertRedirection)
        off_ = s_wow64.disableRedirection(&previous_) != 0;
}

NativeFileNames::~NativeFileNames() {
    if (off_) s_wow64.revertRedirection(previous_);
}

int RegistryViews(REGSAM views[2]) {
    if (!g_scan.wow64) {
        views[0] = 0;
        return 1;
    }
    views[0] = KEY_WOW64_32KEY;
    views[1] = KEY_WOW64_64KEY;
    return 2;
}

bool NativePath(const char* path, char* out, size_t size) {
    if (size == 0) return false;
    out[0] = 0;
    char systemDir[MAX_PATH], windows[MAX_PATH], wow64[MAX_PATH], alias[MAX_PATH];
    UINT n = g_scan.wow64 ? GetSystemDirectoryA(systemDir, sizeof systemDir) : 0;
    const char* cut = n > 0 && n < sizeof systemDir ? strrchr(systemDir, '\\') : nullptr;
    if (cut) {
        // The Windows folder is the system folder's parent ("C:\Windows").
        memcpy(windows, systemDir, (size_t)(cut - systemDir));
        windows[cut - systemDir] = 0;
        if (JoinPath(wow64, sizeof wow64, windows, "\\SysWOW64") &&
            JoinPath(alias, sizeof alias, windows, "\\Sysnative")) {
            size_t k = InFolder(path, systemDir);
            if (k && !Shared(path + k)) {
                if (JoinPath(out, size, wow64, path + k)) return true;
                out[0] = 0;
                return false;
            }
            k = InFolder(path, alias);
            if (k) {
                if (JoinPath(out, size, systemDir, path + k)) return true;
                out[0] = 0;
                return false;
            }
        }
    }
    if (JoinPath(out, size, path, "")) return true;
    out[0] = 0;
    return false;
}

bool NativeFolderVariable(const char* name, char* out, size_t size) {
    static const char* const kFolders[][3] = {
        {"ProgramFiles", "ProgramW6432", "ProgramFilesDir"},
        {"CommonProgramFiles", "CommonProgramW6432", "CommonFilesDir"}};
    if (!g_scan.wow64 || size == 0 || size > 0xFFFF) return false;
    for (const auto& folder : kFolders) {
        if (_stricmp(name, folder[0]) != 0) continue;
        const DWORD n = GetEnvironmentVariableA(folder[1], out, (DWORD)size);
        if (n > 0 && n < size) return true;
        char* data;
        if (!ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                folder[2], &data, KEY_WOW64_64KEY, (DWORD)size))
            return false;
        const bool read = CopyPart(out, size, data, strlen(data)) && out[0];
        free(data);
        return read;
    }
    return false;
}
