/*
** Stopping a service through the service control manager, waiting for it
** to report that it has stopped.
*/
#include "memory/service_stop.h"
#include "actions/services.h"
#include "engine/scan_state.h"
#include "repair/service_command.h"
#include "platform/resolve.h"
#include "platform/win32.h"

#include <stdlib.h>

/* The largest configuration the service manager gives. */
static const DWORD kConfigLimit = 8192;

typedef BOOL(WINAPI* QueryServiceConfigAFn)(SC_HANDLE service, QUERY_SERVICE_CONFIGA* config,
                                            DWORD size, DWORD* needed);

/* Whether the open service is registered to run `image`, its binary path
   read as its ImagePath is (ServiceCommandRunsFile). The query is
   resolved at run time: not every advapi32 of Windows 9x has it. */
static bool RunsImage(SC_HANDLE service, const CommandImage& image) {
    QueryServiceConfigAFn query =
        Resolve<QueryServiceConfigAFn>("advapi32.dll", Resolvable::QueryServiceConfigA);
    DWORD needed = 0;
    if (!query || query(service, NULL, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        needed == 0 || needed > kConfigLimit)
        return false;
    QUERY_SERVICE_CONFIGA* config = (QUERY_SERVICE_CONFIGA*)calloc(1, needed);
    bool runs = config && query(service, config, needed, &needed) && config->lpBinaryPathName &&
                ServiceCommandRunsFile(config->lpBinaryPathName, image);
    free(config);
    return runs;
}

/* The one maker of a service's proof: the handle just opened, its command
   resolved to the variant's image, and the listed process proved to run
   the variant. */
struct ServiceProver {
    static ServiceProof Prove(SC_HANDLE service, DWORD processId) {
        return ServiceProof(service, processId);
    }
};

static ServiceStop Stop(const char* name, const CommandImage& image, DWORD processId) {
    if (!name || (!image.id && (!image.path || !image.path[0]))) return ServiceStop::NotStopped;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) return ServiceStop::NotStopped;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (!service) {
        CloseServiceHandle(manager);
        return ServiceStop::NotStopped;
    }
    // Nothing between the opens and the closes can throw: both handles are
    // released on every path.
    ServiceStop stop = ServiceStop::NotStopped;
    if (RunsImage(service, image)) stop = StopAndWait(ServiceProver::Prove(service, processId));
    if (stop == ServiceStop::OtherProcess)
        PostLogLine("System Service     %s kept: not run by process %lu", name,
                    (unsigned long)processId);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return stop;
}

int32_t StopService(const char* name) {
    return Stop(name, CommandImage{g_scan.provedVariant, NULL, 0}, 0) == ServiceStop::Stopped ? 1
                                                                                              : 0;
}

ServiceStop StopServiceOfImage(const char* name, char drive, const FileId& image, DWORD processId) {
    return Stop(name, CommandImage{NULL, &image, drive}, processId);
}
