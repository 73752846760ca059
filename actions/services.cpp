/*
** The room's service actions (see services.h).
*/
#include "actions/services.h"
#include "actions/resolve_by_name.h"

/* Pause between status queries while the service reports STOP_PENDING, and
   how many pauses at most: a service that is still stopping after half a
   minute is given up on, so one stuck service cannot hold the scan. */
static const DWORD kPollMs = 1000;
static const int kMaxPolls = 30;

typedef BOOL(WINAPI* QueryServiceStatusExFn)(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer,
                                             DWORD size, LPDWORD needed);

/* Whether the service now runs a process other than the proved one. A
   status that cannot be read proves nothing: the service is left then. */
static bool RunsOtherProcess(const ServiceProof& service) {
    if (!service.ProcessId()) return false;
    QueryServiceStatusExFn query =
        Resolve<QueryServiceStatusExFn>("advapi32.dll", "QueryServiceStatusEx");
    if (!query) return false; // NT 4.0: the resolved command is the proof
    SERVICE_STATUS_PROCESS status;
    memset(&status, 0, sizeof status);
    DWORD needed = 0;
    if (!query(service.Handle(), SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof status, &needed))
        return true;
    return status.dwProcessId != 0 && status.dwProcessId != service.ProcessId();
}

ServiceStop StopAndWait(const ServiceProof& service) {
    if (RunsOtherProcess(service)) return ServiceStop::OtherProcess;
    SERVICE_STATUS status;
    memset(&status, 0, sizeof status);
    // A failed control (not running, refusing the stop, no right) ends here:
    // Windows may still have filled the record, but it is not our answer.
    if (!ControlService(service.Handle(), SERVICE_CONTROL_STOP, &status))
        return ServiceStop::NotStopped;
    for (int polls = 0;; polls++) {
        if (!QueryServiceStatus(service.Handle(), &status)) break;
        if (status.dwCurrentState != SERVICE_STOP_PENDING) break;
        if (polls == kMaxPolls) return ServiceStop::NotStopped;
        Sleep(kPollMs);
    }
    return status.dwCurrentState == SERVICE_STOPPED ? ServiceStop::Stopped
                                                    : ServiceStop::NotStopped;
}
