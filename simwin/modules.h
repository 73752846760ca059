/*
** simwin: libraries loaded at run time and the functions they export, for
** the process lists that are resolved by name: the tool-help functions of
** kernel32 (CreateToolhelp32Snapshot, Process32First, Process32Next; on NT
** GetProcessTimes, on Vista and later QueryFullProcessImageNameA), psapi.dll's
** EnumProcesses and GetModuleFileNameExA, and on NT advapi32's
** QueryServiceConfigA (services.h).
**
** Those five are reachable only through LoadLibraryA and GetProcAddress, as
** for a program that must also start where they are missing: nothing here
** declares them. Their behaviour follows Windows:
** - CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0) copies the process list
**   at that moment; Process32First and Process32Next walk the copy and fail
**   with ERROR_NO_MORE_FILES after the last entry, or with ERROR_BAD_LENGTH
**   when dwSize is smaller than the record. szExeFile is the image's full
**   path on Windows 9x and its bare file name on NT.
** - EnumProcesses(ids, bytes, &returned) fills as many identifiers as fit
**   and reports the bytes it filled; a full array means there may be more.
** - GetModuleFileNameExA(process, NULL, buffer, size) needs a handle with
**   PROCESS_QUERY_INFORMATION | PROCESS_VM_READ and gives the path the
**   process reports (see ProcessSpec::reportedPath), cut to size - 1
**   characters and terminated; it returns the characters copied, 0 on
**   failure (System has no image: ERROR_PARTIAL_COPY).
** - QueryFullProcessImageNameA(process, 0, buffer, &size) needs either query
**   right and gives the kernel's name of the image, its real path in the
**   drive form, whatever the process's loader record says; GetProcessTimes
**   gives its creation time.
** - GetProcessImageFileNameA(process, buffer, size) (psapi.dll, XP and
**   later) gives the same kernel's name in the device form
**   ("\Device\HarddiskVolume1\WINDOWS\x.exe"); QueryDosDeviceA("C:", ...)
**   (kernel32, NT) names the device a drive letter stands for, or what the
**   session defined for it (SetDosDevice). C: is the first hard disk volume,
**   D: the second, and so on. Both fail with ERROR_INSUFFICIENT_BUFFER where
**   the buffer is too small.
** - QueryFullProcessImageNameW (kernel32, Vista and later) and
**   GetProcessImageFileNameW (psapi.dll, XP and later) give the same names
**   in Unicode, each name as the file system stores it, no best fit.
** - VirtualQueryEx(process, address, &info, size) (kernel32, resolved by
**   name) describes the run of pages from `address` that share one state
**   and needs PROCESS_QUERY_INFORMATION; above the highest address a
**   program may use (0x7FFEFFFF) it fails with ERROR_INVALID_PARAMETER
**   (Microsoft's VirtualQueryEx page). A process's space holds its image
**   file (MEM_IMAGE) at 0x00400000 and kernel32.dll's at 0x7C800000, the rest
**   free.
** - GetMappedFileNameA(process, address, buffer, size) (psapi.dll, wherever
**   psapi.dll is) gives the kernel's name of the file mapped at the address,
**   in the device form, as the file is named now (Microsoft: "the name of
**   the memory-mapped file"); ERROR_UNEXP_NET_ERR where nothing is mapped,
**   ERROR_ACCESS_DENIED without PROCESS_QUERY_INFORMATION. On 2000 a handle
**   with PROCESS_QUERY_INFORMATION alone gets ERROR_UNEXP_NET_ERR for the
**   image (Wine's psapi tests, test_GetMappedFileName, "win2k").
** - psapi.dll is part of Windows from 2000 on; on NT 4.0 it is a
**   redistributable, absent unless a test installs it (SetLibraryPresent).
*/
#ifndef SIMWIN_MODULES_H
#define SIMWIN_MODULES_H

#include "simwin/base.h"
#include <string>

#define TH32CS_SNAPHEAPLIST 0x00000001
#define TH32CS_SNAPPROCESS 0x00000002
#define TH32CS_SNAPTHREAD 0x00000004
#define TH32CS_SNAPMODULE 0x00000008

#define ERROR_BAD_LENGTH 24L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L

/* The record as 32-bit Windows lays it out: 296 bytes. */
struct PROCESSENTRY32 {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    DWORD th32DefaultHeapID; // ULONG_PTR: 32 bits on 32-bit Windows
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    CHAR szExeFile[MAX_PATH];
};
typedef PROCESSENTRY32* LPPROCESSENTRY32;
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32 keeps its 32-bit layout");

#define MEM_COMMIT 0x00001000
#define MEM_FREE 0x00010000
#define MEM_IMAGE 0x01000000
#define ERROR_UNEXP_NET_ERR 59L

struct MEMORY_BASIC_INFORMATION {
    LPVOID BaseAddress;
    LPVOID AllocationBase;
    DWORD AllocationProtect;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
};

HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

namespace simwin {

/* Whether a library can be loaded (by file name, any case, ".dll" implied).
   Default: "kernel32.dll" everywhere, "psapi.dll" on the NT family only
   (the platform at the time of the load). */
void SetLibraryPresent(const std::string& name, bool present);
/* Whether a library exports a function. Default: kernel32 exports the three
   tool-help functions and psapi.dll its two. */
void SetExportPresent(const std::string& library, const std::string& function, bool present);
/* What QueryDosDeviceA gives for drive `letter` in this program's session
   (a subst's "\??\C:\folder", a network drive's redirector path). */
void SetDosDevice(char letter, const std::string& target);
/* Loads not yet matched by FreeLibrary. */
int LoadCount(const std::string& name);
/* Loads of psapi.dll asked by its bare name: Windows looks for a name that
   is not loaded already in the program's own folder first ("Dynamic-Link
   Library Search Order"; the program's process has kernel32, ntdll and
   advapi32 from its start, psapi.dll not), so each of these would have loaded
   a file planted there. A name with a folder
   loads the library only from the system folder (GetSystemDirectoryA's), the
   one folder that holds them here. */
int SearchedLoads();

} // namespace simwin

#endif
