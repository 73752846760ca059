/*
** The process scans. Each builds the whole process list first, then checks
** the records one by one in list order, each completely (check, termination,
** service fallback, re-check) before the next.
**
** A record is checked by walking its image path while memoryScanMode is set:
** the walk shows the path and runs the file check on that one file, which
** sets fileMatched on a variant and leaves the file alone. After the process
** has been dealt with, the image is walked once more with pendingMemoryAction
** set to the scan's action, and the file check then disposes of it without
** matching it again (the "re-check").
*/
#include "platform/wow64.h"
#include "memory/process_scan.h"
#include "memory/image_path.h"
#include "engine/scan_state.h"
#include "engine/file_check.h"
#include "engine/walk.h"
#include "platform/platform.h"
#include "platform/resolve.h"
#include "memory/service_stop.h"
#include "repair/service_keys.h"

#include <stdlib.h>

enum {
    IMAGE_PATH_CHARS = 259,   // what the enumerations deliver at most
    PID_ARRAY_ENTRIES = 1024, // EnumProcesses array: 4096 bytes
    MODULE_NAME_SIZE = 260,
    SERVICE_NAME_SIZE = 516,
};

static const DWORD kTerminateRights = PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION; // 0x401
static const DWORD kQueryRights = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;       // 0x410
/* Vista and later: enough to read the image's name and the process's times. */
static const DWORD kLimitedRights = 0x1000; // PROCESS_QUERY_LIMITED_INFORMATION

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32) == 296, "the 32-bit tool-help record");
#endif

/* Appends a zero-filled record that takes over `process` (closed here when
   the record cannot be allocated); false then. */
static bool Append(ProcessImage** head, ProcessImage** tail, DWORD pid, const char* path,
                   size_t length, HANDLE process, bool canTerminate) {
    ProcessImage* rec = (ProcessImage*)calloc(1, sizeof(ProcessImage));
    if (!rec) {
        if (process) CloseHandle(process);
        return false;
    }
    rec->processId = pid;
    rec->process = process;
    rec->canTerminate = canTerminate;
    if (length > IMAGE_PATH_CHARS) length = IMAGE_PATH_CHARS;
    memcpy(rec->imagePath, path, length);
    if (*tail)
        (*tail)->next = rec;
    else
        *head = rec;
    *tail = rec;
    return true;
}

void FreeProcessList(ProcessImage* list) {
    while (list) {
        ProcessImage* next = list->next;
        if (list->process) CloseHandle(list->process);
        free(list);
        list = next;
    }
}

bool SameProcess(HANDLE a, HANDLE b) {
    GetProcessTimesFn times = Resolve<GetProcessTimesFn>("Kernel32.dll", "GetProcessTimes");
    FILETIME created[2], unused[3];
    return times && times(a, &created[0], &unused[0], &unused[1], &unused[2]) &&
           times(b, &created[1], &unused[0], &unused[1], &unused[2]) &&
           created[0].dwLowDateTime == created[1].dwLowDateTime &&
           created[0].dwHighDateTime == created[1].dwHighDateTime;
}

bool TerminateListed(const ProcessImage* rec) {
    if (!rec->process || rec->processId == GetCurrentProcessId()) return false;
    if (rec->canTerminate) return TerminateProcess(rec->process, 0) != 0;
    // The right may be granted now (the debug privilege enabled since): a
    // new handle, used only when it reaches the very process listed.
    HANDLE again = OpenProcess(kTerminateRights, FALSE, rec->processId);
    if (!again) return false;
    const bool ended = SameProcess(rec->process, again) && TerminateProcess(again, 0) != 0;
    CloseHandle(again);
    return ended;
}

