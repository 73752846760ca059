/*
** The room's service actions (see services.h).
*/
#include "actions/services.h"

/* Pause between status queries while the service reports STOP_PENDING, and
   how many pauses at most: a service that is still stopping after half a
   minute is given up on, so one stuck service cannot hold the scan. */
static const DWORD kPollMs = 1000;
static const int kMaxPolls = 30;

bool StopAndWait(SC_HANDLE service) {
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
