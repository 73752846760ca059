/*
** simwin: the program's access token and its privileges, and the shutdown
** request. A privilege can be held or not; AdjustTokenPrivileges enables only
** held ones and, like Windows, reports success with ERROR_NOT_ALL_ASSIGNED
** as the last error when it could not enable all of them.
*/
#ifndef SIMWIN_SECURITY_H
#define SIMWIN_SECURITY_H

#include "simwin/base.h"
#include <string>
#include <vector>

#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define TOKEN_QUERY 0x0008
#define SE_PRIVILEGE_ENABLED 0x00000002
#define SE_DEBUG_NAME "SeDebugPrivilege"
#define SE_SHUTDOWN_NAME "SeShutdownPrivilege"
#define SE_BACKUP_NAME "SeBackupPrivilege"
#define SE_RESTORE_NAME "SeRestorePrivilege"
#define EWX_LOGOFF 0
#define EWX_SHUTDOWN 1
#define EWX_REBOOT 2
#define EWX_FORCE 4

#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_PRIVILEGE_NOT_HELD 1314L

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
typedef LUID* PLUID;
struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
typedef TOKEN_PRIVILEGES* PTOKEN_PRIVILEGES;

HANDLE GetCurrentProcess();
DWORD GetCurrentProcessId();
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid);
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                           DWORD bufferLength, PTOKEN_PRIVILEGES previous, LPDWORD returnLength);
BOOL ExitWindowsEx(UINT flags, DWORD reason);

namespace simwin {

/* Whether the account holds the privilege (default: every one held, as by
   Administrators, none enabled). */
void HoldPrivilege(const std::string& name, bool held);
/* Whether the privilege is enabled in the program's token now. */
bool PrivilegeEnabled(const std::string& name);
/* Every ExitWindowsEx request Windows accepted (its flags), in order;
   nothing restarts. On NT a shutdown or reboot is accepted only while
   SeShutdownPrivilege is enabled; Windows 9x has no tokens at all
   (OpenProcessToken fails with ERROR_CALL_NOT_IMPLEMENTED) and accepts any. */
const std::vector<UINT>& ShutdownRequests();
/* The identifier GetCurrentProcessId reports (default 600). */
void SetCurrentProcessId(DWORD pid);

} // namespace simwin

#endif
