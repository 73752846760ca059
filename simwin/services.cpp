/*
** simwin: the service control manager, its handles and scripted services.
*/
#include "simwin/services.h"
#include "simwin/crt.h"
#include "simwin/processes.h"
#include "simwin/registry.h"
#include "simwin/security.h"
#include "simwin/system.h"

#include <cctype>
#include <cstring>
#include <map>

namespace {

struct Service {
    simwin::ServiceSpec spec;
    DWORD state;
    int pendingLeft = 0; // STOP_PENDING answers still due before the outcome
    std::string command; // the ImagePath the manager read when it started
};

std::map<std::string, Service> services; // by upper-cased name
bool denyManager = false;
std::vector<DWORD> accessRequests;

simwin::ResetHook resetServices([] {
    services.clear();
    denyManager = false;
    accessRequests.clear();
});

/* What a user without administrator rights may still ask for. */
const DWORD kReadControl = 0x00020000, kGenericRead = 0x80000000;
const DWORD kManagerReadRights = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE |
                                 SC_MANAGER_QUERY_LOCK_STATUS | kReadControl | kGenericRead;
const DWORD kServiceReadRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                 SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE |
                                 SERVICE_USER_DEFINED_CONTROL | kReadControl | kGenericRead;

struct Manager : simwin::Object {
    DWORD access;
    explicit Manager(DWORD a) : access(a) {}
};

struct ServiceHandle : simwin::Object {
    std::string key;
    DWORD access;
    ServiceHandle(std::string k, DWORD a) : key(std::move(k)), access(a) {}
};

std::string Upper(std::string s) {
    for (char& c : s)
        c = (char)toupper((unsigned char)c);
    return s;
}

void Fill(const Service& s, LPSERVICE_STATUS status) {
    if (!status) return;
    memset(status, 0, sizeof *status);
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status->dwCurrentState = s.state;
    bool acceptsStop =
        s.state == SERVICE_RUNNING && s.spec.onStop != simwin::StopReaction::RefusesControl;
    status->dwControlsAccepted = acceptsStop ? SERVICE_ACCEPT_STOP : 0;
    if (s.state == SERVICE_STOP_PENDING) status->dwWaitHint = 1000;
}

/* The outcome of a stop request once its pending phase is over. */
void Settle(Service& s) {
    switch (s.spec.onStop) {
    case simwin::StopReaction::Stops:
        s.state = SERVICE_STOPPED;
        if (s.spec.process) simwin::EndProcess(s.spec.process);
        break;
    case simwin::StopReaction::ReturnsToRunning:
        s.state = SERVICE_RUNNING;
        break;
    case simwin::StopReaction::NeverStops:
    case simwin::StopReaction::RefusesControl:
        break;
    }
}

Service* Lookup(SC_HANDLE handle, DWORD* access) {
    auto h = simwin::HandleAs<ServiceHandle>(reinterpret_cast<HANDLE>(handle));
    if (!h) return nullptr;
    auto it = services.find(h->key);
    if (it == services.end()) return nullptr;
    *access = h->access;
    return &it->second;
}

/* The service behind `handle` when the handle holds `right`; null with
   ERROR_INVALID_HANDLE or ERROR_ACCESS_DENIED set otherwise. */
Service* Granted(SC_HANDLE handle, DWORD right) {
    DWORD access = 0;
    Service* s = Lookup(handle, &access);
    if (!s || !(access & right)) {
        SetLastError(s ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return s;
}

} // namespace

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access) {
    if (simwin::Fails("OpenSCManagerA")) return nullptr;
    if (simwin::PlatformId() != VER_PLATFORM_WIN32_NT) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    if (machineName && machineName[0]) { // only the local machine is reachable
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    // The failed services' database exists in name only; any other is unknown.
    if (databaseName && _stricmp(databaseName, "ServicesActive") != 0) {
        SetLastError(_stricmp(databaseName, "ServicesFailed") == 0 ? ERROR_DATABASE_DOES_NOT_EXIST
                                                                   : ERROR_INVALID_NAME);
        return nullptr;
    }
    if (denyManager && (access & ~kManagerReadRights)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(simwin::NewHandle(std::make_shared<Manager>(access)));
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access) {
    if (simwin::Fails("OpenServiceA")) return nullptr;
    accessRequests.push_back(access);
    if (!simwin::HandleAs<Manager>(reinterpret_cast<HANDLE>(manager))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!serviceName) { // NT 4.0: ERROR_INVALID_PARAMETER
        SetLastError(simwin::MajorVersion() < 5 ? ERROR_INVALID_PARAMETER : ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    if (!serviceName[0] || strlen(serviceName) > 256) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    std::string key = Upper(serviceName);
    if (!services.count(key)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    if (denyManager && (access & ~kServiceReadRights)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(
        simwin::NewHandle(std::make_shared<ServiceHandle>(key, access)));
}

/* Like Windows, fills the status record also when the service is not
   running, cannot accept the control now, or does not accept it at all. */
BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    if (simwin::Fails("ControlService")) return FALSE;
    DWORD access = 0;
    Service* s = Lookup(service, &access);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!status) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD needed = control == SERVICE_CONTROL_STOP          ? SERVICE_STOP
                   : control == SERVICE_CONTROL_INTERROGATE ? SERVICE_INTERROGATE
                                                            : SERVICE_PAUSE_CONTINUE;
    if (!(access & needed)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD refusal = 0;
    if (s->state == SERVICE_STOPPED)
        refusal = ERROR_SERVICE_NOT_ACTIVE;
    else if (s->state != SERVICE_RUNNING)
        refusal = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    else if (control == SERVICE_CONTROL_STOP &&
             s->spec.onStop == simwin::StopReaction::RefusesControl)
        refusal = ERROR_INVALID_SERVICE_CONTROL;
    else if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_INTERROGATE)
        refusal = ERROR_INVALID_SERVICE_CONTROL;
    if (refusal) {
        Fill(*s, status);
        SetLastError(refusal);
        return FALSE;
    }
    if (control == SERVICE_CONTROL_STOP) {
        s->state = SERVICE_STOP_PENDING;
        s->pendingLeft = s->spec.pendingQueries;
        if (s->pendingLeft <= 0) Settle(*s);
    }
    Fill(*s, status);
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    if (simwin::Fails("QueryServiceStatus")) return FALSE;
    Service* s = Granted(service, SERVICE_QUERY_STATUS);
    if (!s) return FALSE;
    if (!status) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (s->state == SERVICE_STOP_PENDING) {
        if (s->pendingLeft > 0)
            s->pendingLeft--;
        else
            Settle(*s);
    }
    Fill(*s, status);
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    if (simwin::Fails("CloseServiceHandle")) return FALSE;
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    if ((!simwin::HandleAs<Manager>(h) && !simwin::HandleAs<ServiceHandle>(h)) ||
        !simwin::ReleaseHandle(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size,
                         LPDWORD needed) {
    if (simwin::Fails("QueryServiceConfigA")) return FALSE;
    Service* s = Granted(service, SERVICE_QUERY_CONFIG);
    if (!s) return FALSE;
    if (!needed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The record, then the binary path and four empty strings.
    const std::string& path = s->command;
    *needed = (DWORD)(sizeof(QUERY_SERVICE_CONFIGA) + path.size() + 1 + 4);
    if (!config || size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    char* strings = reinterpret_cast<char*>(config + 1);
    memset(config, 0, *needed);
    config->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    config->dwStartType = 2; // SERVICE_AUTO_START
    memcpy(strings, path.c_str(), path.size() + 1);
    config->lpBinaryPathName = strings;
    char* empty = strings + path.size() + 1;
    config->lpLoadOrderGroup = empty;
    config->lpDependencies = empty + 1;
    config->lpServiceStartName = empty + 2;
    config->lpDisplayName = empty + 3;
    return TRUE;
}

BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                          LPDWORD needed) {
    if (simwin::Fails("QueryServiceStatusEx")) return FALSE;
    // The level first, then the room, then the handle and its rights.
    if (level != SC_STATUS_PROCESS_INFO) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!needed) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    *needed = sizeof(SERVICE_STATUS_PROCESS);
    if (!buffer || size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    Service* s = Granted(service, SERVICE_QUERY_STATUS);
    if (!s) return FALSE;
    SERVICE_STATUS_PROCESS* out = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
    memset(out, 0, sizeof *out);
    Fill(*s, out);
    out->dwProcessId = s->state == SERVICE_STOPPED ? 0 : s->spec.process;
    return TRUE;
}

namespace simwin {

void AddService(const ServiceSpec& spec) {
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + spec.name;
    if (!spec.binaryPath.empty()) {
        const char* text = spec.binaryPath.c_str();
        RegSetValue(HKEY_LOCAL_MACHINE, key, "ImagePath", REG_EXPAND_SZ,
                    std::vector<uint8_t>(text, text + spec.binaryPath.size() + 1));
    }
    std::vector<uint8_t> image = RegValueData(HKEY_LOCAL_MACHINE, key, "ImagePath");
    std::string command(image.begin(), image.end());
    command = command.c_str(); // up to the terminator
    services[Upper(spec.name)] = Service{spec, spec.state, 0, command};
}

DWORD ServiceState(const std::string& name) {
    auto it = services.find(Upper(name));
    return it == services.end() ? 0 : it->second.state;
}

void DenyManagerAccess(bool deny) { denyManager = deny; }

const std::vector<DWORD>& ServiceAccessRequests() { return accessRequests; }

} // namespace simwin
