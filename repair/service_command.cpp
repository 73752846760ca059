/*
** A registered service command, read as the service manager reads it:
** - with CreateProcess, the ImagePath its command line (learn.microsoft.com/
**   windows/win32/api/winsvc/nf-winsvc-createservicea, lpBinaryPathName);
** - in the machine's environment only: the Session Manager\Environment key
**   (learn.microsoft.com/windows/win32/procthread/environment-variables),
**   SystemRoot and SystemDrive, and ProgramFiles and CommonProgramFiles
**   from CurrentVersion's ProgramFilesDir and CommonFilesDir; never the
**   user's. An undefined name stays as ExpandEnvironmentStrings leaves it;
** - expanded whatever its string type (Wine's programs/services,
**   get_service_binary_path; the ImagePath is an expandable string:
**   learn.microsoft.com/windows-hardware/drivers/install/hklm-system-
**   currentcontrolset-services-registry-tree);
** - from System32, its current folder, on the system drive (naming-a-file,
**   "Fully qualified vs. relative paths"): see SearchFolder, ProgramFile.
*/
#include "repair/service_command.h"
#include "repair/command_line.h"
#include "engine/scan_state.h"
#include "memory/image_path.h"
#include "platform/join_path.h"
#include "platform/registry_value.h"
#include "platform/wow64.h"

#include <stdint.h>
#include <stdlib.h>

namespace {

/* Room for an expanded command; a longer one is cut, its program (at most
   MAX_PATH characters) lying in front. Room for a variable's value: the
   machine's Path often runs past a thousand characters. */
enum { COMMAND_SIZE = 1024, VALUE_SIZE = 8192 };

const char kEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char kVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsDrivePath(const char* p) { return IsDriveLetter(p[0]) && p[1] == ':' && p[2] == '\\'; }

/* The Windows folder without a closing backslash ("C:\WINDOWS"). */
bool WindowsFolder(char* out, size_t size) {
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n >= sizeof windows - 1 || !IsDrivePath(windows)) return false;
    if (windows[n - 1] == '\\') windows[--n] = 0;
    return JoinPath(out, size, windows, "");
}

/* One string value of HKLM\`path` (ReadRegistryString) in `out`; `type`
   gets its type. False when there is none or it does not fit. */
bool ReadMachineString(const char* path, const char* name, REGSAM view, char* out, DWORD size,
                       DWORD* type) {
    char* data;
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, path, name, &data, view, size, type)) return false;
    CopyText(out, size, data);
    free(data);
    return true;
}

bool Expand(const char* text, char* out, size_t size, int depth);

/* The machine's value of the variable `name`; false when it has none. */
bool MachineVariable(const char* name, char* out, size_t size, int depth) {
    if (_stricmp(name, "SystemRoot") == 0) return WindowsFolder(out, size);
    if (_stricmp(name, "SystemDrive") == 0) {
        if (size < 3 || !WindowsFolder(out, size)) return false;
        out[2] = 0;
        return true;
    }
    char value[VALUE_SIZE];
    DWORD type = 0;
    bool found = ReadMachineString(kEnvironmentKey, name, 0, value, sizeof value, &type);
    if (!found) {
        // A 64-bit Windows gives its 64-bit service manager the 64-bit folders.
        static const char* const kFolders[][2] = {{"ProgramFiles", "ProgramFilesDir"},
                                                  {"CommonProgramFiles", "CommonFilesDir"}};
        REGSAM views[2];
        const REGSAM native = views[RegistryViews(views) - 1];
        for (const auto& folder : kFolders)
            if (_stricmp(name, folder[0]) == 0)
                found =
                    ReadMachineString(kVersionKey, folder[1], native, value, sizeof value, &type);
    }
    if (!found) return false;
    // A system variable may be made of others ("windir" is "%SystemRoot%");
    // one level deep, as the system builds the environment from the key.
    if (type == REG_EXPAND_SZ && depth == 0) return Expand(value, out, size, depth + 1);
    CopyText(out, size, value);
    return true;
}

/* `text` with each %NAME% of the machine's environment replaced; an
   undefined name stays as written. Cut where `out` ends. */
bool Expand(const char* text, char* out, size_t size, int depth) {
    if (size == 0) return false;
    size_t n = 0;
    for (const char* p = text; *p && n + 1 < size;) {
        const char* close = *p == '%' ? strchr(p + 1, '%') : NULL;
        char name[256], value[VALUE_SIZE];
        const size_t length = close ? (size_t)(close - p - 1) : 0;
        if (!close || length == 0 || !CopyPart(name, sizeof name, p + 1, length)) {
            out[n++] = *p++;
            continue;
        }
        if (!MachineVariable(name, value, sizeof value, depth)) {
            out[n++] = *p++; // the '%' stays; the name is copied as text
            continue;
        }
        for (const char* v = value; *v && n + 1 < size; v++)
            out[n++] = *v;
        p = close + 1;
    }
    out[n] = 0;
    return true;
}

