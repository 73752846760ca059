/*
** simwin: the thread's last-error value, handles, and the world's test
** controls that every area shares: reset, fault injection and call hooks.
**
** Every simulated operation begins by calling simwin::Enter(name, &err), or
** simwin::Fails(name) where its failure is told by the last error.
** Enter counts the call, runs the hooks a test attached to that name (they
** may change the world mid-scan), and reports whether the test asked this
** call to fail; the operation then fails the way Windows would, with err as
** its error code. An operation on a named thing (a file's path, a registry
** key's subkey or a value's name) passes that name too, so that a test can
** fail the call by what it is about rather than by counting calls.
*/
#ifndef SIMWIN_BASE_H
#define SIMWIN_BASE_H

#include "simwin/types.h"
#include <functional>
#include <memory>
#include <string>

DWORD GetLastError();
void SetLastError(DWORD error);
BOOL CloseHandle(HANDLE handle);

namespace simwin {

/* Empties the whole world: drives, files' attributes, registry, processes,
   message queue, clock, scripts, faults. Tests call it before each case. */
void Reset();

/* Each area registers how to empty itself; Reset runs them all. */
struct ResetHook {
    explicit ResetHook(void (*fn)());
};

/* Fault injection: after `skip` successful calls of operation `op`, the next
   `times` calls fail with `error` (times < 0: every later call). */
void FailCall(const std::string& op, DWORD error, int times = 1, int skip = 0);
/* The next `times` calls of `op` about `about` (its name compared without
   regard to case) fail with `error` (times < 0: every later one). */
void FailCallOn(const std::string& op, const std::string& about, DWORD error, int times = 1);
/* Runs `hook` at the start of every call of `op`, before the fault test. */
void OnCall(const std::string& op, std::function<void()> hook);
/* How often `op` has been called since the last Reset. */
int CallCount(const std::string& op);
/* Called by every simulated operation: true when this call must fail. */
bool Enter(const char* op, DWORD* error);
/* The same for an operation on a named thing: `about` is that name. */
bool Enter(const char* op, DWORD* error, const char* about);
/* Enter for an operation that reports its failure through the last error:
   true, with the injected error set as the thread's last error. */
bool Fails(const char* op, const char* about = "");
/* What the call in progress is about ("" when its operation names nothing):
   for hooks that act on one file or key only. */
const std::string& CallAbout();

/* Handles: an object behind a HANDLE-sized value. Areas derive from it. */
struct Object {
    virtual ~Object() = default;
};
HANDLE NewHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> HandleObject(HANDLE handle);
template <class T> std::shared_ptr<T> HandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(HandleObject(handle));
}
/* Removes the handle; false when it was not open. */
bool ReleaseHandle(HANDLE handle);
/* Open handles of every kind (find searches, processes, tokens, keys, ...). */
size_t OpenHandleCount();

} // namespace simwin

#endif
