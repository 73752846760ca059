/*
** Image paths: the forms the system reports, and file identity by path.
*/
#include "memory/image_path.h"
#include "engine/file_identity.h"
#include "engine/scan_state.h"
#include "platform/wow64.h"

static const char kNtPrefix[] = "\\??\\";
static const char kLongPrefix[] = "\\\\?\\"; // "\\?\C:\..." as a module was loaded
static const char kSystemRoot[] = "\\SystemRoot\\";

static bool IsDrivePath(const char* p) {
    return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':' &&
           p[2] == '\\';
}

static bool Join(char* out, size_t size, const char* head, const char* tail) {
    size_t a = strlen(head), b = strlen(tail);
    if (a >= size || b >= size - a) return false;
    memcpy(out, head, a);
    memcpy(out + a, tail, b + 1);
    return true;
}

bool DrivePathOf(const char* reported, char* out, size_t size) {
    if (size == 0) return false;
    out[0] = 0;
    bool done;
    if (strncmp(reported, kNtPrefix, sizeof kNtPrefix - 1) == 0) {
        done = Join(out, size, reported + sizeof kNtPrefix - 1, "");
    } else if (strncmp(reported, kLongPrefix, sizeof kLongPrefix - 1) == 0) {
        done = Join(out, size, reported + sizeof kLongPrefix - 1, "");
    } else if (_strnicmp(reported, kSystemRoot, sizeof kSystemRoot - 1) == 0) {
        char windows[MAX_PATH];
        UINT n = GetWindowsDirectoryA(windows, sizeof windows);
        done = n > 0 && n < sizeof windows - 1 && IsDrivePath(windows);
        if (done) {
            if (windows[n - 1] != '\\') strcpy(windows + n, "\\"); // "C:\" already has it
            done = Join(out, size, windows, reported + sizeof kSystemRoot - 1);
        }
    } else {
        done = Join(out, size, reported, "");
    }
    if (done && IsDrivePath(out)) return true;
    out[0] = 0;
    return false;
}

/* The short form of an existing file's path; false when it has none. */
static bool ShortForm(const char* path, char* out, DWORD size) {
    NativeFileNames native;
    DWORD n = GetShortPathNameA(path, out, size);
    return n > 0 && n < size;
}

bool SameFile(const char* a, const char* b) {
    if (_stricmp(a, b) == 0) return true;
    char shortA[MAX_PATH], shortB[MAX_PATH];
    if (ShortForm(a, shortA, sizeof shortA) && ShortForm(b, shortB, sizeof shortB) &&
        _stricmp(shortA, shortB) == 0)
        return true;
    // Names differ where the file does not: a hard link on one drive letter
    // (a path through a link is never the same file, see SameIdentity).
    return SameIdentity(a, b);
}
