/*
** simwin: version, system folders and environment.
*/
#include "simwin/system.h"
#include "simwin/crt.h"

#include <map>

namespace {

OSVERSIONINFOA version;
std::string windowsDir, systemDir, tempDir;
std::map<std::string, std::pair<std::string, std::string>> env; // upper name -> (name, value)

std::string Upper(std::string s) {
    for (char& c : s)
        c = (char)toupper((unsigned char)c);
    return s;
}

void Defaults() {
    simwin::SetWindowsXp();
    windowsDir = "C:\\WINDOWS";
    systemDir = "C:\\WINDOWS\\system32";
    tempDir = "C:\\WINDOWS\\TEMP\\";
    env.clear();
    simwin::SetEnv("SystemRoot", windowsDir);
    simwin::SetEnv("windir", windowsDir);
}

simwin::ResetHook resetSystem(Defaults);

/* Copies `s` the way the directory queries do: the length without the
   terminator on success, the size needed with it when `size` is too small. */
UINT CopyOut(const std::string& s, LPSTR buffer, UINT size) {
    if (size < s.size() + 1) return (UINT)s.size() + 1;
    memcpy(buffer, s.c_str(), s.size() + 1);
    return (UINT)s.size();
}

} // namespace

namespace simwin {

void SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build) {
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    version.dwPlatformId = platformId;
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.dwBuildNumber = build;
}
void SetWindows98() { SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222); }
void SetWindowsNt4() { SetVersion(VER_PLATFORM_WIN32_NT, 4, 0, 1381); }
void SetWindows2000() { SetVersion(VER_PLATFORM_WIN32_NT, 5, 0, 2195); }
void SetWindowsXp() { SetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600); }
void SetWindows10() { SetVersion(VER_PLATFORM_WIN32_NT, 10, 0, 19045); }
DWORD PlatformId() { return version.dwPlatformId; }
DWORD MajorVersion() { return version.dwMajorVersion; }
DWORD MinorVersion() { return version.dwMinorVersion; }
void SetWindowsDirectory(const std::string& p) { windowsDir = p; }
void SetSystemDirectory(const std::string& p) { systemDir = p; }
void SetTempPath(const std::string& p) { tempDir = p; }
void SetEnv(const std::string& name, const std::string& value) { env[Upper(name)] = {name, value}; }
std::string WindowsDirectory() { return windowsDir; }
std::string SystemDirectory() { return systemDir; }
OSVERSIONINFOA Version() { return version; }

} // namespace simwin

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    if (simwin::Fails("GetVersionExA")) return FALSE;
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        // 9x refuses without setting the last error.
        if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *info = version;
    return TRUE;
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    DWORD err;
    if (simwin::Enter("GetWindowsDirectoryA", &err)) return 0;
    return CopyOut(windowsDir, buffer, size);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    DWORD err;
    if (simwin::Enter("GetSystemDirectoryA", &err)) return 0;
    return CopyOut(systemDir, buffer, size);
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    DWORD err;
    if (simwin::Enter("GetTempPathA", &err)) return 0;
    return CopyOut(tempDir, buffer, size);
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    auto it = env.find(Upper(name ? name : ""));
    if (it == env.end()) {
        SetLastError(203); // ERROR_ENVVAR_NOT_FOUND
        return 0;
    }
    return CopyOut(it->second.second, buffer, size);
}

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
    if (!name) return FALSE;
    if (value)
        simwin::SetEnv(name, value);
    else
        env.erase(Upper(name));
    return TRUE;
}

/* Replaces every %NAME% of a defined variable; an undefined one stays as
   written. Returns the characters needed with the terminator. When `size`
   is smaller, Windows leaves the buffer's contents undefined; we fill it
   with the start of the expansion and no terminator, the worst a caller can
   meet, so that one which uses the buffer anyway is caught. */
DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) {
    if (simwin::Fails("ExpandEnvironmentStringsA")) return 0;
    if (!source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string out;
    for (const char* p = source; *p;) {
        const char* close = *p == '%' ? strchr(p + 1, '%') : nullptr;
        if (close) {
            auto it = env.find(Upper(std::string(p + 1, close)));
            if (it != env.end()) {
                out += it->second.second;
                p = close + 1;
                continue;
            }
        }
        out += *p++;
    }
    DWORD needed = (DWORD)out.size() + 1;
    if (destination && size >= needed)
        memcpy(destination, out.c_str(), needed);
    else if (destination)
        memcpy(destination, out.c_str(), size);
    return needed;
}
