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

#include "actions/processes.h" // ListedProcess, TerminateListed, SameProcess
#include "engine/file_identity.h"
#include "platform/open_file.h"
#include "platform/win32.h"
#include <stdint.h>

/* One listed process. The list is built in enumeration order and owned by
   the call that builds it. The handle opened at listing stays open until the
   list is freed: while it is open Windows gives the identifier to no other
   process, and the process is terminated through it (TerminateListed).
   Records are made by the listing alone (ListProcessesPsapi,
   ListProcessesToolhelp). */
struct ProcessImage {
    uint32_t processId;
    /* Deliberate: 340 bytes for at most 259 characters and the terminator;
       the rest stays zero. The listing never cuts a path: a longer one is
       held by its short form (a process whose path has none is listed by
       its identity, longDrive); pinned by
       ProcessScanTest.ImagePathsAreReadAsDrivePathsOnly (the long path),
       KillProcessTest.XpAndLaterCompareTheFileInAnyCaseOrForm (one with no
       short form) and a
       static_assert in tests/world.cpp (the room). */
    char imagePath[340];
    ProcessImage* next;
    /* An image whose path is longer than 259 characters and has no short
       form: imagePath stays empty, and the image is the file `longImage` on
       drive `longDrive`, read through the "\\?\" form of the kernel's
       Unicode name of its mapping. 0: the record has its path. */
    char longDrive;
    FileId longImage;
    char longShown[260]; // its drive path in the lines, shortened to 259 characters
    /* The identity of the image file the process maps, read at listing
       (NT): the termination compares it, never a path opened later, which
       by then may name another file. false: it could not be read, and no
       termination by file reaches the process. */
    bool mapped;
    FileId mappedImage;
    ListedProcess listed; // the handle opened at listing (the proof)
    bool sharesHandle;    // that handle belongs to the record before (closed there)
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
typedef DWORD(WINAPI* GetProcessImageFileNameAFn)(HANDLE process, LPSTR name, DWORD size);
typedef DWORD(WINAPI* QueryDosDeviceAFn)(LPCSTR device, LPSTR target, DWORD size);
typedef BOOL(WINAPI* QueryFullProcessImageNameAFn)(HANDLE process, DWORD flags, LPSTR name,
                                                   DWORD* size);
typedef BOOL(WINAPI* QueryFullProcessImageNameWFn)(HANDLE process, DWORD flags, LPWSTR name,
                                                   DWORD* size);
typedef DWORD(WINAPI* GetProcessImageFileNameWFn)(HANDLE process, LPWSTR name, DWORD size);
typedef SIZE_T(WINAPI* VirtualQueryExFn)(HANDLE process, LPCVOID address,
                                         MEMORY_BASIC_INFORMATION* info, SIZE_T size);
typedef DWORD(WINAPI* GetMappedFileNameAFn)(HANDLE process, LPVOID address, LPSTR name, DWORD size);
typedef DWORD(WINAPI* GetMappedFileNameWFn)(HANDLE process, LPVOID address, LPWSTR name,
                                            DWORD size);
typedef BOOL(WINAPI* GetProcessTimesFn)(HANDLE process, FILETIME* creation, FILETIME* exit,
                                        FILETIME* kernel, FILETIME* user);

/* Lists the processes (psapi.dll's EnumProcesses): every process whose
   image path can be read, as a drive path (see DrivePathOf; other forms are
   left out). The path is the kernel's name of the image: kernel32's
   QueryFullProcessImageNameA on Vista and later, psapi's
   GetProcessImageFileNameA with the volume's drive letter on XP and 2003;
   only where neither exists (NT 4.0 with psapi.dll installed, 2000) the
   loader's record, GetModuleFileNameExA. That name is the name at the
   process's start, or what the process wrote into its record: where it does
   not name a program file the process has mapped as an image (VirtualQueryEx,
   psapi's GetMappedFileNameA: the kernel's name of each mapped file as it is
   named now), the one program file it maps is listed in its place (a file
   renamed since the start, a record that names another file); a process
   that maps more than one is left out, since a file mapped for its
   resources alone (LoadLibraryEx, LOAD_LIBRARY_AS_IMAGE_RESOURCE) is an
   image mapping too. Where no mapping can be read the name stands alone. The ANSI name is a
   best fit of the Unicode one: where a folder lists more than one entry
   under a part's name, or one its long name does not reach, the path is
   taken only as the file the process maps (by identity, through the
   Unicode name GetMappedFileNameW gives), reached by its 8.3 name where it
   must (ReachImagePath); a process whose image cannot be proved so is left
   out. Where Windows gives the kernel's name in Unicode too
   (QueryFullProcessImageNameW on Vista and later, GetProcessImageFileNameW
   on XP and 2003), a name the ANSI form cannot tell is confirmed by the
   identity of the file that name opens, which a mapping must share; such an
   image no ANSI path reaches is listed by its identity (longDrive). A path
   longer than 259 characters
   is listed by its short form, never cut; one with no short form (8.3
   names turned off) by its identity alone (longDrive), read through the
   "\\?\" form of its mapping's Unicode name. An image on a device no drive
   letter of this session names (a share, a volume without a letter) is
   left out. With `enableDebugOnDenied` (the memory scan's listing), an
   open refused with ERROR_ACCESS_DENIED enables SeDebugPrivilege and is
   tried once more, and a process left out because it runs from a file's
   stream is said so (the other listings say nothing). Sets *listed to false when psapi.dll or the
   functions are missing, the list is empty, or a record cannot be allocated (the result is null
   then). */
ProcessImage* ListProcessesPsapi(bool enableDebugOnDenied, bool* listed);
/* The one process `processId` as ListProcessesPsapi would list it (never
   enabling SeDebugPrivilege); null where it lists nothing. */
ProcessImage* ListProcessPsapi(uint32_t processId);
/* Lists the processes through tool help (Windows 9x: szExeFile is the full
   path); null when a function is missing or the snapshot fails. */
ProcessImage* ListProcessesToolhelp();
/* Frees the list and closes the handles it keeps. */
void FreeProcessList(ProcessImage* list);

#endif
