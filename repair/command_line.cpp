/*
** A command line read as Windows reads it to find the program it starts.
*/
#include "repair/command_line.h"
#include "repair/service_command.h"
#include "platform/join_path.h"
#include "platform/wow64.h"

/* The last backslash of `text` before `end`, or with no `end` the first;
   null where there is none. The second byte of a double-byte character
   (IsDBCSLeadByte: a lead byte and its trail are one character, whatever
   the trail, as in platform/file_names.cpp) is none: Windows reads an
   ANSI path as the characters of its code page. */
static char* SeparatorBefore(const char* text, const char* end) {
    const char* found = NULL;
    for (const char* p = text; end ? p < end : *p && !found; p++)
        if (IsDBCSLeadByte((BYTE)*p) && p[1] && (!end || p + 1 < end))
            p++;
        else if (*p == '\\')
            found = p;
    return (char*)found;
}

bool ProgramReadings::Next(size_t* end) {
    if (done) return false;
    if (quoted) {
        done = true;
        *end = strcspn(text, "\"");
        return true;
    }
    while (!done && at < MAX_PATH) {
        const char c = text[at++];
        done = c == 0;
        if ((c == ' ' || c == '\t' || done) && at > 1) return *end = at - 1, true;
    }
    done = true;
    return false;
}

bool ReadingPath(const char* text, size_t end, bool dropDots, char* path, size_t size) {
    if (!CopyPart(path, size, text, end)) return false;
    if (dropDots) DropDotFolders(path);
    const char* name = SeparatorBefore(path, path + strlen(path));
    const bool adds = name && !strchr(name, '.');
    const size_t length = strlen(path) + (adds ? 4 : 0);
    if (length > MAX_PATH - 1 || length >= size) return false;
    if (adds) strcat(path, ".exe");
    return true;
}

void DropDotFolders(char* path) {
    if (path[1] != ':' || path[2] != '\\') return;
    char* out = path + 3;
    for (const char* at = path + 3; *at;) {
        const char* separator = SeparatorBefore(at, NULL);
        const size_t length = separator ? (size_t)(separator - at) : strlen(at);
        const bool last = !at[length];
        if (length == 2 && at[0] == '.' && at[1] == '.') {
            // Back to the name before, with its separator.
            char* before = out > path + 3 ? SeparatorBefore(path + 3, out - 1) : NULL;
            out = before ? before + 1 : path + 3;
        } else if (!(length == 1 && at[0] == '.') && length > 0) {
            memmove(out, at, length);
            out += length;
            if (!last) *out++ = '\\';
        }
        at += length + !last;
    }
    *out = 0;
}

bool IsExistingFile(const char* path) {
    NativeFileNames native;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

size_t LongPrefix(const char* path) {
    const bool prefix =
        path[0] == '\\' && (path[1] == '\\' || path[1] == '?') && path[2] == '?' && path[3] == '\\';
    return prefix && path[4] && path[5] == ':' && path[6] == '\\' ? 4 : 0;
}

const char* NextName(const char* p, const char* ends, char* name, size_t size, bool whole) {
    while (*p == ' ' || *p == '\t')
        p++;
    const bool quoted = *p == '"';
    p += quoted;
    const char* start = p;
    while (*p && (quoted ? *p != '"' : !strchr(" \t", *p) && !strchr(ends, *p)))
        p++;
    for (const char* q = start; q < p && !whole; q++)
        if (*q == '\\' || *q == '/') start = q + 1;
    const size_t length = (size_t)(p - start);
    if (!CopyPart(name, size, start, length)) name[0] = 0;
    return p + (quoted && *p == '"');
}

bool IsFileName(const char* name, const char* fileName, const char* extension) {
    if (strcmp(name, fileName) == 0) return true;
    const size_t n = strlen(name);
    return n > 0 && !strchr(name, '.') && strncmp(name, fileName, n) == 0 &&
           strcmp(fileName + n, extension) == 0;
}

bool IsHost(const char* name) {
    return IsFileName(name, "rundll32.exe", ".exe") || IsFileName(name, "rundll.exe", ".exe");
}

bool IsRootedWithoutDrive(const char* path) {
    return (path[0] == '\\' || path[0] == '/') && path[1] != '\\' && path[1] != '/';
}

bool OnSystemDrive(const char* path, char* out, size_t size) {
    char windows[MAX_PATH];
    if (!IsRootedWithoutDrive(path)) return JoinPath(out, size, path, "");
    const UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n < 2 || n >= sizeof windows || windows[1] != ':') return false;
    windows[2] = 0;
    return JoinPath(out, size, windows, path);
}

