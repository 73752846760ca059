/*
** simwin: the service control manager of the NT family. Each service has a
** scripted answer to a stop request: it stops at once, stays STOP_PENDING for
** a number of status queries and then stops, never leaves STOP_PENDING,
** returns to RUNNING, or refuses the control; a service that is not running
** answers a stop with ERROR_SERVICE_NOT_ACTIVE. The manager can refuse full
** access, as it does to a user without administrator rights. Windows 9x has
** no manager: OpenSCManagerA fails with ERROR_CALL_NOT_IMPLEMENTED.
** Like Windows' manager, which reads its database of services from
** HKLM\SYSTEM\CurrentControlSet\Services when it starts ("Database of
** installed services", learn.microsoft.com/windows/win32/services/
** database-of-installed-services), a service's command is the ImagePath of
** its key in the current control set, read when the service is added: a
** later change of the key shows only after a restart. QueryServiceConfigA
** gives it as written (quoted or not, with arguments or variables; Windows
** gives a REG_EXPAND_SZ expanded, which names the same file), the strings
** placed in the caller's buffer after the record.
** QueryServiceStatusEx (2000 and later; advapi32 resolves it by name) gives
** the status with the identifier of the process that runs the service
** (SERVICE_STATUS_PROCESS.dwProcessId, learn.microsoft.com/windows/win32/
** api/winsvc/ns-winsvc-service_status_process), 0 once it has stopped
** (Wine's dlls/advapi32/tests/service.c, test_query_svc: a
** running service has one, a stopped one none; the level is checked first,
** then the room, which asks for the record's size, then the handle).
*/
#ifndef SIMWIN_SERVICES_H
#define SIMWIN_SERVICES_H

#include "simwin/base.h"
#include <string>
#include <vector>

#define SC_MANAGER_CONNECT 0x0001
#define SC_MANAGER_CREATE_SERVICE 0x0002
#define SC_MANAGER_ENUMERATE_SERVICE 0x0004
#define SC_MANAGER_LOCK 0x0008
#define SC_MANAGER_QUERY_LOCK_STATUS 0x0010
#define SC_MANAGER_MODIFY_BOOT_CONFIG 0x0020
#define SC_MANAGER_ALL_ACCESS 0xF003F

#define SERVICE_QUERY_CONFIG 0x0001
#define SERVICE_CHANGE_CONFIG 0x0002
#define SERVICE_QUERY_STATUS 0x0004
#define SERVICE_ENUMERATE_DEPENDENTS 0x0008
#define SERVICE_START 0x0010
#define SERVICE_STOP 0x0020
#define SERVICE_PAUSE_CONTINUE 0x0040
#define SERVICE_INTERROGATE 0x0080
#define SERVICE_USER_DEFINED_CONTROL 0x0100
#define SERVICE_ALL_ACCESS 0xF01FF

#define SERVICE_WIN32_OWN_PROCESS 0x00000010

#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002
#define SERVICE_STOP_PENDING 0x00000003
#define SERVICE_RUNNING 0x00000004
#define SERVICE_CONTINUE_PENDING 0x00000005
#define SERVICE_PAUSE_PENDING 0x00000006
#define SERVICE_PAUSED 0x00000007

#define SERVICE_CONTROL_STOP 0x00000001
#define SERVICE_CONTROL_PAUSE 0x00000002
#define SERVICE_CONTROL_CONTINUE 0x00000003
#define SERVICE_CONTROL_INTERROGATE 0x00000004

#define SERVICE_ACCEPT_STOP 0x00000001

#define ERROR_DATABASE_DOES_NOT_EXIST 1065L
#define RPC_S_SERVER_UNAVAILABLE 1722L

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
typedef SERVICE_STATUS* LPSERVICE_STATUS;

struct QUERY_SERVICE_CONFIGA {
    DWORD dwServiceType;
    DWORD dwStartType;
    DWORD dwErrorControl;
    LPSTR lpBinaryPathName;
    LPSTR lpLoadOrderGroup;
    DWORD dwTagId;
    LPSTR lpDependencies;
    LPSTR lpServiceStartName;
    LPSTR lpDisplayName;
};
typedef QUERY_SERVICE_CONFIGA* LPQUERY_SERVICE_CONFIGA;

/* SERVICE_STATUS's fields, then these two. */
struct SERVICE_STATUS_PROCESS : SERVICE_STATUS {
    DWORD dwProcessId;
    DWORD dwServiceFlags;
};
enum SC_STATUS_TYPE { SC_STATUS_PROCESS_INFO = 0 };

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access);
SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access);
BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL CloseServiceHandle(SC_HANDLE handle);
BOOL QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size,
                         LPDWORD needed);
BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                          LPDWORD needed);

namespace simwin {

enum class StopReaction {
    Stops,            // STOP_PENDING for `pendingQueries` queries, then STOPPED
    NeverStops,       // STOP_PENDING for ever
    ReturnsToRunning, // STOP_PENDING for `pendingQueries` queries, then RUNNING
    RefusesControl,   // does not accept SERVICE_CONTROL_STOP at all
};

struct ServiceSpec {
    std::string name; // key name; the manager matches it without regard to case
    DWORD state = SERVICE_RUNNING;
    StopReaction onStop = StopReaction::Stops;
    int pendingQueries = 0;      // 0: the stop has taken effect when ControlService returns
    DWORD process = 0;           // the process that runs it, ended when the service stops
    std::string binaryPath = ""; // when set, written to the key as its ImagePath (REG_EXPAND_SZ)
};

void AddService(const ServiceSpec& spec);
/* The service's current state; 0 when there is no such service. */
DWORD ServiceState(const std::string& name);
/* Whether the manager refuses anything beyond read access (a user without
   administrator rights); default false. */
void DenyManagerAccess(bool deny);
/* Every access mask OpenServiceA was asked for, in order. */
const std::vector<DWORD>& ServiceAccessRequests();

} // namespace simwin

#endif
