/*
** Image paths: the forms the system reports, and file identity by path.
*/
#include "memory/image_path.h"
#include "engine/file_identity.h"
#include "engine/scan_state.h"
#include "platform/wow64.h"

enum { COMMAND_SIZE = 1024 };

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

/* Whether both paths open, and open one file: the same volume and index. */
static bool SameIdentity(const char* a, const char* b) {
    HANDLE fileA = OpenFileForReading(a);
    if (fileA == INVALID_HANDLE_VALUE) return false;
    HANDLE fileB = OpenFileForReading(b);
    FileId idA, idB;
    const bool same = fileB != INVALID_HANDLE_VALUE && IdentityOf(fileA, &idA) &&
                      IdentityOf(fileB, &idB) && idA.volume == idB.volume &&
                      idA.indexHigh == idB.indexHigh && idA.indexLow == idB.indexLow;
    CloseHandle(fileA);
    if (fileB != INVALID_HANDLE_VALUE) CloseHandle(fileB);
    return same;
}

bool SameFile(const char* a, const char* b) {
    if (_stricmp(a, b) == 0) return true;
    char shortA[MAX_PATH], shortB[MAX_PATH];
    if (ShortForm(a, shortA, sizeof shortA) && ShortForm(b, shortB, sizeof shortB) &&
        _stricmp(shortA, shortB) == 0)
        return true;
    // Names differ where the file does not: a hard link, a folder reached
    // through another drive letter or a link.
    return SameIdentity(a, b);
}

/* The Windows folder as a drive path without a closing backslash ("C:\WINDOWS"). */
static bool WindowsFolder(char* out, size_t size) {
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n >= sizeof windows - 1 || !IsDrivePath(windows)) return false;
    if (n > 3 && windows[n - 1] == '\\') windows[--n] = 0;
    if (n == 3) windows[--n] = 0; // "C:\" gives "C:"
    return Join(out, size, windows, "");
}

/* Expands a registered command as the service manager does, in the
   system's environment: %SystemRoot% and %windir% are the Windows folder,
   %SystemDrive% its drive. The program's own environment is the user's,
   which any program of the user may change (HKCU\Environment): a service
   of Windows registered with "%SystemRoot%\..." must not seem to run a file
   in a folder of the user's choosing. Any other variable is one whose system
   value is not known here: false. A command longer than `size` is cut (its
   program, at most MAX_PATH characters, lies in front). */
static bool ExpandSystemVariables(const char* command, char* out, size_t size) {
    static const char* const kWindows[] = {"SystemRoot", "windir"};
    char windows[MAX_PATH];
    size_t n = 0;
    for (const char* p = command; *p && n + 1 < size;) {
        const char* close = *p == '%' ? strchr(p + 1, '%') : NULL;
        if (!close) {
            out[n++] = *p++;
            continue;
        }
        const size_t length = (size_t)(close - p - 1);
        const char* value = NULL;
        for (const char* name : kWindows)
            if (length == strlen(name) && _strnicmp(p + 1, name, length) == 0) value = windows;
        const bool drive = length == 11 && _strnicmp(p + 1, "SystemDrive", length) == 0;
        if ((!value && !drive) || !WindowsFolder(windows, sizeof windows)) return false;
        if (drive) windows[2] = 0;
        for (const char* v = windows; *v && n + 1 < size; v++)
            out[n++] = *v;
        p = close + 1;
    }
    out[n] = 0;
    return true;
}

/* The file a program part `program` (cut from a command) starts, as
   Windows' CreateProcess takes it: a name without an extension is the
   ".exe" of that name ("C:\Program Files\x.exe" unquoted never runs a file
   "C:\Program"). False when it is no drive path. */
static bool ProgramFile(const char* program, char* path, size_t size) {
    if (size < 5 || !DrivePathOf(program, path, size - 4)) return false;
    const char* name = strrchr(path, '\\');
    if (!strchr(name, '.')) strcat(path, ".exe");
    return true;
}

/* Whether `path` is an existing file (not a folder). */
static bool IsFile(const char* path) {
    NativeFileNames native;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CommandRunsFile(const char* command, const char* file, bool expand) {
    char expanded[COMMAND_SIZE];
    if (expand) {
        if (!ExpandSystemVariables(command, expanded, sizeof expanded)) return false;
    } else {
        CopyText(expanded, sizeof expanded, command); // a longer command is cut
    }
    char* p = expanded;
    while (*p == ' ' || *p == '\t')
        p++;
    char path[MAX_PATH];
    if (*p == '"') {
        char* close = strchr(p + 1, '"');
        if (!close) return false;
        *close = 0;
        return ProgramFile(p + 1, path, sizeof path) && SameFile(path, file);
    }
    // Unquoted: the program ends at a blank or a tab, or, for a path that
    // holds blanks itself, at a later one. Windows runs the first of these
    // that is a file: "C:\Tools\agent.exe -run" names the file
    // "C:\Tools\agent.exe -run" only when "C:\Tools\agent.exe" is none.
    for (char* end = p; end - p < MAX_PATH; end++) {
        if (*end == ' ' || *end == '\t' || *end == 0) {
            const char kept = *end;
            *end = 0;
            const bool named = end > p && ProgramFile(p, path, sizeof path);
            *end = kept;
            if (named && SameFile(path, file)) return true;
            if (kept == 0 || (named && IsFile(path))) return false;
        }
    }
    return false;
}
