/*
** simwin: running processes. A running process keeps its image file from
** being deleted (it may still be read), and may hold other files open without
** sharing (they can be neither opened nor deleted). A process ends when it is
** terminated and then releases its image and every file it held.
**
** Processes are opened by identifier with OpenProcess, which gives a handle
** carrying the access rights asked for; TerminateProcess needs
** PROCESS_TERMINATE in that handle. On NT a process grants the program only
** the rights its security allows (ProcessSpec::grants): asking for more is
** refused with ERROR_ACCESS_DENIED, unless SeDebugPrivilege is enabled,
** which passes the check as on Windows. Windows 9x checks no rights. As
** on Windows, an identifier that names
** no running process cannot be opened (ERROR_INVALID_PARAMETER), and the
** System Idle Process (identifier 0) cannot be opened at all.
**
** A handle refers to the process it was opened on, not to its identifier:
** once that process has ended, the handle reaches no other. Windows may give
** an ended process's identifier to a new process, but not while a handle to
** the ended one is still open (ReuseIdentifier); while one is, OpenProcess
** of that identifier opens the ended process again. Each process has a creation
** time (GetProcessTimes, resolved at run time from kernel32 on NT), and on
** Vista and later QueryFullProcessImageNameA (also resolved at run time) reads
** its image path with PROCESS_QUERY_LIMITED_INFORMATION alone.
**
** The program itself is always running (identifier GetCurrentProcessId(),
** image OwnImage()); the enumerations list it with the others, in order of
** identifier. Terminating it ends the program (simwin::ProcessExit).
*/
#ifndef SIMWIN_PROCESSES_H
#define SIMWIN_PROCESSES_H

#include "simwin/base.h"
#include <string>
#include <vector>

#define PROCESS_TERMINATE 0x0001
#define PROCESS_VM_READ 0x0010
#define PROCESS_QUERY_INFORMATION 0x0400
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#define PROCESS_ALL_ACCESS 0x001F0FFF
#define STILL_ACTIVE 259
#define ERROR_PARTIAL_COPY 299L

HANDLE OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId);
BOOL TerminateProcess(HANDLE process, UINT exitCode);

namespace simwin {

enum class Termination {
    Ends,                // TerminateProcess succeeds and the process is gone
    Refuses,             // TerminateProcess fails with ERROR_ACCESS_DENIED
    RefusesOnce,         // the first TerminateProcess fails, later ones succeed
    NeedsDebugPrivilege, // on NT, opening it fails with ERROR_ACCESS_DENIED unless
                         // the program has SeDebugPrivilege enabled
};

struct ProcessSpec {
    std::string image;                       // Windows path of the image file
    std::vector<std::string> heldFiles = {}; // files held open without sharing
    Termination onTerminate = Termination::Ends;
    // The loader's record of its image inside the process, which
    // GetModuleFileNameExA reads on NT, when that is not the image path: some
    // system processes record "\SystemRoot\System32\smss.exe" or
    // "\??\C:\WINDOWS\system32\csrss.exe", one started from a drive letter
    // of its own session records that letter, and the process itself may
    // write anything there. The kernel's name of the image is `image`.
    std::string reportedPath = "";
    // The rights its security gives this program on NT (another account's
    // process may allow only some); a request beyond them is refused.
    DWORD grants = PROCESS_ALL_ACCESS;
    // Windows paths of files it maps for their resources alone
    // (LoadLibraryEx with LOAD_LIBRARY_AS_IMAGE_RESOURCE): Microsoft's
    // LoadLibraryEx page has the system map such a file as an image file, so
    // VirtualQueryEx reports it MEM_IMAGE like the process's own image.
    std::vector<std::string> imageResources = {};
};

/* Starts a simulated process; returns its identifier (1000, 1004, ...). */
DWORD StartProcess(const ProcessSpec& spec);
bool IsRunning(DWORD pid);
/* Starts a process under the identifier of an ended one, as Windows may do;
   0 (nothing started) while that identifier is in use: its process runs, or
   a handle to it is still open. */
DWORD ReuseIdentifier(DWORD pid, const ProcessSpec& spec);
/* Ends a process as if it exited by itself. */
void EndProcess(DWORD pid);
/* The exit code of an ended process; STILL_ACTIVE while it runs. */
UINT ExitCodeOf(DWORD pid);

/* Adds the processes every Windows runs before any program, in front of the
   test's own by identifier. NT: System Idle Process (0, no image, cannot be
   opened), System (4, no image file; opening it needs SeDebugPrivilege),
   smss.exe reporting "\SystemRoot\System32\smss.exe", csrss.exe and
   winlogon.exe reporting "\??\C:\WINDOWS\system32\...", the last two needing
   SeDebugPrivilege. Windows 9x: KERNEL32.DLL, MSGSRV32.EXE and EXPLORER.EXE
   from the Windows folders. Chosen by the platform at the time of the call. */
void StartSystemProcesses();

/* The program's own image (default "C:\CleanPhantaxis\CleanPhantaxis.exe"). */
void SetOwnImage(const std::string& winPath);

/* How running processes hold a file (host path). */
enum class FileLock { None, RunningImage, HeldExclusive };
FileLock LockOf(const std::string& hostPath);
/* Whether a running process holds a file below the host folder `hostDir`:
   its image as it maps it, or a file it holds. */
bool HoldsBelow(const std::string& hostDir);

/* One running process as the enumerations see it (for the other areas). */
struct ProcessView {
    DWORD pid;
    std::string image;        // Windows path of the image; empty for Idle and System
    std::string reportedPath; // what GetModuleFileNameExA reports; empty: fails
    std::string exeName;      // file name of the image ("System" for System)
    // Performance instance name: the image's file name without its
    // extension ("Idle", "System"), whole. Microsoft's "Handling Duplicate
    // Instance Names" page: the Process object "uses only the process's EXE
    // name as the instance name", so names repeat and anyone may choose one;
    // no cut of the name is documented for any version, NT 4.0 included.
    std::string instanceName;
};
/* Every running process in order of identifier, the program's own included. */
std::vector<ProcessView> RunningProcesses();

/* What OpenProcess gives: the process (its identifier and creation time)
   and the rights the handle carries. */
struct ProcessHandle : Object {
    DWORD pid;
    DWORD access;
    uint64_t created;
    ProcessHandle(DWORD p, DWORD a, uint64_t c);
    ~ProcessHandle() override;
};
/* Whether the handle's process still runs (its identifier is not reused
   while the handle is open). */
bool HandleProcessRuns(const ProcessHandle& h);
/* The image path of the handle's process as the kernel names it (its real
   path as stored; the ANSI functions give AnsiPathOf it); empty for System
   and the Idle process. */
std::string HandleImage(const ProcessHandle& h);
/* The Windows path the handle's process's image file has now: the file
   stays mapped while the process runs and keeps its mapping through a
   rename of the file or of a folder above it (the kernel's name of the
   image, HandleImage, stays the name at the start). Empty when the process
   maps no image file (System, one whose image was missing at its start).
   Each name as the ANSI functions give it, or with `exact` as stored. */
std::string HandleMappedImage(const ProcessHandle& h, bool exact = false);
/* The files a running process maps as image resources (ProcessSpec). */
std::vector<std::string> HandleImageResources(const ProcessHandle& h);

} // namespace simwin

#endif
