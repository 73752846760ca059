/*
** The simulated service control manager's scripts: how a service reacts to
** a stop, and a manager that refuses writing access. What it shares with
** every Win32 is pinned in tests/conformance/.
*/
#include "world.h"

class ServicesTest : public WorldTest {};

TEST_F(ServicesTest, StopRequestFollowsTheServiceScript) {
    DWORD pid = simwin::StartProcess({"C:\\svc.exe", {}});
    simwin::ServiceSpec spec;
    spec.name = "Slow";
    spec.pendingQueries = 2;
    spec.process = pid;
    simwin::AddService(spec);
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm, nullptr);
    SC_HANDLE svc = OpenServiceA(scm, "SLOW", SERVICE_ALL_ACCESS);
    ASSERT_NE(svc, nullptr);
    SERVICE_STATUS st{};
    ASSERT_TRUE(ControlService(svc, SERVICE_CONTROL_STOP, &st));
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    // A second stop while it is stopping cannot be accepted.
    EXPECT_FALSE(ControlService(svc, SERVICE_CONTROL_STOP, &st));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    std::vector<DWORD> states;
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(QueryServiceStatus(svc, &st));
        states.push_back(st.dwCurrentState);
    }
    EXPECT_EQ(states, (std::vector<DWORD>{3, 3, 1, 1}));
    EXPECT_FALSE(simwin::IsRunning(pid));
    // Not running now: a stop fails, the record still says STOPPED.
    st = SERVICE_STATUS{};
    EXPECT_FALSE(ControlService(svc, SERVICE_CONTROL_STOP, &st));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_TRUE(CloseServiceHandle(svc));
    EXPECT_TRUE(CloseServiceHandle(scm));
    EXPECT_FALSE(CloseServiceHandle(scm));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

TEST_F(ServicesTest, RefusalsAndAccessRights) {
    simwin::AddService({"Stubborn", SERVICE_RUNNING, simwin::StopReaction::RefusesControl});
    simwin::AddService({"Stuck", SERVICE_RUNNING, simwin::StopReaction::NeverStops});
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SERVICE_STATUS st{};
    SC_HANDLE a = OpenServiceA(scm, "Stubborn", SERVICE_ALL_ACCESS);
    EXPECT_FALSE(ControlService(a, SERVICE_CONTROL_STOP, &st));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_RUNNING);

    SC_HANDLE b = OpenServiceA(scm, "Stuck", SERVICE_QUERY_STATUS);
    EXPECT_FALSE(ControlService(b, SERVICE_CONTROL_STOP, &st));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    CloseServiceHandle(b);
    b = OpenServiceA(scm, "Stuck", SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_TRUE(ControlService(b, SERVICE_CONTROL_STOP, &st));
    for (int i = 0; i < 100; i++)
        QueryServiceStatus(b, &st);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);

    CloseServiceHandle(a);
    CloseServiceHandle(b);
    CloseServiceHandle(scm);

    // Without administrator rights only reading is allowed.
    simwin::DenyManagerAccess(true);
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(scm, nullptr);
    EXPECT_EQ(OpenServiceA(scm, "Stuck", SERVICE_STOP), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    CloseServiceHandle(scm);

    EXPECT_EQ(simwin::OpenHandleCount(), 0u);
}

/* The manager reads a service's command from its key in the control set
   Select\Current names when it starts; a later change shows after a restart. */
TEST_F(ServicesTest, TheManagerReadsItsServicesFromTheCurrentControlSet) {
    simwin::RegSetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", "Current", REG_DWORD, {2, 0, 0, 0});
    simwin::RegSetString(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet002\\Services\\Svc", "ImagePath",
                         "svc.exe -x");
    simwin::RegSetString(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services\\Svc", "ImagePath",
                         "old.exe");
    simwin::ServiceSpec spec;
    spec.name = "Svc";
    simwin::AddService(spec);
    simwin::RegSetString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Svc",
                         "ImagePath", "new.exe");
    const auto data = simwin::RegValueData(HKEY_LOCAL_MACHINE,
                                           "SYSTEM\\ControlSet002\\Services\\Svc", "ImagePath");
    EXPECT_STREQ((const char*)data.data(), "new.exe");
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = OpenServiceA(scm, "svc", SERVICE_QUERY_CONFIG);
    std::vector<char> config(512);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigA(svc, (QUERY_SERVICE_CONFIGA*)config.data(), 512, &needed));
    EXPECT_STREQ(((QUERY_SERVICE_CONFIGA*)config.data())->lpBinaryPathName, "svc.exe -x");
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
}
