/*
** Platform detection. Both tests ask the system afresh on every call. And
** the privileges the program enables for the files it reads and deletes.
*/
#include "platform/platform.h"
#include "platform/win32.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record both tests hand over");

static bool QueryVersion(OSVERSIONINFOA* info) {
    memset(info, 0, sizeof *info);
    info->dwOSVersionInfoSize = sizeof *info; // 148
    return GetVersionExA(info) != 0;
}

int32_t GetPlatform() {
    OSVERSIONINFOA info;
    if (!QueryVersion(&info)) return PLATFORM_NONE;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return PLATFORM_WIN9X;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) return PLATFORM_NT;
    return PLATFORM_OTHER;
}

int32_t GetNtGeneration() {
    OSVERSIONINFOA info;
    if (!QueryVersion(&info) || info.dwPlatformId != VER_PLATFORM_WIN32_NT) return NTGEN_NONE;
    if (info.dwMajorVersion <= 4) return NTGEN_4;
    if (info.dwMajorVersion == 5) return NTGEN_5;
    return NTGEN_NONE;
}

void EnableBackupPrivileges() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    static const char* const names[] = {SE_BACKUP_NAME, SE_RESTORE_NAME};
    for (const char* name : names) {
        TOKEN_PRIVILEGES tp;
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueA(NULL, name, &tp.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &tp, 0, NULL, NULL);
    }
    CloseHandle(token);
}
