/*
** The table's names and its lookup, and the system's libraries loaded from
** the system's folder alone. A name is found only by the address of
** its entry: the names live here, out of reach of code that would hand
** Resolve an object of its own making.
*/
#include "platform/resolve.h"
#include "platform/join_path.h"

// Each name spelled by its entry's own (the preprocessor's), so the two
// cannot differ.
#define ENTRY(f)                                                                                   \
    { &Resolvable::f, #f }
namespace {

const struct {
    const void* entry;
    const char* name;
} kEntries[] = {
    ENTRY(GetFileAttributesExA),
    ENTRY(GetVolumeNameForVolumeMountPointA),
    ENTRY(QueryFullProcessImageNameA),
    ENTRY(QueryFullProcessImageNameW),
    ENTRY(GetProcessImageFileNameA),
    ENTRY(GetProcessImageFileNameW),
    ENTRY(QueryDosDeviceA),
    ENTRY(GetModuleFileNameExA),
    ENTRY(VirtualQueryEx),
    ENTRY(GetMappedFileNameA),
    ENTRY(GetMappedFileNameW),
    ENTRY(EnumProcesses),
    ENTRY(CreateToolhelp32Snapshot),
    ENTRY(Process32First),
    ENTRY(Process32Next),
    ENTRY(QueryServiceConfigA),
    ENTRY(IsWow64Process),
    ENTRY(InSendMessageEx),
    ENTRY(Wow64DisableWow64FsRedirection),
    ENTRY(Wow64RevertWow64FsRedirection),
};
#undef ENTRY

} // namespace

FARPROC Resolvable::Find(HMODULE module, const void* entry) {
    if (!module) return nullptr;
    for (const auto& e : kEntries)
        if (e.entry == entry) return GetProcAddress(module, e.name);
    return nullptr;
}

HMODULE LoadSystemLibrary(const char* name) {
    if (strpbrk(name, "\\/:")) return nullptr;
    // Mapped into every process before its first instruction: a bare name
    // gives the module loaded already, with no search (and is right with the
    // WoW64 redirection off, where a path into System32 names the 64-bit one).
    if (_stricmp(name, "kernel32.dll") == 0 || _stricmp(name, "ntdll.dll") == 0)
        return LoadLibraryA(name);
    char folder[MAX_PATH], path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder || !JoinPath(path, sizeof path, folder, "\\", name))
        return nullptr;
    return LoadLibraryA(path);
}
