/*
** simwin: the process table, process handles, termination, and the locks
** running processes hold on files.
*/
#include "simwin/processes.h"
#include "simwin/crt.h"
#include "simwin/exit.h"
#include "simwin/files.h"
#include "simwin/security.h"
#include "simwin/system.h"

#include <fcntl.h>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

/* Processes with no image file of their own. */
enum class Kind { Program, Idle, System };

/* The image file as the process has it mapped: it follows the file through
   renames, as a file handle does. */
struct MappedFile {
    int fd;
    explicit MappedFile(const std::string& host) : fd(open(host.c_str(), O_RDONLY)) {}
    ~MappedFile() {
        if (fd >= 0) close(fd);
    }
};

struct Process {
    DWORD pid;
    simwin::ProcessSpec spec;
    Kind kind;
    bool running;
    UINT exitCode;
    int terminateCalls; // TerminateProcess calls that reached this process
    uint64_t created;   // creation time, in FILETIME units
    std::shared_ptr<MappedFile> mapped = nullptr; // null: no image file at the start
};

std::map<DWORD, Process> processes;
std::map<std::pair<DWORD, uint64_t>, int> openHandles; // (pid, created) -> handles
DWORD nextPid = 1000;
uint64_t clockTicks = 0x01D5000000000000ull; // creation times, one apart each
const uint64_t kOwnCreated = 0x01D4000000000000ull;
const char kDefaultOwnImage[] = "C:\\CleanPhantaxis\\CleanPhantaxis.exe";
std::string ownImage = kDefaultOwnImage;

simwin::ResetHook resetProcesses([] {
    processes.clear();
    openHandles.clear();
    nextPid = 1000;
    clockTicks = 0x01D5000000000000ull;
    ownImage = kDefaultOwnImage;
});

bool IsNt() { return simwin::PlatformId() == VER_PLATFORM_WIN32_NT; }

std::string FileName(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

void Add(DWORD pid, Kind kind, const simwin::ProcessSpec& spec) {
    std::shared_ptr<MappedFile> mapped;
    const std::string host = spec.image.empty() ? "" : simwin::HostPath(spec.image);
    if (!host.empty() && access(host.c_str(), F_OK) == 0)
        mapped = std::make_shared<MappedFile>(host);
    processes[pid] = Process{pid, spec, kind, true, STILL_ACTIVE, 0, clockTicks += 10000, mapped};
}

/* The host name the image a process maps has now; empty when it maps none
   (or the file is gone). */
std::string MappedName(const Process& p) {
    return p.mapped && p.mapped->fd >= 0 ? simwin::CurrentHostName(p.mapped->fd) : "";
}

simwin::ProcessView View(const Process& p) {
    simwin::ProcessView v;
    v.pid = p.pid;
    switch (p.kind) {
    case Kind::Idle:
        v.exeName = IsNt() ? "[System Process]" : "";
        v.instanceName = "Idle";
        break;
    case Kind::System:
        v.exeName = v.instanceName = "System";
        break;
    case Kind::Program:
        v.image = p.spec.image;
        v.reportedPath = p.spec.reportedPath.empty() ? p.spec.image : p.spec.reportedPath;
        v.exeName = FileName(p.spec.image);
        v.instanceName = WithoutExtension(v.exeName);
        break;
    }
    return v;
}

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return nullptr;
}

HANDLE NewProcessHandle(DWORD pid, DWORD access, uint64_t created) {
    return simwin::NewHandle(std::make_shared<simwin::ProcessHandle>(pid, access, created));
}

/* The process a handle was opened on, while it is the one under its
   identifier; null for the program itself and for an ended process whose
   identifier went to another. */
Process* Of(const simwin::ProcessHandle& h) {
    auto it = processes.find(h.pid);
    return it == processes.end() || it->second.created != h.created ? nullptr : &it->second;
}

} // namespace

