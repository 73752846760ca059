/*
** The table's names and its lookup, and the system's libraries loaded from
** the system's folder alone. A name is found only by the address of
** its entry: the names live here, out of reach of code that would hand
** Resolve an object of its own making.
*/
#include "platform/resolve.h"
#include "platform/join_path.h"

struct ResolveTable {
    struct Entry {
        const void* entry;
        const char* name;
    };
    static const Entry kEntries[];
};

// Each name spelled by its entry's own (the preprocessor's), so the two
// cannot differ.
#define ENTRY(f)                                                                                   \
    { &Resolvable::f, #f }
const ResolveTable::Entry ResolveTable::kEntries[] = {
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
    ENTRY(Wow64DisableWow64FsRedirection),
    ENTRY(Wow64RevertWow64FsRedirection),
    ENTRY(CreateFileW),
};
#undef ENTRY

FARPROC Resolvable::Find(HMODULE module, const void* entry) {
    if (!module) return nullptr;
    for (const ResolveTable::Entry& e : ResolveTable::kEntries)
        if (e.entry == entry) return GetProcAddress(module, e.name);
    return nullptr;
}

HMODULE LoadSystemLibrary(const char* name) {
    char folder[MAX_PATH], path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder || !JoinPath(path, sizeof path, folder, "\\", name))
        return nullptr;
    return LoadLibraryA(path);
}
