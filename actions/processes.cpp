/*
** The room's process actions (see processes.h).
*/
#include "actions/processes.h"
#include "memory/process_scan.h" // GetProcessTimesFn
#include "actions/resolve_by_name.h"

/* What a handle opened again must carry: the right to terminate, and to read
   the process's times. */
static const DWORD kReopenRights = PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION; // 0x401

bool SameProcess(HANDLE a, HANDLE b) {
    GetProcessTimesFn times = Resolve<GetProcessTimesFn>("Kernel32.dll", "GetProcessTimes");
    FILETIME created[2], unused[3];
    return times && times(a, &created[0], &unused[0], &unused[1], &unused[2]) &&
           times(b, &created[1], &unused[0], &unused[1], &unused[2]) &&
           created[0].dwLowDateTime == created[1].dwLowDateTime &&
           created[0].dwHighDateTime == created[1].dwHighDateTime;
}

bool TerminateListed(const ListedProcess& rec) {
    if (!rec.Handle() || rec.Id() == GetCurrentProcessId()) return false;
    if (rec.CanTerminate()) return TerminateProcess(rec.Handle(), 0) != 0;
    // The right may be granted now (the debug privilege enabled since): a
    // new handle, used only when it reaches the very process listed.
    HANDLE again = OpenProcess(kReopenRights, FALSE, rec.Id());
    if (!again) return false;
    const bool ended = SameProcess(rec.Handle(), again) && TerminateProcess(again, 0) != 0;
    CloseHandle(again);
    return ended;
}