/* `folder` + "\" + `name`, with `extension` where the name has none. */
bool InFolder(const char* folder, const char* name, const char* extension, char* out, size_t size) {
    const char* last = strrchr(name, '\\');
    const bool dotted = strchr(last ? last : name, '.') != NULL;
    const size_t length = strlen(folder);
    const char* separator = length && folder[length - 1] == '\\' ? "" : "\\";
    char joined[MAX_PATH];
    return JoinPath(joined, sizeof joined, folder, separator, name) &&
           JoinPath(out, size, joined, dotted ? "" : extension);
}

/* Where a bare name is looked for, in order; `index` counts from 0. False
   past the last. Folders of PATH come from the machine's Path. The caller
   is the service manager (or a host of System32, for the library it
   loads), or, with `shell`, Explorer, loaded from the Windows folder. */
bool SearchFolder(int index, char* out, size_t size, bool shell = false) {
    char windows[MAX_PATH];
    if (index == 0 && shell) return WindowsFolder(out, size);
    if (index < 2) { // the application's folder, then its current folder
        UINT n = GetSystemDirectoryA(out, (UINT)size);
        return n > 0 && n < size;
    }
    if (index == 2) return false; // the 32-bit system folder: System32 again, already searched
    if (!WindowsFolder(windows, sizeof windows)) return false;
    if (index == 3) return JoinPath(out, size, windows, "\\System");
    if (index == 4) return JoinPath(out, size, windows, "");
    char path[VALUE_SIZE];
    if (!MachineVariable("Path", path, sizeof path, 0)) return false;
    const char* p = path;
    for (int skip = index - 5; *p && skip > 0; skip--) {
        p += strcspn(p, ";");
        if (*p) p++;
    }
    const size_t length = strcspn(p, ";");
    if (!*p) return false;
    if (!CopyPart(out, size, p, length)) out[0] = 0; // too long to be a folder: the search goes on
    return true;
}

} // namespace

bool SearchedFile(const char* name, const char* extension, bool shell, char* file, size_t size) {
    char folder[MAX_PATH];
    for (int i = 0; i < 1024; i++) {
        if (!SearchFolder(i, folder, sizeof folder, shell)) {
            if (i < 5) continue;
            return false;
        }
        if (IsDrivePath(folder) && InFolder(folder, name, extension, file, size) &&
            IsExistingFile(file))
            return true;
    }
    return false;
}

