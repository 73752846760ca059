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
#include "memory/wow64.h"
#include "memory/process_scan.h"
#include "engine/scan_state.h"
#include "engine/walk.h"
#include "memory/platform.h"
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

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32) == 296, "the 32-bit tool-help record");
#endif

/* Appends a zero-filled record; false when it cannot be allocated. */
static bool Append(ProcessImage** head, ProcessImage** tail, DWORD pid, const char* path,
                   size_t length) {
    ProcessImage* rec = (ProcessImage*)calloc(1, sizeof(ProcessImage));
    if (!rec) return false;
    rec->processId = pid;
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
        free(list);
        list = next;
    }
}

bool TerminateById(DWORD pid, DWORD access) {
    if (pid == GetCurrentProcessId()) return false;
    HANDLE process = OpenProcess(access, FALSE, pid);
    if (!process) return false;
    bool ended = TerminateProcess(process, 0) != 0;
    CloseHandle(process);
    return ended;
}

void EnableDebugPrivilege() {
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
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

/* The image path of process `pid` into `path` (MODULE_NAME_SIZE bytes);
   its length, 0 when the process cannot be opened or the path read. */
static DWORD ImagePathOf(DWORD pid, GetModuleFileNameExAFn moduleFileName, bool enableDebugOnDenied,
                         char* path) {
    HANDLE process = OpenProcess(kQueryRights, FALSE, pid);
    if (!process && enableDebugOnDenied && GetLastError() == ERROR_ACCESS_DENIED) {
        EnableDebugPrivilege();
        process = OpenProcess(kQueryRights, FALSE, pid);
    }
    if (!process) return 0;
    memset(path, 0, MODULE_NAME_SIZE);
    DWORD length = moduleFileName(process, NULL, path, MODULE_NAME_SIZE);
    path[MODULE_NAME_SIZE - 1] = 0;
    if (length > MODULE_NAME_SIZE - 1) length = MODULE_NAME_SIZE - 1;
    // A 32-bit process on 64-bit Windows names its image as 32-bit programs
    // see it (System32 for SysWOW64); the scan works with the real names.
    // Only a file that is there: a 32-bit program that a 64-bit one started
    // from the real System32 reports that folder by the same name.
    char native[MODULE_NAME_SIZE];
    if (length > 0 && IsWow64Child(process) && NativePath(path, native, sizeof native) &&
        strcmp(native, path) != 0 && _access(native, 0) == 0) {
        strcpy(path, native);
        length = (DWORD)strlen(path);
    }
    CloseHandle(process);
    return length;
}

ProcessImage* ListProcessesPsapi(bool enableDebugOnDenied, bool* listed) {
    *listed = false;
    HMODULE psapi = LoadLibraryA("psapi.dll"); // stays loaded
    if (!psapi) return NULL;
    EnumProcessesFn enumProcesses = ResolveFunction<EnumProcessesFn>(psapi, "EnumProcesses");
    if (!enumProcesses) return NULL;
    DWORD* ids = (DWORD*)calloc(PID_ARRAY_ENTRIES, sizeof(DWORD));
    if (!ids) return NULL;
    DWORD bytes = 0;
    if (!enumProcesses(ids, PID_ARRAY_ENTRIES * sizeof(DWORD), &bytes)) bytes = 0;
    DWORD count = bytes / sizeof(DWORD);
    if (count > PID_ARRAY_ENTRIES) count = PID_ARRAY_ENTRIES; // never past the array
    GetModuleFileNameExAFn moduleFileName =
        ResolveFunction<GetModuleFileNameExAFn>(psapi, "GetModuleFileNameExA");
    if (count == 0 || !moduleFileName) {
        free(ids);
        return NULL;
    }
    ProcessImage *head = NULL, *tail = NULL;
    char path[MODULE_NAME_SIZE];
    for (DWORD i = 0; i < count; i++) {
        DWORD length = ImagePathOf(ids[i], moduleFileName, enableDebugOnDenied, path);
        if (length == 0) continue;
        if (!Append(&head, &tail, ids[i], path, length)) {
            FreeProcessList(head);
            free(ids);
            return NULL;
        }
    }
    free(ids);
    *listed = true;
    return head;
}

/* The tool-help list: th32ProcessID and szExeFile of every snapshot entry.
   Null (and nothing listed) when any of the three functions is missing or
   the snapshot or its first entry fails: a list that stops after its first
   entry would be checked as if it were the whole. */
static ProcessImage* ListProcessesToolhelp() {
    HMODULE kernel = LoadLibraryA("Kernel32.dll"); // stays loaded
    if (!kernel) return NULL;
    CreateToolhelp32SnapshotFn createSnapshot =
        ResolveFunction<CreateToolhelp32SnapshotFn>(kernel, "CreateToolhelp32Snapshot");
    Process32Fn first = ResolveFunction<Process32Fn>(kernel, "Process32First");
    Process32Fn next = ResolveFunction<Process32Fn>(kernel, "Process32Next");
    if (!createSnapshot || !first || !next) return NULL;
    PROCESSENTRY32* entry = (PROCESSENTRY32*)calloc(1, sizeof(PROCESSENTRY32));
    if (!entry) return NULL;
    entry->dwSize = sizeof(PROCESSENTRY32);
    ProcessImage *head = NULL, *tail = NULL;
    HANDLE snapshot = createSnapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        if (first(snapshot, entry)) {
            do {
                // szExeFile comes from the system; never read past its 260 bytes.
                size_t length = 0;
                while (length < sizeof entry->szExeFile && entry->szExeFile[length])
                    length++;
                if (!Append(&head, &tail, entry->th32ProcessID, entry->szExeFile, length)) {
                    FreeProcessList(head);
                    head = NULL;
                    break;
                }
            } while (next(snapshot, entry));
        }
        CloseHandle(snapshot);
    }
    free(entry);
    return head;
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
    TerminateById(rec->processId, kTerminateRights); // a failure shows in the re-check
    Recheck(rec);
}

static void HandleVariantNt(const ProcessImage* rec) {
    const bool firstEnded = TerminateById(rec->processId, kTerminateRights);
    // A second attempt, also after a successful first one: it fails for a
    // process that has already ended, and that failure leads to the service.
    if (TerminateById(rec->processId, kTerminateRights)) {
        Recheck(rec);
        return;
    }
    const int32_t generation = GetNtGeneration();
    if (generation == NTGEN_4 || generation == NTGEN_5) {
        char service[SERVICE_NAME_SIZE];
        ServiceNameOf(rec->imagePath, service, sizeof service);
        if (StopService(service)) {
            DeleteServiceKeys(service);
            Recheck(rec);
            return;
        }
        DeleteServiceKeys(service);
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
    return true;
}

static int32_t CheckAll(ProcessImage* list, bool nt) {
    int32_t found = 0;
    for (const ProcessImage* rec = list; rec; rec = rec->next)
        if (CheckProcess(rec, nt)) found = 1;
    FreeProcessList(list);
    return found;
}

int32_t ScanProcessesToolhelp() { return CheckAll(ListProcessesToolhelp(), false); }

int32_t ScanProcessesPsapi() {
    bool listed;
    return CheckAll(ListProcessesPsapi(true, &listed), true);
}
