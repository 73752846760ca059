/*
** simwin: running processes, as far as the file system sees them. A running
** process keeps its image file from being deleted (it may still be read), and
** may hold other files open without sharing (they can be neither opened nor
** deleted).
*/
#ifndef SIMWIN_PROCESSES_H
#define SIMWIN_PROCESSES_H

#include "simwin/base.h"
#include <string>
#include <vector>

namespace simwin {

enum class Termination {
    Ends,                // TerminateProcess succeeds and the process is gone
    Refuses,             // TerminateProcess fails with ERROR_ACCESS_DENIED
    RefusesOnce,         // the first TerminateProcess fails, later ones succeed
    NeedsDebugPrivilege, // opening it fails with ERROR_ACCESS_DENIED unless
                         // the caller holds SeDebugPrivilege
};

struct ProcessSpec {
    std::string image;                  // Windows path of the image file
    std::vector<std::string> heldFiles; // files held open without sharing
    Termination onTerminate = Termination::Ends;
};

/* Starts a simulated process; returns its identifier. */
DWORD StartProcess(const ProcessSpec& spec);
bool IsRunning(DWORD pid);
/* Ends a process as if it exited by itself. */
void EndProcess(DWORD pid);

/* How running processes hold a file (host path). */
enum class FileLock { None, RunningImage, HeldExclusive };
FileLock LockOf(const std::string& hostPath);

} // namespace simwin

#endif
