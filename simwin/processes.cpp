/*
** simwin: the process table and the locks running processes hold on files.
*/
#include "simwin/processes.h"
#include "simwin/files.h"

#include <map>

namespace {

struct Process {
    DWORD pid;
    simwin::ProcessSpec spec;
    bool running;
};

std::map<DWORD, Process> processes;
DWORD nextPid = 1000;

simwin::ResetHook resetProcesses([] {
    processes.clear();
    nextPid = 1000;
});

} // namespace

namespace simwin {

DWORD StartProcess(const ProcessSpec& spec) {
    DWORD pid = nextPid;
    nextPid += 4;
    processes[pid] = Process{pid, spec, true};
    return pid;
}

bool IsRunning(DWORD pid) {
    auto it = processes.find(pid);
    return it != processes.end() && it->second.running;
}

void EndProcess(DWORD pid) {
    auto it = processes.find(pid);
    if (it != processes.end()) it->second.running = false;
}

FileLock LockOf(const std::string& hostPath) {
    FileLock lock = FileLock::None;
    for (auto& [pid, p] : processes) {
        if (!p.running) continue;
        for (auto& held : p.spec.heldFiles)
            if (HostPath(held) == hostPath) return FileLock::HeldExclusive;
        if (HostPath(p.spec.image) == hostPath) lock = FileLock::RunningImage;
    }
    return lock;
}

} // namespace simwin
