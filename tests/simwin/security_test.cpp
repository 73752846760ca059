/*
** The simulated token's machinery (privileges a test withholds, refused and
** closed tokens, the previous state) and the shutdown requests it records.
** What tokens share with every Win32 is pinned in tests/conformance/.
*/
#include "world.h"

class SecurityTest : public WorldTest {};

/* A request to enable the privilege `name`. */
static TOKEN_PRIVILEGES Enabling(const char* name) {
    TOKEN_PRIVILEGES tp{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    EXPECT_TRUE(LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid));
    return tp;
}

/* Enables one privilege through a fresh token; returns the call's result and
   the last error right after it. */
static std::pair<BOOL, DWORD> Enable(const char* name) {
    HANDLE token = nullptr;
    EXPECT_TRUE(
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES tp = Enabling(name);
    SetLastError(12345);
    BOOL ok = AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
    DWORD error = GetLastError();
    EXPECT_TRUE(CloseHandle(token));
    return {ok, error};
}

TEST_F(SecurityTest, AdjustSucceedsButReportsPrivilegesNotHeld) {
    EXPECT_EQ(GetCurrentProcess(), (HANDLE)(intptr_t)-1);
    EXPECT_FALSE(simwin::PrivilegeEnabled(SE_SHUTDOWN_NAME));
    EXPECT_EQ(Enable(SE_SHUTDOWN_NAME), std::make_pair((BOOL)TRUE, (DWORD)ERROR_SUCCESS));
    EXPECT_TRUE(simwin::PrivilegeEnabled(SE_SHUTDOWN_NAME));
    EXPECT_FALSE(simwin::PrivilegeEnabled(SE_DEBUG_NAME));

    simwin::HoldPrivilege(SE_DEBUG_NAME, false);
    EXPECT_EQ(Enable(SE_DEBUG_NAME), std::make_pair((BOOL)TRUE, (DWORD)ERROR_NOT_ALL_ASSIGNED));
    EXPECT_FALSE(simwin::PrivilegeEnabled(SE_DEBUG_NAME));

    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(SecurityTest, ClosedOrRefusedTokens) {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    TOKEN_PRIVILEGES tp = Enabling(SE_DEBUG_NAME);
    CloseHandle(token);
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);

    simwin::FailCall("OpenProcessToken", ERROR_ACCESS_DENIED);
    token = nullptr;
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(SecurityTest, PreviousStateListsOnlyWhatChanged) {
    HANDLE token = nullptr;
    ASSERT_TRUE(
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES tp = Enabling(SE_DEBUG_NAME), prev{};
    DWORD len = 0;
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, sizeof prev, &prev, &len));
    EXPECT_EQ(prev.PrivilegeCount, 1u);
    EXPECT_EQ(prev.Privileges[0].Attributes, 0u);
    EXPECT_EQ(len, (DWORD)sizeof prev);
    // Restoring the earlier state disables it again.
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &prev, 0, nullptr, nullptr));
    EXPECT_FALSE(simwin::PrivilegeEnabled(SE_DEBUG_NAME));
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &tp, 4, &prev, &len));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(simwin::PrivilegeEnabled(SE_DEBUG_NAME));
    CloseHandle(token);
}

TEST_F(SecurityTest, RebootNeedsEnabledShutdownPrivilegeOnNtOnly) {
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_TRUE(simwin::ShutdownRequests().empty());
    EXPECT_TRUE(ExitWindowsEx(EWX_LOGOFF, 0));
    Enable(SE_SHUTDOWN_NAME);
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    EXPECT_EQ(simwin::ShutdownRequests(), (std::vector<UINT>{EWX_LOGOFF, 6}));

    Renew(simwin::SetWindows98);
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    simwin::FailCall("ExitWindowsEx", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(simwin::ShutdownRequests(), (std::vector<UINT>{EWX_REBOOT}));
}
