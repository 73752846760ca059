/*
** Functions that not every supported Windows has, found by name at run time:
** an import of one would keep the program from loading at all on Windows 95
** or NT 4.0 (tests/e2e/check_imports.sh guards the import table). Outside
** actions/ a function is found only as an entry of the table below, each a
** reading function with its type, so the compiler refuses any other name
** (and a pointer type that is not the function's). A missing library or
** function gives null, and the caller then does without. A library loaded
** here stays loaded.
*/
#ifndef CLEANPHANTAXIS_RESOLVE_H
#define CLEANPHANTAXIS_RESOLVE_H

#include "platform/win32.h"

/* An entry of the table: its type gives Fn, the function's pointer type,
   and its address alone names the function (platform/resolve.cpp keeps the
   names, keyed by the entries' addresses). It holds nothing, and only the
   table makes one; an object made any other way (a specialization of this
   template of somebody's own) is no entry, and finds nothing. */
template <class F> class Listed {
  public:
    typedef F Fn;
    Listed(const Listed&) = delete;
    Listed& operator=(const Listed&) = delete;

  private:
    constexpr Listed() {}
    friend struct Resolvable;
};

struct Resolvable {
    static constexpr Listed<BOOL(WINAPI*)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID)>
        GetFileAttributesExA{};
    static constexpr Listed<BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD)>
        GetVolumeNameForVolumeMountPointA{};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, DWORD*)>
        QueryFullProcessImageNameA{};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, DWORD*)>
        QueryFullProcessImageNameW{};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, LPSTR, DWORD)> GetProcessImageFileNameA{};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD)> GetProcessImageFileNameW{};
    static constexpr Listed<DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD)> QueryDosDeviceA{};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD)> GetModuleFileNameExA{};
    static constexpr Listed<SIZE_T(WINAPI*)(HANDLE, LPCVOID, MEMORY_BASIC_INFORMATION*, SIZE_T)>
        VirtualQueryEx{};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, LPVOID, LPSTR, DWORD)> GetMappedFileNameA{};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD)> GetMappedFileNameW{};
    static constexpr Listed<BOOL(WINAPI*)(DWORD*, DWORD, DWORD*)> EnumProcesses{};
    static constexpr Listed<HANDLE(WINAPI*)(DWORD, DWORD)> CreateToolhelp32Snapshot{};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*)> Process32First{};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*)> Process32Next{};
    static constexpr Listed<BOOL(WINAPI*)(SC_HANDLE, QUERY_SERVICE_CONFIGA*, DWORD, DWORD*)>
        QueryServiceConfigA{};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, BOOL*)> IsWow64Process{};
    /* Windows 98 and 2000 on; the window code's test of who sent a message. */
    static constexpr Listed<DWORD(WINAPI*)(LPVOID)> InSendMessageEx{};
    static constexpr Listed<BOOL(WINAPI*)(void**)> Wow64DisableWow64FsRedirection{};
    static constexpr Listed<BOOL(WINAPI*)(void*)> Wow64RevertWow64FsRedirection{};

  private:
    /* GetProcAddress(module, the name of the entry at `entry`)
       (platform/resolve.cpp); null for a null module or an address that is
       no entry of the table. */
    static FARPROC Find(HMODULE module, const void* entry);
    template <class Fn> friend Fn Resolve(HMODULE module, const Listed<Fn>& function);
};

/* The function of `module` as its pointer type; null when the module is
   null (nothing is asked then) or lacks the function. */
template <class Fn> Fn Resolve(HMODULE module, const Listed<Fn>& function) {
    // Through the generic function pointer type: a direct cast between
    // unrelated function types draws a warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(Resolvable::Find(module, &function)));
}

/* The system's library `name` (a file name alone), loaded from the system's
   folder by its whole path. Windows looks for a bare name in the program's
   own folder first unless a module of that name is loaded already
   ("Dynamic-Link Library Search Order"), and a user who can write to the
   folder the administrator started the program from would have his own
   psapi.dll run as the administrator. kernel32.dll and ntdll.dll, loaded in
   every process, are taken by their bare names. Null when the library is
   missing, the name has a folder part or the path does not fit. */
HMODULE LoadSystemLibrary(const char* name);

/* The same, with the system's `library` loaded first. */
template <class Fn> Fn Resolve(const char* library, const Listed<Fn>& function) {
    return Resolve<Fn>(LoadSystemLibrary(library), function);
}

#endif
