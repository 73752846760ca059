/*
** The process scans: list every running process with its image file, check
** each image with the ordinary file check (through the walk in memory-scan
** mode), terminate the processes that run a variant and dispose of their
** image files. One scan per platform family: tool help on Windows 9x,
** psapi.dll on NT. The process-list functions are resolved by name at run
** time, so that the program also starts where they are missing.
*/
#ifndef CLEANPHANTAXIS_PROCESS_SCAN_H
#define CLEANPHANTAXIS_PROCESS_SCAN_H

#include "platform/win32.h"
#include <stdint.h>

/* One listed process. The list is built in enumeration order and owned by
   the call that builds it. */
struct ProcessImage {
    uint32_t processId;
    char imagePath[340]; // the enumerations deliver at most 259 characters
    ProcessImage* next;
};

/* Non-zero when some running process's image was judged a variant. */
int32_t ScanProcessesToolhelp();
int32_t ScanProcessesPsapi();

/* Enables SeDebugPrivilege in the program's token (result not reported). */
void EnableDebugPrivilege();

/* ---- shared with the termination by image file ---- */

/* The process-list functions, as resolved at run time. */
typedef HANDLE(WINAPI* CreateToolhelp32SnapshotFn)(DWORD flags, DWORD processId);
typedef BOOL(WINAPI* Process32Fn)(HANDLE snapshot, PROCESSENTRY32* entry);
typedef BOOL(WINAPI* EnumProcessesFn)(DWORD* ids, DWORD bytes, DWORD* bytesReturned);
typedef DWORD(WINAPI* GetModuleFileNameExAFn)(HANDLE process, HMODULE module, LPSTR name,
                                              DWORD size);

/* GetProcAddress as the wanted function type; null when it is missing. */
template <class Fn> Fn ResolveFunction(HMODULE module, const char* name) {
    // Through the generic function pointer type: a direct cast between
    // unrelated function types draws a warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

/* Lists the processes through psapi.dll: every process whose image path can
   be read. With `enableDebugOnDenied`, an open refused with
   ERROR_ACCESS_DENIED enables SeDebugPrivilege and is tried once more.
   Sets *listed to false when psapi.dll or one of its functions is missing,
   the list is empty, or a record cannot be allocated (the result is null
   then). */
ProcessImage* ListProcessesPsapi(bool enableDebugOnDenied, bool* listed);
void FreeProcessList(ProcessImage* list);

/* Opens process `pid` with `access` and terminates it with exit code 0,
   closing the handle. The program never terminates itself this way. */
bool TerminateById(DWORD pid, DWORD access);

#endif
