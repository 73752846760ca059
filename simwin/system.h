/*
** simwin: what the system says about itself: its version, its folders and
** the process environment.
*/
#ifndef SIMWIN_SYSTEM_H
#define SIMWIN_SYSTEM_H

#include "simwin/base.h"
#include <string>

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
typedef OSVERSIONINFOA* LPOSVERSIONINFOA;

BOOL GetVersionExA(LPOSVERSIONINFOA info);
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
DWORD GetTempPathA(DWORD size, LPSTR buffer);
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);
DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size);

namespace simwin {

/* The version GetVersionExA reports (default: Windows XP, NT 5.1). */
void SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build = 0);
void SetWindows98();
void SetWindowsNt4();
void SetWindows2000();
void SetWindowsXp();
void SetWindows10();
/* The platform id GetVersionExA would report, read without counting a call
   (other areas model family differences with it). */
DWORD PlatformId();
DWORD MajorVersion();
DWORD MinorVersion();
/* Folders (defaults C:\WINDOWS, C:\WINDOWS\system32, C:\WINDOWS\TEMP\). */
void SetWindowsDirectory(const std::string& path);
void SetSystemDirectory(const std::string& path);
void SetTempPath(const std::string& path); // must end with a backslash
/* The folders and version as the queries above give them, read without
   counting a call (for the other areas). */
std::string WindowsDirectory();
std::string SystemDirectory();
OSVERSIONINFOA Version();
/* Environment: SystemRoot and windir start as the Windows folder. */
void SetEnv(const std::string& name, const std::string& value);

} // namespace simwin

#endif