void EnableDebugPrivilege() {
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        /* Deliberate: a box titled "TEMP" saying "false" when the token
           cannot be opened, once for each process the scan was refused. Its
           answer is not read: the scan waits until it is closed and goes on,
           and the adjustment below fails harmlessly; pinned by
           ProcessScanTest.EveryRefusedOpenAsksForTheDebugPrivilegeAgain. */
        MessageBoxA(NULL, "false", "TEMP", MB_OK);
        token = NULL; // the adjustment below then fails harmlessly
    }
    TOKEN_PRIVILEGES tp;
    memset(&tp, 0, sizeof tp);
    tp.PrivilegeCount = 1;
    LookupPrivilegeValueA(NULL, SE_DEBUG_NAME, &tp.Privileges[0].Luid);
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &tp, 0, NULL, NULL);
    if (token) CloseHandle(token);
}

/* ---- listing ---- */

/* How the processes are opened and their images read. */
struct ImageReaders {
    GetModuleFileNameExAFn moduleFileName;
    QueryFullProcessImageNameAFn fullName; // null: not wanted or missing
    bool enableDebugOnDenied;
};

/* Opens process `pid` to read its image, with the terminate right where it
   is granted (*canTerminate), else with the query rights alone. */
static HANDLE OpenListed(DWORD pid, const ImageReaders& readers, bool* canTerminate) {
    *canTerminate = true;
    HANDLE process = OpenProcess(kQueryRights | PROCESS_TERMINATE, FALSE, pid);
    if (process) return process;
    *canTerminate = false;
    process = OpenProcess(kQueryRights, FALSE, pid);
    if (!process && readers.enableDebugOnDenied && GetLastError() == ERROR_ACCESS_DENIED) {
        EnableDebugPrivilege();
        process = OpenProcess(kQueryRights, FALSE, pid);
    }
    if (process || !readers.fullName) return process;
    // What psapi cannot open fully may still give its name (Vista and later).
    *canTerminate = true;
    process = OpenProcess(kLimitedRights | PROCESS_TERMINATE, FALSE, pid);
    if (process) return process;
    *canTerminate = false;
    return OpenProcess(kLimitedRights, FALSE, pid);
}

/* The image path of process `pid` into `path` (MODULE_NAME_SIZE bytes), as
   a drive path, and the handle it was read through (kept open); its length,
   0 (nothing kept) when the process cannot be opened or the path read. */
static DWORD ImagePathOf(DWORD pid, const ImageReaders& readers, char* path, HANDLE* kept,
                         bool* canTerminate) {
    HANDLE process = OpenListed(pid, readers, canTerminate);
    if (!process) return 0;
    // Room to see a path longer than this program's (DrivePathOf refuses
    // it): cut to 259 characters it would name another file, maybe one
    // planted there.
    char reported[2 * MODULE_NAME_SIZE];
    memset(reported, 0, sizeof reported);
    DWORD length = readers.moduleFileName(process, NULL, reported, sizeof reported);
    reported[sizeof reported - 1] = 0;
    // A 32-bit process on 64-bit Windows names its image as 32-bit programs
    // see it (System32 for SysWOW64); the scan works with the real names.
    // Only a file that is there: a 32-bit program that a 64-bit one started
    // from the real System32 reports that folder by the same name.
    char native[MODULE_NAME_SIZE];
    if (length > 0 && IsWow64Child(process) && NativePath(reported, native, sizeof native) &&
        strcmp(native, reported) != 0 && _access(native, 0) == 0)
        strcpy(reported, native);
    // The full image name is the real path already, 32-bit processes' too.
    DWORD size = MODULE_NAME_SIZE;
    if (length == 0 && readers.fullName && readers.fullName(process, 0, reported, &size) &&
        size < MODULE_NAME_SIZE)
        length = size;
    // "\SystemRoot\..." and "\??\X:\..." name drive paths; anything else that
    // is not one, Windows would read on the current drive: not this image.
    if (length == 0 || !DrivePathOf(reported, path, MODULE_NAME_SIZE)) {
        CloseHandle(process);
        return 0;
    }
    *kept = process;
    return (DWORD)strlen(path);
}

