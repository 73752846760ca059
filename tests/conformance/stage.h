/*
** The stage a conformance case plays on: what a case needs that plain Win32
** cannot set up the same way in both builds. The host build (stage_host.cpp)
** builds it in simwin's world; the Windows build (stage_windows.cpp) makes it
** for real: a scratch folder, another process, a window.
*/
#ifndef TESTS_CONFORMANCE_STAGE_H
#define TESTS_CONFORMANCE_STAGE_H

#include "actions/resolve_by_name.h"
#include "platform/win32.h"

#include <string>

#ifndef CALLBACK
#define CALLBACK
#endif

namespace stage {

/* Families a MODEL case may ask for, compared by address: arrays, one
   object each in the whole program (a pointer to a literal may be a
   different copy in every file). */
inline constexpr char kWindows98[] = "Windows 98";
inline constexpr char kWindowsNt4[] = "Windows NT 4.0";
inline constexpr char kPerformanceData[] = "NT performance data"; // with a process object
inline constexpr char kDoubleByteEdition[] = "Windows 10, a double-byte language's edition";

/* Whether this build can stage `family` (null: the platform as it is). */
bool CanModel(const char* family);
/* Whether this is Wine, which differs from Windows in a few places the cases
   name; simwin follows Windows there. */
bool UnderWine();
/* Before and after each case: a fresh, empty scratch folder and test key. */
void Begin(const char* family);
void End();

/* The scratch folder, ending in a backslash. */
std::string Dir();
/* The registry key below HKEY_LOCAL_MACHINE the cases may fill. */
inline constexpr char kKey[] = "Software\\CleanPhantaxis Conformance";

/* Another process holds `path` open without any sharing until Release. */
void* HoldWithoutSharing(const std::string& path);
void Release(void* holder);
/* A folder link: a folder whose path leads to another folder (under Wine
   the host symbolic link run_wine.sh makes); empty when there is none. */
std::string FolderLink();
/* Makes a file (holding "x") or, with `folder`, a folder in `dir` named
   exactly `name` (UTF-8), as a program of the wide functions can: a name
   outside the ANSI code page, or one that ends in dots or blanks, which
   Win32 paths drop. */
bool PutNamed(const std::string& dir, const char* name, bool folder = false);
/* Gives the file `existing` a second name `link` (a hard link, NTFS). */
bool HardLink(const std::string& existing, const std::string& link);
/* Denies Administrators everything on the file or folder (its owner may);
   false where the stage cannot (Windows: it could not be cleaned up). */
bool DenyAdministrators(const std::string& path);
/* Encrypts the file as another user (EFS); false where the stage cannot. */
bool EncryptForAnotherUser(const std::string& path);
/* The image file of a running process. */
std::string RunningImage();
/* Starts another process that runs until EndChild, which makes it exit by
   itself (not through a handle of ours) and waits until it has. Its security
   grants others the process rights `grants` only. */
DWORD StartChild(DWORD grants = PROCESS_ALL_ACCESS);
void EndChild(DWORD pid);
/* Whether HKEY_LOCAL_MACHINE\Software has a 32-bit and a 64-bit view here
   (64-bit Windows); the host stages them. */
bool RegistryViews();
/* Whether the case may take this Windows as Vista or later (the host
   becomes Windows 10 for the rest of the case). */
bool AsVista();
/* The name of a service that is installed and stopped. */
std::string StoppedService();
/* The name of a service that runs in a process of its own; "" where this
   Windows has none the stage can start. */
std::string RunningService();
/* A window of this thread whose messages go to `proc`. */
HWND MakeWindow(WNDPROC proc);

} // namespace stage

/* Small helpers every area uses, plain run-time and Win32 in both builds. */
namespace stage {

/* Writes `bytes` to a new or emptied file. */
inline bool Put(const std::string& path, const std::string& bytes) {
    int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return false;
    bool ok = _write(fd, bytes.data(), (unsigned)bytes.size()) == (int)bytes.size();
    return _close(fd) == 0 && ok;
}

/* The whole content of a file; "<none>" when it cannot be opened. */
inline std::string Get(const std::string& path) {
    int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0) return "<none>";
    std::string all;
    char buf[512];
    for (int n; (n = _read(fd, buf, sizeof buf)) > 0;)
        all.append(buf, n);
    _close(fd);
    return all;
}

} // namespace stage
#endif
