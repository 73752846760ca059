/*
** Restart: the privilege step on NT, none on 9x, and a forced reboot.
*/
#include "actions/restart.h"
#include "world.h"

class RestartTest : public WorldTest {};

TEST_F(RestartTest, NineXRebootsWithoutAnyPrivilegeStep) {
    simwin::SetWindows98();
    EXPECT_NE(RestartComputer(), 0);
    EXPECT_EQ(simwin::ShutdownRequests(), (std::vector<UINT>{EWX_REBOOT | EWX_FORCE}));
    EXPECT_EQ(simwin::ShutdownRequests()[0], 6u);
    EXPECT_EQ(simwin::CallCount("OpenProcessToken"), 0);
    EXPECT_EQ(simwin::CallCount("AdjustTokenPrivileges"), 0);
}

TEST_F(RestartTest, NtEnablesTheShutdownPrivilegeThenForcesOneReboot) {
    simwin::SetWindowsXp();
    EXPECT_NE(RestartComputer(), 0);
    EXPECT_TRUE(simwin::PrivilegeEnabled(SE_SHUTDOWN_NAME));
    EXPECT_EQ(simwin::ShutdownRequests(), (std::vector<UINT>{6}));
    EXPECT_EQ(simwin::OpenHandleCount(), 0u); // the token is closed
}

TEST_F(RestartTest, NtWithoutThePrivilegeReturnsTheErrorAndDoesNotRestart) {
    simwin::SetWindows2000();
    simwin::HoldPrivilege(SE_SHUTDOWN_NAME, false);
    EXPECT_EQ(RestartComputer(), (int32_t)ERROR_NOT_ALL_ASSIGNED);
    EXPECT_TRUE(simwin::ShutdownRequests().empty());
    EXPECT_EQ(simwin::CallCount("ExitWindowsEx"), 0);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);

    // A failing look-up or adjustment is reported the same way.
    simwin::HoldPrivilege(SE_SHUTDOWN_NAME, true);
    simwin::FailCall("LookupPrivilegeValueA", ERROR_NO_SUCH_PRIVILEGE);
    EXPECT_EQ(RestartComputer(), (int32_t)ERROR_NO_SUCH_PRIVILEGE);
    simwin::FailCall("AdjustTokenPrivileges", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RestartComputer(), (int32_t)ERROR_ACCESS_DENIED);
    EXPECT_EQ(simwin::CallCount("ExitWindowsEx"), 0);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(RestartTest, TokenThatCannotBeOpenedGivesZero) {
    simwin::SetWindowsNt4();
    simwin::FailCall("OpenProcessToken", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RestartComputer(), 0);
    EXPECT_TRUE(simwin::ShutdownRequests().empty());

    // A failed version query is not 9x: the privilege step is taken.
    simwin::FailCall("GetVersionExA", ERROR_INVALID_PARAMETER);
    EXPECT_NE(RestartComputer(), 0);
    EXPECT_EQ(simwin::CallCount("OpenProcessToken"), 2);
    EXPECT_EQ(simwin::ShutdownRequests(), (std::vector<UINT>{6}));
}