namespace {

bool SameId(const FileId& a, const FileId& b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

/* The files this run matched, the first g_scan.variantsMatched of the
   block: it grows with each new one, never losing one, and goes when the
   run ends (ForgetMatched). Zeroing g_scan forgets them; the block is then
   used again. */
struct Matched {
    char drive; // upper case
    FileId id;
};
Matched* g_matched = nullptr;
int32_t g_matchedRoom = 0;

/* The slot of the block that records the file `id` on the drive `drive`
   (upper case), or -1. */
int32_t MatchedSlot(char drive, const FileId& id) {
    const int32_t count =
        g_scan.variantsMatched < g_matchedRoom ? g_scan.variantsMatched : g_matchedRoom;
    for (int32_t i = 0; i < count; i++)
        if (g_matched[i].drive == drive && SameId(g_matched[i].id, id)) return i;
    return -1;
}

char DriveOf(const char* path) { return (char)toupper((unsigned char)path[0]); }

} // namespace

bool IsVariant(const char* path, const char* file) {
    if (SameFile(path, file)) return true;
    FileId now;
    return IdentityAt(path, &now) && MatchedSlot(DriveOf(path), now) >= 0 &&
           PathNamesFile(path, now);
}

void RememberMatched(const FileId* id) {
    const char* path = g_scan.currentFile;
    if (!id || !memchr(path, 0, sizeof g_scan.currentFile) || !PathNamesFile(path, *id) ||
        MatchedSlot(DriveOf(path), *id) >= 0)
        return;
    if (g_scan.variantsMatched >= g_matchedRoom) {
        // Where the block cannot grow this one goes unrecorded: a reading
        // that names it is then another program's, and its entry stays.
        const size_t room = g_matchedRoom ? 2 * (size_t)g_matchedRoom : 16;
        Matched* grown = room <= INT32_MAX && room <= SIZE_MAX / sizeof *g_matched
                             ? (Matched*)realloc(g_matched, room * sizeof *g_matched)
                             : nullptr;
        if (!grown) return;
        g_matched = grown;
        g_matchedRoom = (int32_t)room;
    }
    g_matched[g_scan.variantsMatched].drive = DriveOf(path);
    g_matched[g_scan.variantsMatched++].id = *id;
}

void ForgetMatched() {
    free(g_matched);
    g_matched = nullptr;
    g_matchedRoom = g_scan.variantsMatched = 0;
}

namespace {

/* The file `program` (one candidate cut from a command) names, as
   CreateProcess finds it, the `*next`-th (one a reading); false past the
   last that exists. */
bool ProgramFile(const char* program, char* file, size_t size, int* next) {
    char path[MAX_PATH], folder[MAX_PATH];
    if (!program[0] || (*next)++ > 0) return false;
    if (!strchr(program, '\\') && !strchr(program, ':'))
        return SearchedFile(program, ".exe", false, file, size);
    if (IsDriveLetter(program[0]) && program[1] == ':' && program[2] != '\\') {
        // Drive-relative ("C:abc.exe"): from the current folder of that
        // drive. The service manager's is System32 on the system drive; a
        // process started fresh has no other, so elsewhere it is the root.
        // (Naming Files, Paths, and Namespaces: "C:tmp.txt refers to a file
        // named "tmp.txt" in the current directory on drive C".)
        const char drive[3] = {program[0], ':', 0};
        if (!program[2] || !SearchFolder(0, folder, sizeof folder)) return false;
        const bool systemDrive =
            toupper((unsigned char)folder[0]) == toupper((unsigned char)program[0]);
        if (!JoinPath(path, sizeof path, systemDrive ? folder : drive, "\\", program + 2))
            return false;
    } else if (IsRootedWithoutDrive(program) && program[1] != '?' &&
               _strnicmp(program, "\\SystemRoot\\", 12) != 0) {
        if (!OnSystemDrive(program, path, sizeof path)) return false;
    } else if (!DrivePathOf(program, path, sizeof path)) {
        // Relative with folders: from the current folder, System32.
        if (program[1] == ':' || program[0] == '\\' || !SearchFolder(0, folder, sizeof folder) ||
            !JoinPath(path, sizeof path, folder, "\\", program))
            return false;
    }
    char* slash = strrchr(path, '\\');
    *slash = 0;
    return InFolder(path, slash + 1, ".exe", file, size) && IsExistingFile(file);
}

/* The file `command` starts, in `file`; where `later` is given, also the
   first other file a longer reading (ProgramReadings) names that is no
   variant (IsVariant), or "" when none does: wherever it lies (a user may
   plant "C:\\Vendor\\svc.exe" beside "C:\\Vendor\\svc host.exe -k"), it may
   be another program's. Where `library` is given,
   the library a host the command names is told to load (HostedFile), or "". */
bool ReadCommand(const char* command, char* file, size_t size, char* later, size_t laterSize,
                 char* library = NULL) {
    char expanded[COMMAND_SIZE], reading[COMMAND_SIZE + 4], longer[MAX_PATH];
    if (later && laterSize) later[0] = 0;
    if (library) library[0] = 0;
    if (!command || !Expand(command, expanded, sizeof expanded, 0)) return false;
    // Windows converts "/" to "\" (naming-a-file): "C:/x/abc.exe" is a path.
    for (char* c = expanded; *c; c++)
        if (*c == '/') *c = '\\';
    const char* p = expanded + strspn(expanded, " \t");
    const bool quoted = *p == '"';
    ProgramReadings readings{p + quoted, quoted};
    bool found = false;
    size_t programEnd = 0; // where the reading that gave `file` ended
    for (size_t end; !(found && !later) && readings.Next(&end);) {
        if (quoted && p[end + 1] != '"') return false; // never closed: no program
        if (!ReadingPath(p + quoted, end, true, reading, sizeof reading)) continue;
        for (int next = 0; !(found && !later) && ProgramFile(reading, found ? longer : file,
                                                             found ? sizeof longer : size, &next);)
            if (!found) {
                found = true;
                programEnd = end;
            } else if (!IsVariant(longer, file)) {
                CopyText(later, laterSize, longer);
                return true;
            }
    }
    if (found && library &&
        HostedFile(_strlwr(strcpy(reading, p)), 0, longer, sizeof longer, programEnd))
        CopyText(library, MAX_PATH, longer);
    return found;
}

} // namespace

bool ServiceCommandFile(const char* command, char* file, size_t size) {
    return ReadCommand(command, file, size, NULL, 0);
}

bool ServiceCommandRunsFile(const char* command, const char* image) {
    return ServiceCommandRunsFile(command, CommandImage{image, NULL, 0});
}

bool ServiceCommandRunsFile(const char* command, const CommandImage& image) {
    char file[MAX_PATH];
    return ServiceCommandFile(command, file, sizeof file) && image.Is(file);
}

bool ServiceCommandRegistersFile(const char* command, const CommandImage& image, char* other,
                                 size_t size) {
    char file[MAX_PATH], library[MAX_PATH];
    if (!ReadCommand(command, file, sizeof file, other, size, library) || other[0]) return false;
    if (!library[0]) return image.Is(file);
    // A host's service is the library's it loads, never the host's.
    if (!image.Is(library) && IsExistingFile(library) && !IsVariant(library, file))
        CopyText(other, size, library);
    return image.Is(library);
}

bool CommandImage::Is(const char* file) const {
    // By identity: the file the command names now must be the one proved,
    // whatever a path of it names by now.
    if (id)
        return toupper((unsigned char)file[0]) == toupper((unsigned char)drive) &&
               PathNamesFile(file, *id);
    return path && SameFile(file, path);
}