ProcessImage* ListProcessesPsapi(bool enableDebugOnDenied, bool fullImageNames, bool* listed) {
    *listed = false;
    HMODULE psapi = LoadLibraryA("psapi.dll"); // stays loaded
    if (!psapi) return NULL;
    EnumProcessesFn enumProcesses = Resolve<EnumProcessesFn>(psapi, "EnumProcesses");
    if (!enumProcesses) return NULL;
    DWORD* ids = (DWORD*)calloc(PID_ARRAY_ENTRIES, sizeof(DWORD));
    if (!ids) return NULL;
    DWORD bytes = 0;
    if (!enumProcesses(ids, PID_ARRAY_ENTRIES * sizeof(DWORD), &bytes)) bytes = 0;
    DWORD count = bytes / sizeof(DWORD);
    if (count > PID_ARRAY_ENTRIES) count = PID_ARRAY_ENTRIES; // never past the array
    GetModuleFileNameExAFn moduleFileName =
        Resolve<GetModuleFileNameExAFn>(psapi, "GetModuleFileNameExA");
    if (count == 0 || !moduleFileName) {
        free(ids);
        return NULL;
    }
    ImageReaders readers = {moduleFileName, NULL, enableDebugOnDenied};
    if (fullImageNames)
        readers.fullName =
            Resolve<QueryFullProcessImageNameAFn>("Kernel32.dll", "QueryFullProcessImageNameA");
    ProcessImage *head = NULL, *tail = NULL;
    char path[MODULE_NAME_SIZE];
    for (DWORD i = 0; i < count; i++) {
        HANDLE process = NULL;
        bool canTerminate = false;
        DWORD length = ImagePathOf(ids[i], readers, path, &process, &canTerminate);
        if (length == 0) continue;
        if (!Append(&head, &tail, ids[i], path, length, process, canTerminate)) {
            FreeProcessList(head);
            free(ids);
            return NULL;
        }
    }
    free(ids);
    *listed = true;
    return head;
}

struct Toolhelp {
    CreateToolhelp32SnapshotFn createSnapshot;
    Process32Fn first, next;
};

/* th32ProcessID and szExeFile of every entry of a new snapshot, no handle
   kept; null when the snapshot, its first entry or a record fails. */
static ProcessImage* ReadSnapshot(const Toolhelp& help, PROCESSENTRY32* entry) {
    ProcessImage *head = NULL, *tail = NULL;
    HANDLE snapshot = help.createSnapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return NULL;
    if (help.first(snapshot, entry)) {
        do {
            // szExeFile comes from the system; never read past its 260 bytes.
            size_t length = 0;
            while (length < sizeof entry->szExeFile && entry->szExeFile[length])
                length++;
            if (!Append(&head, &tail, entry->th32ProcessID, entry->szExeFile, length, NULL,
                        false)) {
                FreeProcessList(head);
                head = NULL;
                break;
            }
        } while (help.next(snapshot, entry));
    }
    CloseHandle(snapshot);
    return head;
}

/* The tool-help list: th32ProcessID and szExeFile of every snapshot entry,
   each process opened at once (Windows 9x checks no rights). Null (and
   nothing listed) when any of the three functions is missing or the
   snapshot or its first entry fails: a list that stops after its first
   entry would be checked as if it were the whole. */
ProcessImage* ListProcessesToolhelp() {
    HMODULE kernel = LoadLibraryA("Kernel32.dll"); // stays loaded
    if (!kernel) return NULL;
    Toolhelp help = {
        Resolve<CreateToolhelp32SnapshotFn>(kernel, "CreateToolhelp32Snapshot"),
        Resolve<Process32Fn>(kernel, "Process32First"),
        Resolve<Process32Fn>(kernel, "Process32Next"),
    };
    if (!help.createSnapshot || !help.first || !help.next) return NULL;
    PROCESSENTRY32* entry = (PROCESSENTRY32*)calloc(1, sizeof(PROCESSENTRY32));
    if (!entry) return NULL;
    entry->dwSize = sizeof(PROCESSENTRY32);
    ProcessImage* list = ReadSnapshot(help, entry);
    for (ProcessImage* rec = list; rec; rec = rec->next) {
        rec->process = OpenProcess(kTerminateRights, FALSE, rec->processId);
        rec->canTerminate = true;
    }
    // An identifier may have gone to another process before its open; none
    // is given away while a handle is open. A second snapshot that lists the
    // identifier with the same image proves that the handle reaches the
    // process listed; any other handle is given up.
    ProcessImage* again = list ? ReadSnapshot(help, entry) : NULL;
    for (ProcessImage* rec = list; rec; rec = rec->next) {
        const ProcessImage* now = again;
        while (now && now->processId != rec->processId)
            now = now->next;
        if (rec->process && (!now || strcmp(now->imagePath, rec->imagePath) != 0)) {
            CloseHandle(rec->process);
            rec->process = NULL;
        }
    }
    FreeProcessList(again);
    free(entry);
    return list;
}

