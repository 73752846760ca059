/*
** simwin: last error, handle table, fault injection, call hooks and reset.
*/
#include "simwin/base.h"

#include <map>
#include <vector>

namespace {

DWORD lastError = 0;

struct Fault {
    DWORD error;
    int times; // < 0: for ever
    int skip;
};

struct Registry {
    std::vector<void (*)()> resets;
    std::map<std::string, std::vector<Fault>> faults;
    std::map<std::string, std::vector<std::function<void()>>> hooks;
    std::map<std::string, int> counts;
    std::map<uintptr_t, std::shared_ptr<simwin::Object>> handles;
    uintptr_t nextHandle = 0x1000;
};

Registry& R() {
    static Registry r;
    return r;
}

} // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

BOOL CloseHandle(HANDLE handle) {
    DWORD err;
    if (simwin::Enter("CloseHandle", &err)) {
        SetLastError(err);
        return FALSE;
    }
    if (!simwin::ReleaseHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

namespace simwin {

ResetHook::ResetHook(void (*fn)()) { R().resets.push_back(fn); }

void Reset() {
    Registry& r = R();
    r.faults.clear();
    r.hooks.clear();
    r.counts.clear();
    r.handles.clear();
    r.nextHandle = 0x1000;
    lastError = 0;
    for (auto fn : r.resets)
        fn();
}

void FailCall(const std::string& op, DWORD error, int times, int skip) {
    R().faults[op].push_back(Fault{error, times, skip});
}

void OnCall(const std::string& op, std::function<void()> hook) {
    R().hooks[op].push_back(std::move(hook));
}

int CallCount(const std::string& op) {
    auto it = R().counts.find(op);
    return it == R().counts.end() ? 0 : it->second;
}

bool Enter(const char* op, DWORD* error) {
    Registry& r = R();
    r.counts[op]++;
    auto h = r.hooks.find(op);
    if (h != r.hooks.end()) {
        auto hooks = h->second; // a hook may add hooks
        for (auto& fn : hooks)
            fn();
    }
    auto f = r.faults.find(op);
    if (f == r.faults.end()) return false;
    for (Fault& fault : f->second) {
        if (fault.skip > 0) {
            fault.skip--;
            continue;
        }
        if (fault.times == 0) continue;
        if (fault.times > 0) fault.times--;
        *error = fault.error;
        return true;
    }
    return false;
}

HANDLE NewHandle(std::shared_ptr<Object> object) {
    Registry& r = R();
    uintptr_t value = r.nextHandle;
    r.nextHandle += 4;
    r.handles[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> HandleObject(HANDLE handle) {
    auto it = R().handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == R().handles.end() ? nullptr : it->second;
}

bool ReleaseHandle(HANDLE handle) {
    return R().handles.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

size_t OpenHandleCount() { return R().handles.size(); }

} // namespace simwin
