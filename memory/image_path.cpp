/*
** Image paths: the forms the system reports, and file identity by path.
*/
#include "memory/image_path.h"
#include "engine/scan_state.h"
#include "memory/wow64.h"

enum { COMMAND_SIZE = 1024 };

static const char kNtPrefix[] = "\\??\\";
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
    return ShortForm(a, shortA, sizeof shortA) && ShortForm(b, shortB, sizeof shortB) &&
           _stricmp(shortA, shortB) == 0;
}

/* Whether the program part `program` (cut from a command) is `file`. As
   when Windows starts it, a program named without an extension is the
   ".exe" of that name: "C:\Program Files\x.exe" unquoted never runs a file
   "C:\Program". */
static bool ProgramIs(const char* program, const char* file) {
    char path[MAX_PATH];
    if (!DrivePathOf(program, path, sizeof path - 4)) return false;
    const char* name = strrchr(path, '\\');
    if (!strchr(name, '.')) strcat(path, ".exe");
    return SameFile(path, file);
}

bool CommandRunsFile(const char* command, const char* file) {
    char expanded[COMMAND_SIZE];
    DWORD n = ExpandEnvironmentStringsA(command, expanded, sizeof expanded);
    if (n == 0 || n > sizeof expanded) return false;
    expanded[sizeof expanded - 1] = 0;
    char* p = expanded;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '"') {
        char* close = strchr(p + 1, '"');
        if (!close) return false;
        *close = 0;
        return ProgramIs(p + 1, file);
    }
    // Unquoted: the program ends at a blank or a tab, or, for a path that
    // holds blanks itself, at a later one; each such end is tried.
    for (char* end = p;; end++) {
        if (*end == ' ' || *end == '\t' || *end == 0) {
            const char kept = *end;
            *end = 0;
            const bool runs = end > p && ProgramIs(p, file);
            *end = kept;
            if (runs) return true;
            if (kept == 0) return false;
        }
    }
}
