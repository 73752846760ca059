/*
** Restarting the computer when a removal needs it.
**
** On the NT family the program's token must enable the shutdown privilege
** before Windows accepts a reboot request; the 9x family has no tokens and
** takes the request as it is. The reboot is forced: running programs are
** closed without being asked.
*/
#include "actions/restart.h"
#include "platform/platform.h"
#include "platform/win32.h"

/* Enables SeShutdownPrivilege in the program's token. Returns 0 when it is
   enabled, else the error code that explains why not. AdjustTokenPrivileges
   succeeds even when the account does not hold the privilege, and then
   leaves ERROR_NOT_ALL_ASSIGNED, so the last error is what decides. */
static DWORD EnableShutdownPrivilege(HANDLE token) {
    TOKEN_PRIVILEGES tp;
    memset(&tp, 0, sizeof tp);
    tp.PrivilegeCount = 1;
    if (!LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid)) {
        DWORD error = GetLastError();
        return error ? error : ERROR_NO_SUCH_PRIVILEGE;
    }
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    BOOL adjusted = AdjustTokenPrivileges(token, FALSE, &tp, 0, NULL, NULL);
    DWORD error = GetLastError();
    if (!adjusted && error == ERROR_SUCCESS) error = ERROR_NOT_ALL_ASSIGNED;
    return error;
}

int32_t RestartComputer() {
    if (GetPlatform() != PLATFORM_WIN9X) {
        HANDLE token = NULL;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return 0;
        DWORD error = EnableShutdownPrivilege(token);
        CloseHandle(token);
        if (error != ERROR_SUCCESS) return (int32_t)error;
    }
    return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
}
