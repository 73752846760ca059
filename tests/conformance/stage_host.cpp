/*
** The conformance stage over simwin: a fresh world per case, drive C: a
** fresh host folder, other processes and windows simulated.
*/
#include "stage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace stage {

namespace {
std::string root;
}

bool CanModel(const char*) { return true; }

bool UnderWine() { return false; }

void Begin(const char* family) {
    simwin::Reset();
    char tmpl[] = "/tmp/cpconf-XXXXXX";
    root = mkdtemp(tmpl);
    simwin::MapDrive('C', root + "/c");
    CreateDirectoryA("C:\\Scratch", nullptr);
    if (family == kWindows98) simwin::SetWindows98();
    if (family == kWindowsNt4) simwin::SetWindowsNt4();
    if (family == kPerformanceData) simwin::ServeProcessPerformanceData();
    if (family == kDoubleByteEdition) {
        simwin::SetWindows10();
        simwin::SetDoubleByteEdition(true);
    }
}

void End() {
    simwin::Reset();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

std::string Dir() { return "C:\\Scratch\\"; }

void* HoldWithoutSharing(const std::string& path) {
    DWORD pid = simwin::StartProcess({Dir() + "holder.exe", {path}});
    return reinterpret_cast<void*>((uintptr_t)pid);
}

void Release(void* holder) { simwin::EndProcess((DWORD) reinterpret_cast<uintptr_t>(holder)); }

std::string FolderLink() {
    simwin::MakeDir(Dir() + "target");
    simwin::MakeDirLink(Dir() + "link", Dir() + "target");
    return Dir() + "link";
}

bool PutNamed(const std::string& dir, const char* name, bool folder) {
    std::string host = simwin::HostPath(dir) + "/" + name;
    std::replace(host.begin(), host.end(), '\\', '/');
    std::error_code ec;
    if (folder) return std::filesystem::create_directory(host, ec);
    FILE* f = fopen(host.c_str(), "wb");
    return f && fputs("x", f) >= 0 && fclose(f) == 0;
}

bool HardLink(const std::string& existing, const std::string& link) {
    std::error_code ec;
    std::filesystem::create_hard_link(simwin::HostPath(existing), simwin::HostPath(link), ec);
    return !ec;
}

std::string RunningImage() {
    std::string image = Dir() + "running.exe";
    simwin::WriteFile(image, "MZ");
    simwin::StartProcess({image});
    return image;
}

DWORD StartChild(DWORD grants) {
    simwin::WriteFile(Dir() + "child.exe", "MZ");
    simwin::ProcessSpec spec{Dir() + "child.exe"};
    spec.grants = grants;
    return simwin::StartProcess(spec);
}

void EndChild(DWORD pid) { simwin::EndProcess(pid); }

bool RegistryViews() {
    simwin::SetWow64(true);
    return true;
}

bool AsVista() {
    simwin::SetWindows10();
    return true;
}

std::string StoppedService() {
    simwin::ServiceSpec spec;
    spec.name = "CpStopped";
    spec.state = SERVICE_STOPPED;
    spec.binaryPath = Dir() + "stopped.exe";
    simwin::AddService(spec);
    return spec.name;
}

std::string RunningService() {
    simwin::ServiceSpec spec;
    spec.name = "CpRunning";
    spec.process = StartChild();
    spec.binaryPath = Dir() + "child.exe";
    simwin::AddService(spec);
    return spec.name;
}
bool DenyAdministrators(const std::string& path) { return simwin::DenyAdministrators(path), true; }
bool EncryptForAnotherUser(const std::string& path) {
    return simwin::EncryptForAnotherUser(path), true;
}

HWND MakeWindow(WNDPROC proc) { return simwin::CreateTestWindow(proc); }

} // namespace stage