HANDLE OpenProcess(DWORD access, BOOL, DWORD processId) {
    DWORD err;
    if (simwin::Enter("OpenProcess", &err)) return Fail(err);
    if (processId == GetCurrentProcessId()) return NewProcessHandle(processId, access, kOwnCreated);
    auto it = processes.find(processId);
    if (it == processes.end() || it->second.kind == Kind::Idle)
        return Fail(ERROR_INVALID_PARAMETER);
    const Process& p = it->second;
    // An ended process stays while a handle to it is open, and opens again
    // under its identifier; once the last handle closes, it is gone.
    if (!p.running && !openHandles.count({processId, p.created}))
        return Fail(ERROR_INVALID_PARAMETER);
    // Vista introduced the limited query right; earlier systems know no such bit.
    if ((access & PROCESS_QUERY_LIMITED_INFORMATION) && IsNt() && simwin::MajorVersion() < 6)
        return Fail(ERROR_ACCESS_DENIED);
    DWORD grants = p.spec.grants;
    if (grants & PROCESS_QUERY_INFORMATION) grants |= PROCESS_QUERY_LIMITED_INFORMATION;
    bool guarded = p.kind == Kind::System ||
                   p.spec.onTerminate == simwin::Termination::NeedsDebugPrivilege ||
                   (access & ~grants) != 0;
    if (guarded && IsNt() && !simwin::PrivilegeEnabled(SE_DEBUG_NAME))
        return Fail(ERROR_ACCESS_DENIED);
    return NewProcessHandle(processId, access, p.created);
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    if (simwin::Fails("TerminateProcess")) return FALSE;
    if (process == GetCurrentProcess()) throw simwin::ProcessExit{(int)exitCode};
    auto h = simwin::HandleAs<simwin::ProcessHandle>(process);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(h->access & PROCESS_TERMINATE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (h->pid == GetCurrentProcessId()) throw simwin::ProcessExit{(int)exitCode};
    Process* ended = Of(*h);
    // A process that has already ended cannot be terminated again.
    if (!ended || !ended->running) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    Process& p = *ended;
    int call = ++p.terminateCalls;
    bool refuses = p.kind == Kind::System || p.spec.onTerminate == simwin::Termination::Refuses ||
                   (p.spec.onTerminate == simwin::Termination::RefusesOnce && call == 1);
    if (refuses) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    p.running = false;
    p.exitCode = exitCode;
    return TRUE;
}

namespace simwin {

ProcessHandle::ProcessHandle(DWORD p, DWORD a, uint64_t c) : pid(p), access(a), created(c) {
    openHandles[{pid, created}]++;
}

ProcessHandle::~ProcessHandle() {
    auto it = openHandles.find({pid, created});
    if (it != openHandles.end() && --it->second == 0) openHandles.erase(it);
}

bool HandleProcessRuns(const ProcessHandle& h) {
    if (h.pid == GetCurrentProcessId()) return true;
    const Process* p = Of(h);
    return p && p->running;
}

std::string HandleMappedImage(const ProcessHandle& h, bool exact) {
    if (h.pid == GetCurrentProcessId()) return ownImage;
    const Process* p = Of(h);
    if (!p || !p->running || p->kind != Kind::Program) return "";
    const std::string now = MappedName(*p);
    return now.empty() ? "" : WindowsPathOf(now, exact);
}

std::vector<std::string> HandleImageResources(const ProcessHandle& h) {
    const Process* p = Of(h);
    return p && p->running && p->kind == Kind::Program ? p->spec.imageResources
                                                       : std::vector<std::string>();
}

std::string HandleImage(const ProcessHandle& h) {
    if (h.pid == GetCurrentProcessId()) return ownImage;
    const Process* p = Of(h);
    return p && p->kind == Kind::Program ? p->spec.image : "";
}

DWORD ReuseIdentifier(DWORD pid, const ProcessSpec& spec) {
    auto it = processes.find(pid);
    if (pid == GetCurrentProcessId() || (it != processes.end() && it->second.running)) return 0;
    if (it != processes.end() && openHandles.count({pid, it->second.created})) return 0;
    Add(pid, Kind::Program, spec);
    return pid;
}

DWORD StartProcess(const ProcessSpec& spec) {
    DWORD pid = nextPid;
    nextPid += 4;
    Add(pid, Kind::Program, spec);
    return pid;
}

bool IsRunning(DWORD pid) {
    if (pid == GetCurrentProcessId()) return true;
    auto it = processes.find(pid);
    return it != processes.end() && it->second.running;
}

void EndProcess(DWORD pid) {
    auto it = processes.find(pid);
    if (it != processes.end() && it->second.running) {
        it->second.running = false;
        it->second.exitCode = 0;
    }
}

UINT ExitCodeOf(DWORD pid) {
    auto it = processes.find(pid);
    return it == processes.end() || it->second.running ? STILL_ACTIVE : it->second.exitCode;
}

void StartSystemProcesses() {
    if (!IsNt()) {
        Add(0xFFF5A1E5, Kind::Program, {"C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL"});
        Add(0xFFF5B8A1, Kind::Program, {"C:\\WINDOWS\\SYSTEM\\MSGSRV32.EXE"});
        Add(0xFFF6E2DD, Kind::Program, {"C:\\WINDOWS\\EXPLORER.EXE"});
        return;
    }
    const std::string sys = "C:\\WINDOWS\\system32\\";
    Add(0, Kind::Idle, {});
    Add(4, Kind::System, {});
    Add(368, Kind::Program,
        {sys + "smss.exe", {}, Termination::Ends, "\\SystemRoot\\System32\\smss.exe"});
    Add(416, Kind::Program,
        {sys + "csrss.exe", {}, Termination::NeedsDebugPrivilege, "\\??\\" + sys + "csrss.exe"});
    Add(440, Kind::Program,
        {sys + "winlogon.exe",
         {},
         Termination::NeedsDebugPrivilege,
         "\\??\\" + sys + "winlogon.exe"});
}

void SetOwnImage(const std::string& winPath) { ownImage = winPath; }

FileLock LockOf(const std::string& hostPath) {
    FileLock lock = FileLock::None;
    for (auto& [pid, p] : processes) {
        if (!p.running) continue;
        for (auto& held : p.spec.heldFiles)
            if (HostPath(held) == hostPath) return FileLock::HeldExclusive;
        // The mapped file wherever it was renamed to; by its name where the
        // test started the process before writing the file.
        const std::string image = p.mapped ? MappedName(p) : HostPath(p.spec.image);
        if (!p.spec.image.empty() && image == hostPath) lock = FileLock::RunningImage;
    }
    return lock;
}

bool HoldsBelow(const std::string& hostDir) {
    const std::string prefix = hostDir + "/";
    auto below = [&](const std::string& host) {
        return host.compare(0, prefix.size(), prefix) == 0;
    };
    for (auto& [pid, p] : processes) {
        if (!p.running) continue;
        for (auto& held : p.spec.heldFiles)
            if (below(HostPath(held))) return true;
        if (!p.spec.image.empty() && below(p.mapped ? MappedName(p) : HostPath(p.spec.image)))
            return true;
    }
    return false;
}

std::vector<ProcessView> RunningProcesses() {
    std::vector<ProcessView> list;
    const DWORD own = GetCurrentProcessId();
    bool ownListed = false;
    for (auto& [pid, p] : processes) {
        if (!p.running || pid == own) continue;
        if (!ownListed && pid > own) {
            list.push_back(View(Process{own, {ownImage}, Kind::Program, true, STILL_ACTIVE, 0, 0}));
            ownListed = true;
        }
        list.push_back(View(p));
    }
    if (!ownListed)
        list.push_back(View(Process{own, {ownImage}, Kind::Program, true, STILL_ACTIVE, 0, 0}));
    return list;
}

} // namespace simwin
