/*
** The hosts file check: NT keeps the file under the system directory, the
** 9x family in the Windows directory.
*/
#include "repair/hosts_file.h"
#include "engine/legacy_check.h"
#include "platform/platform.h"
#include "platform/win32.h"

void CheckHostsFile() {
    char path[MAX_PATH];
    const char* suffix;
    UINT length;
    switch (GetPlatform()) {
    case PLATFORM_NT:
        length = GetSystemDirectoryA(path, sizeof path);
        suffix = "\\drivers\\etc\\hosts";
        break;
    case PLATFORM_WIN9X:
        length = GetWindowsDirectoryA(path, sizeof path);
        suffix = "\\hosts";
        break;
    default:
        return;
    }
    // 0 is a failure; a length that does not fit is the size the folder needs.
    if (length == 0 || length >= sizeof path) return;
    // A folder at a drive's root ends with its own backslash.
    if (path[length - 1] == '\\') suffix++;
    if (strlen(suffix) >= sizeof path - length) return;
    strcpy(path + length, suffix);
    CheckLegacyFile("W32/Phantaxis.Backdoor", path);
}
