/*
** Restart: the privilege step on NT, none on 9x, and a forced reboot.
*/
#include "actions/restart.h"
#include "world.h"

/* A way a restart goes: the Windows version, what RestartComputer gives
   (TRUE once it asked for the one forced reboot), and what fails there. */
struct Restart {
    const char* name;
    WindowsVersion version;
    int32_t result;
    void (*meddle)() = nullptr;
    bool privilegeStep = true;
};
using RestartTest = PerRow<WorldTest, Restart>;

TEST_P(RestartTest, OneForcedRebootOnlyOnceTheShutdownPrivilegeIsEnabled) {
    const Restart& r = GetParam();
    Renew(r.version);
    if (r.meddle) r.meddle();
    EXPECT_EQ(RestartComputer(), r.result);
    const bool asked = r.result == TRUE;
    EXPECT_EQ(simwin::CallCount("ExitWindowsEx"), asked ? 1 : 0);
    EXPECT_EQ(simwin::ShutdownRequests(), std::vector<UINT>(asked, EWX_REBOOT | EWX_FORCE));
    EXPECT_EQ(simwin::CallCount("OpenProcessToken"), r.privilegeStep ? 1 : 0);
    EXPECT_EQ(simwin::PrivilegeEnabled(SE_SHUTDOWN_NAME), r.privilegeStep && asked);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u); // the token is closed
}

const Restart kRows[] = {
    {"Win98", kWin98, TRUE, nullptr, false},
    {"Xp", kXp, TRUE},
    {"WithoutThePrivilege", kWin2000, ERROR_NOT_ALL_ASSIGNED,
     [] { simwin::HoldPrivilege(SE_SHUTDOWN_NAME, false); }},
    {"LookupFails", kWin2000, ERROR_NO_SUCH_PRIVILEGE,
     [] { simwin::FailCall("LookupPrivilegeValueA", ERROR_NO_SUCH_PRIVILEGE); }},
    {"AdjustmentFails", kWin2000, ERROR_ACCESS_DENIED,
     [] { simwin::FailCall("AdjustTokenPrivileges", ERROR_ACCESS_DENIED); }},
    {"TokenUnopened", kNt4, 0, [] { simwin::FailCall("OpenProcessToken", ERROR_ACCESS_DENIED); }},
    // A failed version query is not 9x: the privilege step is taken.
    {"VersionUnread", kNt4, TRUE,
     [] { simwin::FailCall("GetVersionExA", ERROR_INVALID_PARAMETER); }}};
INSTANTIATE_TEST_SUITE_P(Rows, RestartTest, ::testing::ValuesIn(kRows), ByName());