/* ---- the per-process check ---- */

/* Walks the image once more so that the file check disposes of it. */
static void Recheck(const ProcessImage* rec) {
    g_scan.pendingMemoryAction = g_scan.action;
    WalkDirectory(rec->imagePath);
    g_scan.pendingMemoryAction = 0;
}

/* The service a variant may run as: the image's file name without its last
   extension ("C:\WINNT\system32\abc.exe" -> "abc", "my.app.exe" -> "my.app"). */
static void ServiceNameOf(const char* imagePath, char* name, size_t size) {
    const char* slash = strrchr(imagePath, '\\');
    CopyText(name, size, slash ? slash + 1 : imagePath);
    char* dot = strrchr(name, '.');
    if (dot) *dot = 0;
}

static void HandleVariant9x(const ProcessImage* rec) {
    TerminateListed(rec); // a failure shows in the re-check
    Recheck(rec);
}

static void HandleVariantNt(const ProcessImage* rec) {
    const bool firstEnded = TerminateListed(rec);
    // A second attempt, also after a successful first one: it fails for a
    // process that has already ended, and that failure leads to the service.
    if (TerminateListed(rec)) {
        Recheck(rec);
        return;
    }
    const int32_t generation = GetNtGeneration();
    if (generation == NTGEN_4 || generation == NTGEN_5) {
        char service[SERVICE_NAME_SIZE];
        ServiceNameOf(rec->imagePath, service, sizeof service);
        // Only the variant's own service: one registered for its image file.
        // A service of that name that runs another program counts as none.
        if (StopServiceOfImage(service, rec->imagePath)) {
            DeleteServiceKeysOfImage(service, rec->imagePath);
            Recheck(rec);
            return;
        }
        DeleteServiceKeysOfImage(service, rec->imagePath);
        g_scan.memoryRestartNeeded = 1;
    }
    if (firstEnded) Recheck(rec);
}

/* Checks one record; true when its image is a variant. */
static bool CheckProcess(const ProcessImage* rec, bool nt) {
    int readable;
    {
        NativeFileNames native;
        readable = _access(rec->imagePath, 4);
    }
    if (readable == -1) return false; // unreadable: counts as clean
    WalkDirectory(rec->imagePath);
    if (!g_scan.fileMatched) return false;
    switch (g_scan.action) {
    case ACTION_DELETE:
    case ACTION_RENAME:
    case ACTION_DELETE_TOO:
        if (nt)
            HandleVariantNt(rec);
        else
            HandleVariant9x(rec);
        break;
    default: // report only: the process keeps running, its file untouched
        break;
    }
    ReleaseMatchedImage();
    return true;
}

static int32_t CheckAll(ProcessImage* list, bool nt) {
    int32_t found = 0;
    for (ProcessImage* rec = list; rec; rec = rec->next) {
        ReachImagePath(rec->imagePath, sizeof rec->imagePath); // by 8.3 names where it must
        if (CheckProcess(rec, nt)) found = 1;
    }
    FreeProcessList(list);
    return found;
}

int32_t ScanProcessesToolhelp() { return CheckAll(ListProcessesToolhelp(), false); }

int32_t ScanProcessesPsapi() {
    bool listed;
    return CheckAll(ListProcessesPsapi(true, false, &listed), true);
}
