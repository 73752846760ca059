/*
** simwin: the program's access token, its privileges and shutdown requests.
**
** There is one token: the program's. Every token handle opened on it sees the
** same privilege states, as on Windows, where enabling a privilege through
** one handle changes the process token itself.
*/
#include "simwin/security.h"
#include "simwin/system.h"

#include <map>

namespace {

/* The locally unique identifiers Windows gives these privileges. */
const std::map<std::string, DWORD> kLuids = {
    {SE_BACKUP_NAME, 17},
    {SE_RESTORE_NAME, 18},
    {SE_SHUTDOWN_NAME, 19},
    {SE_DEBUG_NAME, 20},
};

struct Privilege {
    bool held = true;
    bool enabled = false;
};

std::map<DWORD, Privilege> privileges; // by LUID
std::vector<UINT> shutdowns;
DWORD currentPid = 600;

struct Token : simwin::Object {
    DWORD access;
    explicit Token(DWORD a) : access(a) {}
};

void Defaults() {
    privileges.clear();
    for (auto& [name, luid] : kLuids)
        privileges[luid] = Privilege{};
    shutdowns.clear();
    currentPid = 600;
}

simwin::ResetHook resetSecurity(Defaults);

Privilege* Find(const std::string& name) {
    auto it = kLuids.find(name);
    if (it == kLuids.end()) return nullptr;
    return &privileges[it->second];
}

bool IsNt() { return simwin::PlatformId() == VER_PLATFORM_WIN32_NT; }

} // namespace

HANDLE GetCurrentProcess() { return (HANDLE)(intptr_t)-1; }

DWORD GetCurrentProcessId() { return currentPid; }

BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    if (simwin::Fails("OpenProcessToken")) return FALSE;
    if (!IsNt()) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    // The pseudo handle, or any open handle (a process opened by identifier).
    if (!token || (process != GetCurrentProcess() && !simwin::HandleObject(process))) {
        SetLastError(!token ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *token = simwin::NewHandle(std::make_shared<Token>(access));
    return TRUE;
}

BOOL LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) {
    if (simwin::Fails("LookupPrivilegeValueA")) return FALSE;
    (void)system; // only the local system is modelled
    if (!name || !luid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto it = kLuids.find(name);
    if (it == kLuids.end()) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    luid->LowPart = it->second;
    luid->HighPart = 0;
    return TRUE;
}

/* Enables or disables the listed privileges. Like Windows, it succeeds even
   when some of them are not held; it then leaves those alone and sets the
   last error to ERROR_NOT_ALL_ASSIGNED, so callers must check GetLastError
   after a TRUE result. */
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                           DWORD bufferLength, PTOKEN_PRIVILEGES previous, LPDWORD returnLength) {
    if (simwin::Fails("AdjustTokenPrivileges")) return FALSE;
    auto t = simwin::HandleAs<Token>(token);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(t->access & TOKEN_ADJUST_PRIVILEGES) || (previous && !(t->access & TOKEN_QUERY))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!disableAll && !newState) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The changes, worked out before anything is applied.
    std::vector<std::pair<DWORD, bool>> changes; // LUID, enable
    bool allAssigned = true;
    if (disableAll) {
        for (auto& [luid, p] : privileges)
            if (p.enabled) changes.push_back({luid, false});
    } else {
        for (DWORD i = 0; i < newState->PrivilegeCount; i++) {
            const LUID_AND_ATTRIBUTES& la = newState->Privileges[i];
            auto it = la.Luid.HighPart == 0 ? privileges.find(la.Luid.LowPart) : privileges.end();
            if (it == privileges.end() || !it->second.held) {
                allAssigned = false;
                continue;
            }
            bool enable = (la.Attributes & SE_PRIVILEGE_ENABLED) != 0;
            if (it->second.enabled != enable) changes.push_back({it->first, enable});
        }
    }
    if (previous) {
        // The earlier states of the privileges that change.
        size_t count = changes.size();
        DWORD needed = (DWORD)(offsetof(TOKEN_PRIVILEGES, Privileges) +
                               (count ? count : 1) * sizeof(LUID_AND_ATTRIBUTES));
        if (returnLength) *returnLength = needed;
        if (bufferLength < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        previous->PrivilegeCount = (DWORD)count;
        for (size_t i = 0; i < count; i++) {
            previous->Privileges[i].Luid = LUID{changes[i].first, 0};
            previous->Privileges[i].Attributes = changes[i].second ? 0 : SE_PRIVILEGE_ENABLED;
        }
    }
    for (auto& [luid, enable] : changes)
        privileges[luid].enabled = enable;
    SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

BOOL ExitWindowsEx(UINT flags, DWORD reason) {
    if (simwin::Fails("ExitWindowsEx")) return FALSE;
    (void)reason;
    bool shutsDown = (flags & (EWX_SHUTDOWN | EWX_REBOOT)) != 0;
    if (IsNt() && shutsDown && !simwin::PrivilegeEnabled(SE_SHUTDOWN_NAME)) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    shutdowns.push_back(flags);
    return TRUE;
}

namespace simwin {

void HoldPrivilege(const std::string& name, bool held) {
    if (Privilege* p = Find(name)) {
        p->held = held;
        if (!held) p->enabled = false;
    }
}

bool PrivilegeEnabled(const std::string& name) {
    Privilege* p = Find(name);
    return p && p->held && p->enabled;
}

const std::vector<UINT>& ShutdownRequests() { return shutdowns; }

void SetCurrentProcessId(DWORD pid) { currentPid = pid; }

} // namespace simwin
