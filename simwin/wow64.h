/*
** simwin: 64-bit Windows running this 32-bit program (WoW64), as one small
** model: a flag saying the program runs under WoW64, the program's file
** system redirection, System32 -> SysWOW64 path redirection, and the two
** views of HKEY_LOCAL_MACHINE\Software.
**
** Under WoW64, while the redirection is on (as it starts), every file name
** the program hands to a file operation that lies in the system folder
** (GetSystemDirectoryA, "C:\WINDOWS\system32") names the same place in the
** Windows folder's SysWOW64, but for the few folders that stay shared
** (drivers\etc, spool, catroot, catroot2, logfiles, driverstore); with it
** off, names mean what they say. Registry
** paths below HKEY_LOCAL_MACHINE\Software opened without KEY_WOW64_64KEY
** lead into Software\Wow6432Node; KEY_WOW64_64KEY reaches the keys as
** written. The test helpers of the other areas (WriteFile, RegSetString, ...)
** always use the names as written, as a 64-bit program sees them.
**
** kernel32 exports, by GetProcAddress only: IsWow64Process from Windows XP
** on (it answers FALSE outside WoW64), Wow64DisableWow64FsRedirection and
** Wow64RevertWow64FsRedirection under WoW64 and from Vista on (outside WoW64
** they fail with ERROR_INVALID_FUNCTION). Windows NT 4.0 and 2000 refuse a
** registry key opened with either view bit (KEY_WOW64_64KEY 0x100,
** KEY_WOW64_32KEY 0x200: rights their keys do not grant) with
** ERROR_ACCESS_DENIED; XP ignores the bits, 9x ignores the whole access mask.
*/
#ifndef SIMWIN_WOW64_H
#define SIMWIN_WOW64_H

#include "simwin/base.h"
#include <string>

#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200

namespace simwin {

/* Whether the program runs under WoW64 (default false); the version is set
   apart (SetWindows10, SetWindowsXp, ...). */
void SetWow64(bool on);
bool Wow64();
/* Marks a started process as a 32-bit one, for IsWow64Process. */
void SetWow64Process(DWORD pid);
/* Whether the program's redirection is off now. */
bool RedirectionOff();

/* For the other areas. The Windows path a file operation of the program
   reaches with `path`, redirection applied. */
std::string Redirected(const std::string& path);
/* The path below `key` that RegOpenKeyExA or RegCreateKeyExA reach with
   `subKey` and access `sam`. */
std::string RegistryPath(HKEY key, const char* subKey, REGSAM sam);
/* Whether this Windows refuses the access mask `sam` for a key. */
bool RefusesViewBits(REGSAM sam);
/* kernel32's export of one of the three functions, when this Windows has it. */
FARPROC Wow64Export(const std::string& function);

} // namespace simwin

#endif
