/*
** Privileges and the service control manager, as the NT process scan, the
** restart and the service stop rely on them.
*/
#include "check.h"
#include "stage.h"

namespace {

/* Enables `name` through a token opened with `access`; the call's result
   and the last error right after it. */
std::pair<BOOL, DWORD> Enable(const char* name, DWORD access) {
    HANDLE token = nullptr;
    CHECK(OpenProcessToken(GetCurrentProcess(), access, &token));
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    CHECK(LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid));
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(12345);
    BOOL ok = AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
    DWORD error = GetLastError();
    CHECK(CloseHandle(token));
    return {ok, error};
}

} // namespace

CASE(PrivilegesAreEnabledThroughAnAdjustableToken) {
    // Success clears the last error: ERROR_NOT_ALL_ASSIGNED would have said
    // that the privilege is not held.
    auto done = Enable(SE_DEBUG_NAME, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    CHECK(done.first);
    CHECK_EQ(done.second, (DWORD)ERROR_SUCCESS);
    auto refused = Enable(SE_SHUTDOWN_NAME, TOKEN_QUERY);
    CHECK(!refused.first);
    CHECK_EQ(refused.second, (DWORD)ERROR_ACCESS_DENIED);
    LUID luid;
    CHECK(!LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_NO_SUCH_PRIVILEGE);
}

CASE(UnknownServicesCannotBeOpened) {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    CHECK(scm != nullptr);
    CHECK(OpenServiceA(scm, "CleanPhantaxis No Such Service", SERVICE_ALL_ACCESS) == nullptr);
    CHECK_EQ(GetLastError(), (DWORD)ERROR_SERVICE_DOES_NOT_EXIST);
    CHECK(CloseServiceHandle(scm));
}

/* Windows 95, 98 and ME have neither tokens nor a service control manager:
   both calls fail with ERROR_CALL_NOT_IMPLEMENTED. */
MODEL(NoTokensOrServicesOnWindows9x, stage::kWindows98) {
    HANDLE token = nullptr;
    CHECK(!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_CALL_NOT_IMPLEMENTED);
    CHECK(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT) == nullptr);
    CHECK_EQ(GetLastError(), (DWORD)ERROR_CALL_NOT_IMPLEMENTED);
}
