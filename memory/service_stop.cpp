/*
** Stopping a service through the service control manager, waiting for it
** to report that it has stopped.
*/
#include "memory/service_stop.h"
#include "platform/win32.h"

/* Pause between status queries while the service reports STOP_PENDING, and
   how many pauses at most: a service that is still stopping after half a
   minute is given up on, so one stuck service cannot hold the scan. */
static const DWORD kPollMs = 1000;
static const int kMaxPolls = 30;

/* Asks the open service to stop and waits while it reports STOP_PENDING.
   True only when the last status read says STOPPED. */
static bool StopAndWait(SC_HANDLE service) {
    SERVICE_STATUS status;
    memset(&status, 0, sizeof status);
    // A failed control (not running, refusing the stop, no right) ends here:
    // Windows may still have filled the record, but it is not our answer.
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) return false;
    for (int polls = 0;; polls++) {
        if (!QueryServiceStatus(service, &status)) break;
        if (status.dwCurrentState != SERVICE_STOP_PENDING) break;
        if (polls == kMaxPolls) return false;
        Sleep(kPollMs);
    }
    return status.dwCurrentState == SERVICE_STOPPED;
}

int32_t StopService(const char* name) {
    if (!name) return 0;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) return 0;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (!service) {
        CloseServiceHandle(manager);
        return 0;
    }
    // Nothing between the opens and the closes can throw: both handles are
    // released on every path.
    bool stopped = StopAndWait(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return stopped ? 1 : 0;
}
