/*
** The conformance stage on a real Win32 (Wine, or Windows itself): a scratch
** folder under the temporary folder, a test key under HKEY_LOCAL_MACHINE,
** other processes started from this program, a message-only window.
*/
#include "stage.h"

#include <map>
#include <vector>

namespace stage {

namespace {

std::map<DWORD, PROCESS_INFORMATION> children;
std::vector<HWND> windows;

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            // By its 8.3 name where it has one: the long one may not reach it.
            std::string name = fd.cAlternateFileName[0] ? fd.cAlternateFileName : fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path + "\\");
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

const char kService[] = "CpConformanceStopped";
// The test key in the 32-bit view, as a 64-bit program names it.
const char kKey32[] = "Software\\Wow6432Node\\CleanPhantaxis Conformance";

void DeleteService() {
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE s = m ? OpenServiceA(m, kService, DELETE) : nullptr;
    if (s) ::DeleteService(s), CloseServiceHandle(s);
    if (m) CloseServiceHandle(m);
}

void DeleteKeyTree(HKEY parent, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    char sub[256];
    DWORD chars = sizeof sub;
    while (RegEnumKeyExA(key, 0, sub, &chars, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
        DeleteKeyTree(key, sub);
        chars = sizeof sub;
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, name);
}

/* Starts this program again with `arguments`; everyone may open the new
   process with the rights `grants` only. */
PROCESS_INFORMATION Spawn(const std::string& arguments, DWORD grants) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string line = "\"" + std::string(self) + "\" " + arguments;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // A security descriptor whose one entry allows everyone `grants`.
    char acl[64];
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    InitializeAcl((PACL)acl, sizeof acl, ACL_REVISION);
    // Since Vista a handle with PROCESS_QUERY_INFORMATION also carries the
    // limited right, and both are checked.
    if (grants & PROCESS_QUERY_INFORMATION) grants |= PROCESS_QUERY_LIMITED_INFORMATION;
    AddAccessAllowedAce((PACL)acl, ACL_REVISION, grants, everyone);
    SetSecurityDescriptorDacl(&sd, TRUE, (PACL)acl, FALSE);
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    CreateProcessA(self, &line[0], &sa, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    FreeSid(everyone);
    return pi;
}

} // namespace

bool CanModel(const char* family) { return family == nullptr; }

bool UnderWine() {
    return Resolve<FARPROC>(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

void Begin(const char*) {
    RemoveTree(Dir());
    CreateDirectoryA(Dir().c_str(), nullptr);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kKey32);
}

void End() {
    for (auto& c : children) {
        TerminateProcess(c.second.hProcess, 0);
        WaitForSingleObject(c.second.hProcess, 10000);
        CloseHandle(c.second.hProcess);
        CloseHandle(c.second.hThread);
    }
    children.clear();
    for (HWND w : windows)
        DestroyWindow(w);
    windows.clear();
    MSG m; // nothing a case left behind reaches the next one
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    RemoveTree(Dir());
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kKey32);
    DeleteService();
}

bool PutNamed(const std::string& dir, const char* name, bool folder) {
    // "\\?\" keeps the name as it is written.
    enum { ROOM = 32768 }; // a "\\?\" path's longest
    static WCHAR path[ROOM] = L"\\\\?\\";
    int n = MultiByteToWideChar(CP_ACP, 0, dir.c_str(), -1, path + 4, ROOM - 4);
    if (n <= 0 || !MultiByteToWideChar(CP_UTF8, 0, name, -1, path + 3 + n, ROOM - 3 - n))
        return false;
    if (folder) return CreateDirectoryW(path, nullptr) != 0;
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    const bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, "x", 1, &written, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return ok;
}

bool DenyAdministrators(const std::string&) { return false; }
bool EncryptForAnotherUser(const std::string&) { return false; }

bool HardLink(const std::string& existing, const std::string& link) {
    typedef BOOL(WINAPI * CreateHardLinkFn)(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES);
    auto make = Resolve<CreateHardLinkFn>(GetModuleHandleA("kernel32.dll"), "CreateHardLinkA");
    return make && make(link.c_str(), existing.c_str(), nullptr);
}

std::string Dir() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "cpconf\\";
}

void* HoldWithoutSharing(const std::string& path) {
    // A handle without any sharing acts as another program's would.
    return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

void Release(void* holder) { CloseHandle(holder); }

std::string FolderLink() {
    const DWORD a = GetFileAttributesA("C:\\hostlink");
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? "C:\\hostlink" : "";
}

std::string RunningImage() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    return self;
}

DWORD StartChild(DWORD grants) {
    PROCESS_INFORMATION pi = Spawn("--idle", grants);
    if (!pi.hProcess) return 0;
    children[pi.dwProcessId] = pi;
    // It runs once its loader has recorded its image (as every process the
    // program lists has long done): until then that record cannot be read.
    typedef DWORD(WINAPI * Fn)(HANDLE, HMODULE, LPSTR, DWORD);
    auto record = Resolve<Fn>("psapi.dll", "GetModuleFileNameExA");
    char image[MAX_PATH];
    for (int i = 0; record && i < 200 && !record(pi.hProcess, nullptr, image, sizeof image); i++)
        Sleep(10);
    return pi.dwProcessId;
}

void EndChild(DWORD pid) {
    auto it = children.find(pid);
    if (it == children.end()) return;
    TerminateProcess(it->second.hProcess, 0);
    WaitForSingleObject(it->second.hProcess, 10000);
    CloseHandle(it->second.hProcess);
    CloseHandle(it->second.hThread);
    children.erase(it);
}

bool AsVista() {
    OSVERSIONINFOA v;
    v.dwOSVersionInfoSize = sizeof v;
    return GetVersionExA(&v) && v.dwMajorVersion >= 6;
}

bool RegistryViews() {
    BOOL wow = FALSE;
    typedef BOOL(WINAPI * Fn)(HANDLE, BOOL*);
    if (auto is = Resolve<Fn>("kernel32.dll", "IsWow64Process")) is(GetCurrentProcess(), &wow);
    return sizeof(void*) == 8 || wow;
}

std::string StoppedService() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE s = CreateServiceA(
        m, kService, kService, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
        SERVICE_ERROR_IGNORE, self, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (s) CloseServiceHandle(s);
    if (m) CloseServiceHandle(m);
    return kService;
}

/* Starting a service of our own would need a program that answers the
   service manager; a Wine prefix runs its plug and play service from boot,
   so that one serves where it runs. */
std::string RunningService() {
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE s = m ? OpenServiceA(m, "PlugPlay", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS st{};
    const bool runs = s && QueryServiceStatus(s, &st) && st.dwCurrentState == SERVICE_RUNNING;
    if (s) CloseServiceHandle(s);
    if (m) CloseServiceHandle(m);
    return runs ? "PlugPlay" : "";
}

/* The case's procedure sees the messages posted to the window; the window's
   own (creation and the like) go to the default procedure. */
LRESULT CALLBACK Forward(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = (WNDPROC)GetWindowLongPtrA(hwnd, GWLP_USERDATA);
    if (proc && message >= WM_USER) return proc(hwnd, message, wParam, lParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND MakeWindow(WNDPROC proc) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Forward;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "CpConformance";
    RegisterClassA(&wc); // once; later calls find it registered
    HWND w = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, nullptr);
    if (w) SetWindowLongPtrA(w, GWLP_USERDATA, (LONG_PTR)proc);
    if (w) windows.push_back(w);
    return w;
}

} // namespace stage
