/*
** WoW64: detection, the redirection switch, the registry views and the
** translation of a 32-bit program's paths.
*/
#include "platform/wow64.h"
#include "engine/scan_state.h"

#ifndef WINAPI
#define WINAPI
#endif

namespace {

typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, BOOL*);
typedef BOOL(WINAPI* DisableRedirectionFn)(void**);
typedef BOOL(WINAPI* RevertRedirectionFn)(void*);

template <class Fn> Fn As(FARPROC function) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(function));
}

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

bool Compose(char* out, size_t size, const char* head, const char* tail) {
    size_t a = strlen(head), b = strlen(tail);
    if (a >= size || b >= size - a) return false;
    memcpy(out, head, a);
    memcpy(out + a, tail, b + 1);
    return true;
}

} // namespace

void DetectWow64() {
    g_scan.wow64 = FALSE;
    g_scan.isWow64Process = nullptr;
    g_scan.disableRedirection = nullptr;
    g_scan.revertRedirection = nullptr;
    HMODULE kernel = LoadLibraryA("Kernel32.dll");
    if (!kernel) return;
    FARPROC query = GetProcAddress(kernel, "IsWow64Process");
    BOOL wow64 = FALSE;
    if (!query || !As<IsWow64ProcessFn>(query)(GetCurrentProcess(), &wow64) || !wow64) return;
    g_scan.wow64 = TRUE;
    g_scan.isWow64Process = query;
    FARPROC disable = GetProcAddress(kernel, "Wow64DisableWow64FsRedirection");
    FARPROC revert = GetProcAddress(kernel, "Wow64RevertWow64FsRedirection");
    if (disable && revert) {
        g_scan.disableRedirection = disable;
        g_scan.revertRedirection = revert;
    }
}

NativeFileNames::NativeFileNames() : previous_(nullptr), off_(false) {
    if (g_scan.wow64 && g_scan.disableRedirection && g_scan.revertRedirection)
        off_ = As<DisableRedirectionFn>(g_scan.disableRedirection)(&previous_) != 0;
}

NativeFileNames::~NativeFileNames() {
    if (off_) As<RevertRedirectionFn>(g_scan.revertRedirection)(previous_);
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
    char system[MAX_PATH], windows[MAX_PATH], wow64[MAX_PATH], alias[MAX_PATH];
    UINT n = g_scan.wow64 ? GetSystemDirectoryA(system, sizeof system) : 0;
    const char* cut = n > 0 && n < sizeof system ? strrchr(system, '\\') : nullptr;
    if (cut) {
        // The Windows folder is the system folder's parent ("C:\Windows").
        memcpy(windows, system, (size_t)(cut - system));
        windows[cut - system] = 0;
        if (Compose(wow64, sizeof wow64, windows, "\\SysWOW64") &&
            Compose(alias, sizeof alias, windows, "\\Sysnative")) {
            size_t k = InFolder(path, system);
            if (k && !Shared(path + k)) {
                if (Compose(out, size, wow64, path + k)) return true;
                out[0] = 0;
                return false;
            }
            k = InFolder(path, alias);
            if (k) {
                if (Compose(out, size, system, path + k)) return true;
                out[0] = 0;
                return false;
            }
        }
    }
    if (Compose(out, size, path, "")) return true;
    out[0] = 0;
    return false;
}

bool IsWow64Child(HANDLE process) {
    BOOL wow64 = FALSE;
    return g_scan.isWow64Process && As<IsWow64ProcessFn>(g_scan.isWow64Process)(process, &wow64) &&
           wow64;
}
