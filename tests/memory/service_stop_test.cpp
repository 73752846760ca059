/*
** Service stop: the result for each way a service answers a stop request,
** the pauses between status queries, and both handles released every time.
*/
#include "memory/service_stop.h"
#include "world.h"

class ServiceStopTest : public WorldTest {
  protected:
    /* Runs StopService on a service set up by `spec` (none when its name is
       empty) and checks that no handle stays open. */
    int32_t Stop(const simwin::ServiceSpec& spec, const char* name = "PhxSvc") {
        if (!spec.name.empty()) simwin::AddService(spec);
        int32_t result = StopService(name);
        EXPECT_EQ(simwin::OpenHandleCount(), 0u) << name;
        return result;
    }
    static simwin::ServiceSpec Service(simwin::StopReaction reaction, int pending = 0,
                                       DWORD state = SERVICE_RUNNING) {
        simwin::ServiceSpec s;
        s.name = "PhxSvc";
        s.onStop = reaction;
        s.pendingQueries = pending;
        s.state = state;
        return s;
    }
};

TEST_F(ServiceStopTest, StopsAtTheFirstQueryOrAfterThreePauses) {
    EXPECT_EQ(Stop(Service(simwin::StopReaction::Stops), "phxsvc"), 1);
    EXPECT_TRUE(simwin::Sleeps().empty());
    EXPECT_EQ(simwin::ServiceState("PhxSvc"), (DWORD)SERVICE_STOPPED);
    // The service is opened with full access through a manager with full access.
    EXPECT_EQ(simwin::ServiceAccessRequests(), (std::vector<DWORD>{SERVICE_ALL_ACCESS}));

    simwin::Reset();
    EXPECT_EQ(Stop(Service(simwin::StopReaction::Stops, 3)), 1);
    EXPECT_EQ(simwin::Sleeps(), (std::vector<DWORD>{1000, 1000, 1000}));
    EXPECT_EQ(simwin::Now(), 3000u);
    EXPECT_EQ(simwin::CallCount("QueryServiceStatus"), 4);
}

TEST_F(ServiceStopTest, NoServiceNotRunningOrRefusedGivesZeroWithoutPolling) {
    EXPECT_EQ(Stop({}, "NoSuchService"), 0);
    EXPECT_EQ(simwin::CallCount("ControlService"), 0);

    // Windows fills the record with STOPPED here; that must not count.
    simwin::Reset();
    EXPECT_EQ(Stop(Service(simwin::StopReaction::Stops, 0, SERVICE_STOPPED)), 0);
    EXPECT_EQ(simwin::CallCount("ControlService"), 1);
    EXPECT_EQ(simwin::CallCount("QueryServiceStatus"), 0);

    simwin::Reset();
    EXPECT_EQ(Stop(Service(simwin::StopReaction::RefusesControl)), 0);
    EXPECT_EQ(simwin::ServiceState("PhxSvc"), (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(simwin::CallCount("QueryServiceStatus"), 0);

    simwin::Reset();
    simwin::DenyManagerAccess(true);
    EXPECT_EQ(Stop(Service(simwin::StopReaction::Stops)), 0);
    EXPECT_EQ(simwin::CallCount("OpenServiceA"), 0);
    EXPECT_EQ(simwin::ServiceState("PhxSvc"), (DWORD)SERVICE_RUNNING);

    simwin::Reset();
    simwin::SetWindows98(); // no service control manager at all
    EXPECT_EQ(Stop({}), 0);
    EXPECT_TRUE(simwin::Sleeps().empty());
}

TEST_F(ServiceStopTest, ServiceThatDoesNotEndStoppedGivesZero) {
    EXPECT_EQ(Stop(Service(simwin::StopReaction::ReturnsToRunning, 2)), 0);
    EXPECT_EQ(simwin::Sleeps().size(), 2u);
    EXPECT_EQ(simwin::ServiceState("PhxSvc"), (DWORD)SERVICE_RUNNING);

    // A status query that fails ends the wait; the answer is still 0.
    simwin::Reset();
    simwin::FailCall("QueryServiceStatus", ERROR_ACCESS_DENIED, 1, 1);
    EXPECT_EQ(Stop(Service(simwin::StopReaction::Stops, 5)), 0);
    EXPECT_EQ(simwin::Sleeps().size(), 1u);
}

TEST_F(ServiceStopTest, WaitForAServiceStuckInStopPendingIsBounded) {
    EXPECT_EQ(Stop(Service(simwin::StopReaction::NeverStops)), 0);
    EXPECT_EQ(simwin::Sleeps().size(), 30u);
    EXPECT_EQ(simwin::Now(), 30000u);
    EXPECT_EQ(simwin::ServiceState("PhxSvc"), (DWORD)SERVICE_STOP_PENDING);

    // One that needs exactly the last pause still counts as stopped.
    simwin::Reset();
    EXPECT_EQ(Stop(Service(simwin::StopReaction::Stops, 30)), 1);
    EXPECT_EQ(simwin::Sleeps().size(), 30u);
}

TEST_F(ServiceStopTest, BothHandlesAreClosedOnEveryPath) {
    // Each failing step in turn; Stop() checks the handle count after each.
    // When the one query fails, the last status read is the control's own
    // answer, which already says STOPPED.
    struct {
        const char* step;
        int32_t result;
        int closes;
    } cases[] = {{"OpenServiceA", 0, 1}, {"ControlService", 0, 2}, {"QueryServiceStatus", 1, 2}};
    for (auto& c : cases) {
        simwin::Reset();
        simwin::FailCall(c.step, ERROR_ACCESS_DENIED);
        EXPECT_EQ(Stop(Service(simwin::StopReaction::Stops)), c.result) << c.step;
        EXPECT_EQ(simwin::CallCount("CloseServiceHandle"), c.closes) << c.step;
    }
}
