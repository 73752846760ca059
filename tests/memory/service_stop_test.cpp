/*
** Service stop: the result for each way a service answers a stop request,
** the pauses between status queries, and both handles released every time.
*/
#include "memory/service_stop.h"
#include "engine/file_check.h"
#include "engine/scan_run.h"
#include "world.h"

#include <functional>

/* The variant the file check proves in each world; the services run it. */
static const char kImage[] = "C:\\WINDOWS\\system32\\phxsvc.exe";

class ServiceStopTest : public WorldTest {
  protected:
    void Furnish() override {
        PlantVariant(kImage);
        g_scan.action = ACTION_REPORT_ONLY;
        ASSERT_EQ(CheckFile("x", kImage), 1);
    }
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
        s.binaryPath = kImage;
        return s;
    }
};

/* Each way a service answers, on each family: the result, the pauses, the
   queries and controls made, and the state it is left in. */
TEST_F(ServiceStopTest, EachAnswerGivesItsResultAfterItsPauses) {
    using R = simwin::StopReaction;
    struct Row {
        const char* what;
        std::function<void()> arrange; // before the service is added
        simwin::ServiceSpec spec;      // no name: no such service
        const char* name;
        int32_t result;
        size_t pauses;
        int queries, controls; // -1: not looked at
        DWORD state;
    } rows[] = {
        {"stops at once", [] {}, Service(R::Stops), "phxsvc", 1, 0, -1, -1, SERVICE_STOPPED},
        {"stops after three pauses", [] {}, Service(R::Stops, 3), "PhxSvc", 1, 3, 4, -1,
         SERVICE_STOPPED},
        {"no such service", [] {}, {}, "NoSuchService", 0, 0, -1, 0, 0},
        // Windows fills the record with STOPPED here; that must not count.
        {"not running", [] {}, Service(R::Stops, 0, SERVICE_STOPPED), "PhxSvc", 0, 0, 0, 1,
         SERVICE_STOPPED},
        {"refused", [] {}, Service(R::RefusesControl), "PhxSvc", 0, 0, 0, -1, SERVICE_RUNNING},
        {"manager denied", [] { simwin::DenyManagerAccess(true); }, Service(R::Stops), "PhxSvc", 0,
         0, -1, -1, SERVICE_RUNNING},
        // No service control manager at all.
        {"Windows 98", simwin::SetWindows98, {}, "PhxSvc", 0, 0, -1, -1, 0},
        {"back to running", [] {}, Service(R::ReturnsToRunning, 2), "PhxSvc", 0, 2, -1, -1,
         SERVICE_RUNNING},
        // A status query that fails ends the wait; the answer is still 0.
        {"query fails", [] { simwin::FailCall("QueryServiceStatus", ERROR_ACCESS_DENIED, 1, 1); },
         Service(R::Stops, 5), "PhxSvc", 0, 1, -1, -1, 0},
        // The wait for one stuck in STOP_PENDING is bounded; one that needs
        // exactly the last pause still counts as stopped.
        {"never stops", [] {}, Service(R::NeverStops), "PhxSvc", 0, 30, -1, -1,
         SERVICE_STOP_PENDING},
        {"stops at the last pause", [] {}, Service(R::Stops, 30), "PhxSvc", 1, 30, -1, -1, 0},
        // By its name alone, stopped only where it runs the file the check
        // proved a variant last; a clean file checked since changes nothing.
        {"another variant proved", [] { PlantVariant("C:\\v.exe"), CheckFile("x", "C:\\v.exe"); },
         Service(R::Stops), "PhxSvc", 0, 0, 0, 0, SERVICE_RUNNING},
        {"a clean file checked since",
         [] { simwin::WriteFile("C:\\c.exe", "MZ"), CheckFile("x", "C:\\c.exe"); },
         Service(R::Stops), "PhxSvc", 1, 0, -1, -1, SERVICE_STOPPED},
        // A later run that matched nothing leaves no proof to stop by.
        {"a run that matched nothing", [] { g_scan.target[0] = 0, RunScan(); }, Service(R::Stops),
         "PhxSvc", 0, 0, 0, 0, SERVICE_RUNNING},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Renew();
        r.arrange();
        EXPECT_EQ(Stop(r.spec, r.name), r.result);
        EXPECT_EQ(simwin::Sleeps(), std::vector<DWORD>(r.pauses, 1000));
        EXPECT_EQ(simwin::Now(), 1000u * r.pauses);
        if (r.queries >= 0) {
            EXPECT_EQ(simwin::CallCount("QueryServiceStatus"), r.queries);
        }
        if (r.controls >= 0) {
            EXPECT_EQ(simwin::CallCount("ControlService"), r.controls);
        }
        if (r.state) {
            EXPECT_EQ(simwin::ServiceState("PhxSvc"), r.state);
        }
        if (!strcmp(r.what, "manager denied")) {
            EXPECT_EQ(simwin::CallCount("OpenServiceA"), 0);
        }
    }
    // The service is opened with full access through a manager with full access.
    Renew();
    Stop(Service(R::Stops));
    EXPECT_EQ(simwin::ServiceAccessRequests(), (std::vector<DWORD>{SERVICE_ALL_ACCESS}));
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
        Renew();
        simwin::FailCall(c.step, ERROR_ACCESS_DENIED);
        EXPECT_EQ(Stop(Service(simwin::StopReaction::Stops)), c.result) << c.step;
        EXPECT_EQ(simwin::CallCount("CloseServiceHandle"), c.closes) << c.step;
    }
}
