/*
** Restart: the privilege step on NT, none on 9x, and a forced reboot.
*/
#include "actions/restart.h"
#include "world.h"

/* A way a restart goes: the Windows version, what fails there, and what
   RestartComputer gives: TRUE once it asked for the one forced reboot. */
struct Restart {
    const char* name;
    WindowsVersion version;
    void (*meddle)();
    int32_t result;
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

INSTANTIATE_TEST_SUITE_P(
    Rows, RestartTest,
    ::testing::Values(
        Restart{"Win98", kWin98, nullptr, TRUE, false}, Restart{"Xp", kXp, nullptr, TRUE},
        Restart{"WithoutThePrivilege", kWin2000,
                [] { simwin::HoldPrivilege(SE_SHUTDOWN_NAME, false); }, ERROR_NOT_ALL_ASSIGNED},
        Restart{"LookupFails", kWin2000,
                [] { simwin::FailCall("LookupPrivilegeValueA", ERROR_NO_SUCH_PRIVILEGE); },
                ERROR_NO_SUCH_PRIVILEGE},
        Restart{"AdjustmentFails", kWin2000,
                [] { simwin::FailCall("AdjustTokenPrivileges", ERROR_ACCESS_DENIED); },
                ERROR_ACCESS_DENIED},
        Restart{"TokenUnopened", kNt4,
                [] { simwin::FailCall("OpenProcessToken", ERROR_ACCESS_DENIED); }, 0},
        // A failed version query is not 9x: the privilege step is taken.
        Restart{"VersionUnread", kNt4,
                [] { simwin::FailCall("GetVersionExA", ERROR_INVALID_PARAMETER); }, TRUE}),
    ByName());
