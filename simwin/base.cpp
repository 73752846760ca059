/*
** simwin: last error, handle table, fault injection, call hooks and reset.
*/
#include "simwin/base.h"

#include <map>
#include <strings.h>
#include <unordered_map>
#include <vector>

namespace {

DWORD lastError = 0;

struct Fault {
    DWORD error;
    int times; // < 0: for ever
    int skip;
    std::string about; // only calls about this name; empty: every call
};

/* What the tests arranged for one operation, and how often it ran. */
struct Operation {
    int count = 0;
    std::vector<Fault> faults;
    std::vector<std::function<void()>> hooks;
};

struct Registry {
    std::vector<void (*)()> resets;
    std::map<std::string, Operation> operations; // nodes stay put: `byName` points into it
    // Enter is called with string literals: the same pointer finds the same
    // operation without building a string (a different pointer with the same
    // text simply gets its own cache entry for the same node).
    std::unordered_map<const char*, Operation*> byName;
    std::map<uintptr_t, std::shared_ptr<simwin::Object>> handles;
    uintptr_t nextHandle = 0x1000;
    std::string about; // of the call in progress
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
    r.byName.clear();
    r.operations.clear();
    r.handles.clear();
    r.nextHandle = 0x1000;
    lastError = 0;
    for (auto fn : r.resets)
        fn();
}

static Operation& Op(const char* name) {
    Registry& r = R();
    auto cached = r.byName.find(name);
    if (cached != r.byName.end()) return *cached->second;
    Operation& op = r.operations[name];
    r.byName.emplace(name, &op);
    return op;
}

void FailCall(const std::string& op, DWORD error, int times, int skip) {
    R().operations[op].faults.push_back(Fault{error, times, skip, {}});
}

void FailCallOn(const std::string& op, const std::string& about, DWORD error, int times) {
    R().operations[op].faults.push_back(Fault{error, times, 0, about});
}

void OnCall(const std::string& op, std::function<void()> hook) {
    R().operations[op].hooks.push_back(std::move(hook));
}

int CallCount(const std::string& op) {
    auto it = R().operations.find(op);
    return it == R().operations.end() ? 0 : it->second.count;
}

bool Enter(const char* name, DWORD* error) { return Enter(name, error, ""); }

bool Fails(const char* name, const char* about) {
    DWORD err;
    if (!Enter(name, &err, about)) return false;
    SetLastError(err);
    return true;
}

const std::string& CallAbout() { return R().about; }

bool Enter(const char* name, DWORD* error, const char* about) {
    const std::string subject = about ? about : "";
    R().about = subject;
    Operation* op = &Op(name);
    op->count++;
    if (!op->hooks.empty()) {
        auto hooks = op->hooks; // a hook may add hooks
        for (auto& fn : hooks)
            fn();
        op = &Op(name);      // a hook may even have reset the world
        R().about = subject; // or called other operations
    }
    for (Fault& fault : op->faults) {
        if (!fault.about.empty() && strcasecmp(fault.about.c_str(), subject.c_str()) != 0) continue;
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