/* The reading text[0, end) as the drive path Windows opens for it
   (ReadingPath), in `path`: past a "\\?\" prefix as written; else "/" read
   as "\", "." and ".." folders dropped, rooted on the system drive (Wine's
   dlls/ntdll/tests/path.c, RtlDosPathNameToNtPathName_U: "C:/foo" is
   "C:\foo", "\foo" is on the current drive, "\\?\foo/.." stays as it is).
   False where it is relative or does not fit. */
static bool DriveReading(const char* text, size_t end, char* path, size_t size) {
    char written[MAX_PATH + 5], rooted[MAX_PATH + 7];
    if (!CopyPart(written, sizeof written, text, end)) return false;
    const size_t prefix = LongPrefix(written);
    if (prefix) return ReadingPath(written + prefix, end - prefix, false, path, size);
    for (char* c = written; *c; c++)
        if (*c == '/') *c = '\\';
    return OnSystemDrive(written, rooted, sizeof rooted) &&
           ReadingPath(rooted, strlen(rooted), true, path, size) && path[1] == ':' &&
           path[2] == '\\';
}

size_t FileReadingEnd(const char* text, bool quoted, size_t otherwise) {
    char path[MAX_PATH + 5];
    ProgramReadings readings{text, quoted};
    for (size_t end; readings.Next(&end);)
        if (quoted || (DriveReading(text, end, path, sizeof path) && IsExistingFile(path)))
            return end;
    return otherwise;
}

bool HostedLibrary(const char* text, char* host, size_t hostSize, char* library, size_t size,
                   size_t end) {
    text += strspn(text, " \t");
    const bool quoted = *text == '"';
    text += quoted;
    if (end == kFirstFileReading)
        end = FileReadingEnd(text, quoted, strcspn(text, quoted ? "\"" : " \t"));
    if (!CopyPart(host, hostSize, text, end)) host[0] = 0;
    const char* rest = text + end + (quoted && text[end] == '"');
    for (char* c = host; *c; c++) // no trail byte is a "/"
        if (*c == '/') *c = '\\';
    const char* last = SeparatorBefore(host, host + strlen(host));
    if (!IsHost(last ? last + 1 : host)) return false;
    NextName(rest, ",", library, size, true);
    for (char* c = library; *c; c++)
        if (*c == '/') *c = '\\';
    return library[0] != 0;
}

/* The drive path a path written in a value (lower case, separators as
   backslashes) names, in `out`, with `extension` added where its last name
   has none and a closing dot dropped (LoadLibrary: "If no file name
   extension is specified ..., the default library extension .dll is
   appended. However, the file name string can include a trailing point
   character (.) to indicate that the module name has no extension";
   learn.microsoft.com/windows/win32/api/libloaderapi/nf-libloaderapi-
   loadlibrarya). Rooted without a drive: on the system drive.
   A value of the 32-bit view names it as a 32-bit program does (NativePath).
   False for a relative path, a UNC name, or one that does not fit. */
static bool WrittenPath(const char* written, const char* extension, REGSAM view, char* out,
                        size_t size) {
    char rooted[MAX_PATH];
    if (!OnSystemDrive(written, rooted, sizeof rooted) || rooted[1] != ':' || rooted[2] != '\\')
        return false;
    if (view == KEY_WOW64_32KEY ? !NativePath(rooted, out, size) : !JoinPath(out, size, rooted, ""))
        return false;
    _strlwr(out);
    const char* name = strrchr(out, '\\') + 1;
    size_t n = strlen(out);
    if (out[n - 1] == '.') {
        while (n > 3 && out[n - 1] == '.')
            out[--n] = 0;
        return n > 3 && out[n - 1] != '\\';
    }
    return strchr(name, '.') || JoinPath(out, size, out, extension);
}

bool LibraryBesideHost(const char* hostPath, const char* library, char* found, size_t size) {
    const char* slash = strrchr(hostPath, '\\');
    if (!slash || (size_t)(slash - hostPath) >= size) return false;
    memcpy(found, hostPath, (size_t)(slash - hostPath));
    found[slash - hostPath] = 0;
    return JoinPath(found, size, found, "\\", library) &&
           (strchr(library, '.') || JoinPath(found, size, found, ".dll")) && IsExistingFile(found);
}

bool HostedFile(const char* text, REGSAM view, char* found, size_t size, size_t end) {
    char host[MAX_PATH], library[MAX_PATH], path[MAX_PATH];
    if (!HostedLibrary(text, host, sizeof host, library, sizeof library, end)) return false;
    if (strchr(library, '\\') || strchr(library, ':'))
        return WrittenPath(library, ".dll", view, found, size);
    const bool inHostFolder = strchr(host, '\\') &&
                              WrittenPath(host, ".exe", view, path, sizeof path) &&
                              LibraryBesideHost(path, library, found, size);
    return inHostFolder || SearchedFile(library, ".dll", false, found, size);
}
