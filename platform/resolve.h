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

#ifndef WINAPI
#define WINAPI
#endif

/* A function of the table: its name, and Fn its pointer type. Made only by
   the table. */
template <class F> class Listed {
  public:
    typedef F Fn;
    const char* name() const { return name_; }

  private:
    constexpr explicit Listed(const char* name) : name_(name) {}
    const char* name_;
    friend struct Resolvable;
};

struct Resolvable {
    static constexpr Listed<BOOL(WINAPI*)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID)>
        GetFileAttributesExA{"GetFileAttributesExA"};
    static constexpr Listed<BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD)> GetVolumeNameForVolumeMountPointA{
        "GetVolumeNameForVolumeMountPointA"};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, DWORD*)> QueryFullProcessImageNameA{
        "QueryFullProcessImageNameA"};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, DWORD*)>
        QueryFullProcessImageNameW{"QueryFullProcessImageNameW"};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, LPSTR, DWORD)> GetProcessImageFileNameA{
        "GetProcessImageFileNameA"};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD)> GetProcessImageFileNameW{
        "GetProcessImageFileNameW"};
    static constexpr Listed<DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD)> QueryDosDeviceA{
        "QueryDosDeviceA"};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD)> GetModuleFileNameExA{
        "GetModuleFileNameExA"};
    static constexpr Listed<SIZE_T(WINAPI*)(HANDLE, LPCVOID, MEMORY_BASIC_INFORMATION*, SIZE_T)>
        VirtualQueryEx{"VirtualQueryEx"};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, LPVOID, LPSTR, DWORD)> GetMappedFileNameA{
        "GetMappedFileNameA"};
    static constexpr Listed<DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD)> GetMappedFileNameW{
        "GetMappedFileNameW"};
    static constexpr Listed<BOOL(WINAPI*)(DWORD*, DWORD, DWORD*)> EnumProcesses{"EnumProcesses"};
    static constexpr Listed<HANDLE(WINAPI*)(DWORD, DWORD)> CreateToolhelp32Snapshot{
        "CreateToolhelp32Snapshot"};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*)> Process32First{
        "Process32First"};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*)> Process32Next{"Process32Next"};
    static constexpr Listed<BOOL(WINAPI*)(SC_HANDLE, QUERY_SERVICE_CONFIGA*, DWORD, DWORD*)>
        QueryServiceConfigA{"QueryServiceConfigA"};
    static constexpr Listed<BOOL(WINAPI*)(HANDLE, BOOL*)> IsWow64Process{"IsWow64Process"};
    /* Windows 98 and 2000 on; the window code's test of who sent a message. */
    static constexpr Listed<DWORD(WINAPI*)(LPVOID)> InSendMessageEx{"InSendMessageEx"};
    static constexpr Listed<BOOL(WINAPI*)(void**)> Wow64DisableWow64FsRedirection{
        "Wow64DisableWow64FsRedirection"};
    static constexpr Listed<BOOL(WINAPI*)(void*)> Wow64RevertWow64FsRedirection{
        "Wow64RevertWow64FsRedirection"};

  private:
    /* Opens files: the file door's alone (platform/open_file.cpp). */
    static constexpr Listed<HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                            DWORD, HANDLE)>
        CreateFileW{"CreateFileW"};
    friend struct WideDoor;

    /* GetProcAddress(module, name), the program's one outside actions/
       (platform/resolve.cpp); null for a null module. */
    static FARPROC Find(HMODULE module, const char* name);
    template <class Fn> friend Fn Resolve(HMODULE module, const Listed<Fn>& function);
};

/* The function of `module` as its pointer type; null when the module is
   null (nothing is asked then) or lacks the function. */
template <class Fn> Fn Resolve(HMODULE module, const Listed<Fn>& function) {
    // Through the generic function pointer type: a direct cast between
    // unrelated function types draws a warning.
    return reinterpret_cast<Fn>(
        reinterpret_cast<void (*)()>(Resolvable::Find(module, function.name())));
}

/* The same, with `library` loaded first (LoadLibraryA). */
template <class Fn> Fn Resolve(const char* library, const Listed<Fn>& function) {
    return Resolve<Fn>(LoadLibraryA(library), function);
}

#endif
