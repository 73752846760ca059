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
static bool RunsImage(SC_HANDLE service, const char* image) {
    QueryServiceConfigAFn query =
        Resolve<QueryServiceConfigAFn>("advapi32.dll", "QueryServiceConfigA");
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

static int32_t Stop(const char* name, const char* image, DWORD processId) {
    if (!name || !image || !image[0]) return 0;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) return 0;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (!service) {
        CloseServiceHandle(manager);
        return 0;
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
    return stop == ServiceStop::Stopped ? 1 : 0;
}

int32_t StopService(const char* name) { return Stop(name, g_scan.provedVariant, 0); }

int32_t StopServiceOfImage(const char* name, const char* image, DWORD processId) {
    return Stop(name, image, processId);
}
