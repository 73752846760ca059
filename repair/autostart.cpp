/*
** Registry autostart cleanup. A value goes by the full-path rule (its data,
** raw or expanded, names the infected file by any of its forms: NamesFile,
** HostLoadsFile) or, without a path, by the bare rule (BareStartsVariant).
** All text is compared in lower case; no size the registry reports is
** trusted (ReadRegistryString, ExpandWhole).
*/
#include "repair/autostart.h"
#include "repair/command_line.h"
#include "engine/scan_state.h"
#include "memory/image_path.h"
#include "repair/hosts_file.h"
#include "repair/service_command.h"
#include "platform/join_path.h"
#include "platform/wow64.h"

namespace {

const DWORD kValueNameChars = 16384; // the longest value name, 16383, and its terminator
const DWORD kExpandedSize = 261;     // the fixed expansion buffer
const char* const kWalkName = "W32/Phantaxis.Backdoor";
const char kProfiles[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

bool Terminated(const char* text, size_t size) { return memchr(text, 0, size) != nullptr; }

/* A buffer from malloc, freed whichever way a value's walk ends. */
struct Freed {
    char* p = nullptr;
    Freed() = default;
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
    ~Freed() { free(p); }
};

/* A name that does not fit is not remembered (cut, it could be another
   value's). The key, view and file go with it: the same name elsewhere may
   be Windows' own, and later the value goes only while it starts that file. */
void RememberValueName(const char* name, const char* subKey, REGSAM view, const char* file) {
    if (strlen(name) >= sizeof g_scan.autostartValueName ||
        strlen(subKey) >= sizeof g_scan.autostartValueKey ||
        strlen(file) >= sizeof g_scan.autostartValueFile)
        return;
    strcpy(g_scan.autostartValueName, name);
    strcpy(g_scan.autostartValueFile, file);
    strcpy(g_scan.autostartValueKey, subKey);
    g_scan.autostartValueView = view;
}

/* Whether `text` names the file `path` (n characters) whole: the program's
   name (to the closing quote where `quoted`, else to a blank or tab) is the
   path plus only the dots and blanks Windows strips; a name without an
   extension needs a closing dot (else ".exe" is added), and one with an
   extension may go on with another ("evil.exe.old"), but never as a folder. */
bool NamesFile(const char* text, bool quoted, const char* path, size_t n) {
    if (strncmp(text, path, n) != 0) return false;
    const char* name = strrchr(path, '\\');
    const bool extension = name && strchr(name, '.');
    const char* rest = text + n;
    const size_t tail = strcspn(rest, quoted ? "\"\\" : " \t\\");
    if (rest[tail] == '\\') return false;
    if (strspn(rest, ". ") >= tail) return extension || memchr(rest, '.', tail);
    return extension && *rest == '.';
}

/* A copy of `lowerData` with %ProgramFiles% and %CommonProgramFiles% (paired
   as ExpandEnvironmentStrings pairs '%') replaced by the 64-bit folders a
   64-bit program gets (NativeFolderVariable). Null when no memory is left. */
char* As64BitProgram(const char* lowerData) {
    static const char* const names[] = {"programfiles", "commonprogramfiles"};
    char folders[2][MAX_PATH];
    size_t size = strlen(lowerData) + 1;
    for (int i = 0; i < 2; i++) {
        if (!NativeFolderVariable(names[i], folders[i], sizeof folders[i])) folders[i][0] = 0;
        _strlwr(folders[i]);
        size += strlen(folders[i]) * (size / (strlen(names[i]) + 2) + 1);
    }
    char* copy = (char*)malloc(size);
    if (!copy) return nullptr;
    size_t used = 0;
    for (const char* p = lowerData; *p;) {
        const char* close = *p == '%' ? strchr(p + 1, '%') : nullptr;
        if (!close) {
            copy[used++] = *p++;
            continue;
        }
        const size_t length = (size_t)(close - p) + 1; // "%name%"
        int known = -1;
        for (int i = 0; i < 2; i++)
            if (folders[i][0] && length == strlen(names[i]) + 2 &&
                strncmp(p + 1, names[i], length - 2) == 0)
                known = i;
        const char* text = known >= 0 ? folders[known] : p;
        const size_t n = known >= 0 ? strlen(text) : length;
        memcpy(copy + used, text, n);
        used += n;
        p = close + 1;
    }
    copy[used] = 0;
    return copy;
}

/* The full path `path` with each name as its folder lists it; null when a
   name cannot be listed (or only with characters ANSI cannot give) or no
   memory is left. The caller frees. */
char* LongForm(const char* path) {
    const size_t length = strlen(path);
    if (length < 3 || path[1] != ':' || path[2] != '\\' || strpbrk(path, "*?")) return nullptr;
    char* prefix = (char*)malloc(length + 1);
    size_t capacity = length + 1;
    char* out = (char*)malloc(capacity);
    if (!prefix || !out) {
        free(prefix);
        free(out);
        return nullptr;
    }
    memcpy(out, path, 3);
    size_t used = 3;
    bool ok = true;
    for (size_t at = 3; ok && at < length;) {
        size_t end = at + strcspn(path + at, "\\");
        if (path[at] == '.' && (end == at + 1 || (end == at + 2 && path[at + 1] == '.'))) {
            ok = false;
            break;
        }
        memcpy(prefix, path, end);
        prefix[end] = 0;
        WIN32_FIND_DATAA found;
        HANDLE search;
        {
            NativeFileNames native; // the walk's names are the real ones
            search = FindFirstFileA(prefix, &found);
            if (search != INVALID_HANDLE_VALUE) FindClose(search);
        }
        size_t name = 0;
        if (search != INVALID_HANDLE_VALUE) {
            found.cFileName[sizeof found.cFileName - 1] = 0;
            name = strlen(found.cFileName);
        }
        ok = name > 0 && !strchr(found.cFileName, '?');
        if (ok && used + name + 2 > capacity) {
            capacity = used + name + 2 + length;
            char* grown = (char*)realloc(out, capacity);
            ok = grown != nullptr;
            if (grown) out = grown;
        }
        if (ok) {
            memcpy(out + used, found.cFileName, name);
            used += name;
            if (path[end]) out[used++] = '\\';
        }
        at = end + (path[end] ? 1 : 0);
    }
    free(prefix);
    if (!ok) {
        free(out);
        return nullptr;
    }
    out[used] = 0;
    return _strlwr(out);
}

/* The path the check had, its 8.3 and its long form, each once, lower case;
   how many. forms[1..] are freed with FreeForms. */
int FileForms(char* currentFile, char* forms[3]) {
    _strlwr(currentFile);
    forms[0] = currentFile;
    int count = 1;
    char shortForm[MAX_PATH];
    DWORD n;
    {
        NativeFileNames native;
        n = GetShortPathNameA(currentFile, shortForm, sizeof shortForm);
    }
    char* candidates[2] = {nullptr, LongForm(currentFile)};
    if (n > 0 && n < sizeof shortForm && (candidates[0] = (char*)malloc(n + 1)) != nullptr)
        _strlwr((char*)memcpy(candidates[0], shortForm, n + 1));
    for (char* form : candidates) {
        bool known = !form;
        for (int i = 0; i < count && !known; i++)
            known = strcmp(forms[i], form) == 0;
        if (known)
            free(form);
        else
            forms[count++] = form;
    }
    return count;
}

void FreeForms(char* forms[3], int count) {
    for (int i = 1; i < count; i++)
        free(forms[i]);
}

/* Whether `text` names the file by a path Windows reads as its own: 8.3 and
   long folder names mixed, "/", doubled separators, "." and ".." folders,
   within the program's name (its first reading that is a file, else all);
   the last name is one of `forms`' (NamesFile). `longForm` is the file's. */
bool NamesFileByItsFolders(const char* text, bool quoted, char* const forms[], int formCount,
                           const char* longForm) {
    if (!longForm) return false;
    char* path = (char*)malloc(strlen(text) + 1);
    if (!path) return false;
    size_t used = 0;
    for (const char* p = text; *p; p++) {
        const char c = *p == '/' ? '\\' : *p;
        if (c != '\\' || used == 0 || path[used - 1] != '\\') path[used++] = c;
    }
    path[used] = 0;
    bool found = false;
    const size_t end = FileReadingEnd(path, quoted, strlen(path));
    for (const char* at = strchr(path, '\\');
         at && !found && at - path < MAX_PATH && (size_t)(at - path) < end;
         at = strchr(at + 1, '\\'))
        for (int f = 0; f < formCount && !found; f++) {
            const char* name = strrchr(forms[f], '\\');
            const size_t folder = (size_t)(at - path), length = strlen(name);
            char* candidate;
            if (!NamesFile(at, quoted, name, length) ||
                (candidate = (char*)malloc(folder + length + 1)) == nullptr)
                continue;
            memcpy(candidate, path, folder);
            memcpy(candidate + folder, name, length + 1);
            DropDotFolders(candidate);
            char* long_ = LongForm(candidate);
            found = long_ && strcmp(long_, longForm) == 0;
            free(long_);
            free(candidate);
        }
    free(path);
    return found;
}

/* `source` expanded whole, in `local` or *heap (the caller frees); null on failure. */
char* ExpandWhole(const char* source, char* local, DWORD localSize, char** heap) {
    *heap = nullptr;
    char* buffer = local;
    DWORD capacity = localSize;
    for (int attempt = 0; attempt < 3; attempt++) {
        DWORD needed = ExpandEnvironmentStringsA(source, buffer, capacity);
        if (needed == 0) break;
        if (needed <= capacity && Terminated(buffer, needed)) return buffer;
        // Too small: the buffer's contents are undefined. Retry with the size
        // asked for plus one (the ANSI call may want a byte more than it says).
        if (needed < capacity) needed = capacity;
        if (needed > 0xFFFF0000u) break;
        free(*heap);
        capacity = needed + 1;
        *heap = (char*)malloc(capacity);
        if (!*heap) break;
        buffer = *heap;
    }
    free(*heap);
    *heap = nullptr;
    return nullptr;
}

/* For the 32-bit view, `text` in the names the walk uses (System32 ->
   SysWOW64), lower case, in *heap; else `text`. Null when no memory is left. */
const char* RealNames(const char* text, REGSAM view, char** heap) {
    *heap = nullptr;
    if (view != KEY_WOW64_32KEY) return text;
    size_t size = strlen(text) + MAX_PATH;
    *heap = (char*)malloc(size);
    if (!*heap) return nullptr;
    if (!NativePath(text, *heap, size)) CopyText(*heap, size, text);
    return _strlwr(*heap);
}

/* `text` rooted on the system drive (OnSystemDrive) in *heap (the caller
   frees), or `text` where it is not so rooted or the drive is unknown.
   Null when no memory is left. */
const char* OnSystemDrive(const char* text, char** heap) {
    *heap = nullptr;
    if (!IsRootedWithoutDrive(text)) return text;
    const size_t size = strlen(text) + 3;
    if ((*heap = (char*)malloc(size)) == nullptr) return nullptr;
    return ::OnSystemDrive(text, *heap, size) ? _strlwr(*heap) : text;
}

/* Whether the command `text` has a host load the file `file` (SameFile). */
bool HostLoadsFile(const char* text, const char* file, REGSAM view) {
    char found[MAX_PATH];
    return HostedFile(text, view, found, sizeof found) && SameFile(found, file);
}

/* A value's data as its shell reads it: `expanded` (for the 64-bit view as
   a 64-bit program), and `path`, that without a leading quote, rooted on the
   system drive, in the walk's names (RealNames). */
struct ShellReading {
    Freed converted, heap, rooted, real;
    char local[kExpandedSize];
    char* expanded = nullptr;
    const char* path = nullptr;
};

/* False when the expansion fails or no memory is left. */
bool ReadAsShell(const char* data, REGSAM view, ShellReading* r) {
    const char* source = data;
    if (view == KEY_WOW64_64KEY) source = r->converted.p = As64BitProgram(data);
    r->expanded = source ? ExpandWhole(source, r->local, sizeof r->local, &r->heap.p) : nullptr;
    if (!r->expanded) return false;
    _strlwr(r->expanded);
    const char* text = r->expanded + (r->expanded[0] == '"');
    text = OnSystemDrive(text + LongPrefix(text), &r->rooted.p);
    return text && (r->path = RealNames(text, view, &r->real.p)) != nullptr;
}

/* Whether `r` may start an existing file that is no variant: a host's
   library, else any reading of its program (a user's link at a shorter
   reading must not hide another's program at a longer one). */
bool StartsAnotherFile(const ShellReading& r, const char* file, REGSAM view) {
    char program[MAX_PATH], library[MAX_PATH];
    if (HostedLibrary(r.expanded, program, sizeof program, library, sizeof library))
        return HostedFile(r.expanded, view, program, sizeof program) && IsExistingFile(program) &&
               !IsVariant(program, file);
    ProgramReadings readings{r.path, r.expanded[0] == '"'};
    for (size_t end; readings.Next(&end);)
        if (ReadingPath(r.path, end, false, program, sizeof program) && IsExistingFile(program) &&
            !IsVariant(program, file))
            return true;
    return false;
}

/* The default user's profile, expanded, lower case: ProfileList's "Default"
   (Vista on), else "ProfilesDirectory" + "DefaultUserProfile" (2000, XP:
   technet bb742509). False where the machine names none. */
bool DefaultProfile(REGSAM view, char* out, size_t size) {
    char *folder = nullptr, *name = nullptr, *heap = nullptr, *expanded;
    char joined[MAX_PATH], local[kExpandedSize];
    bool ok = ReadRegistryString(HKEY_LOCAL_MACHINE, kProfiles, "Default", &folder, view)
                  ? JoinPath(joined, sizeof joined, folder, "")
                  : ReadRegistryString(HKEY_LOCAL_MACHINE, kProfiles, "ProfilesDirectory", &folder,
                                       view) &&
                        ReadRegistryString(HKEY_LOCAL_MACHINE, kProfiles, "DefaultUserProfile",
                                           &name, view) &&
                        name[0] && JoinPath(joined, sizeof joined, folder, "\\", name);
    ok = ok && (expanded = ExpandWhole(joined, local, sizeof local, &heap)) != nullptr &&
         JoinPath(out, size, expanded, "");
    free(heap);
    free(name);
    free(folder);
    if (ok) _strlwr(out);
    return ok;
}

/* The variables each user's environment sets to a folder of his profile. */
const char* const kUserVariables[] = {"userprofile", "appdata", "localappdata",
                                      "temp",        "tmp",     "homepath"};
const int kUserVariableCount = sizeof kUserVariables / sizeof kUserVariables[0];

/* Each per-user variable a value holds: its long form past the profile's
   (`rest`, lower case), and whether it has no drive ("%HOMEPATH%"). */
struct ProfileParts {
    bool used[kUserVariableCount];
    bool noDrive[kUserVariableCount];
    char rest[kUserVariableCount][MAX_PATH];
};

/* LongForm of `path`, else `path` lower case; null when no memory is left. */
char* LongOrWritten(const char* path) {
    char* form = LongForm(path);
    if (!form && (form = (char*)malloc(strlen(path) + 1)) != nullptr) _strlwr(strcpy(form, path));
    return form;
}

/* The parts of the per-user variables `data` holds within this program's
   profile, by long forms (XP's "C:\DOCUME~1\admin\LOCALS~1\Temp"). False
   where it holds none, or one lies outside the profile. */
bool PartsInOwnProfile(const char* data, ProfileParts* parts) {
    char own[MAX_PATH], value[MAX_PATH], name[16];
    const DWORD n = GetEnvironmentVariableA("USERPROFILE", own, sizeof own);
    Freed ownLong;
    if (n == 0 || n >= sizeof own || (ownLong.p = LongOrWritten(own)) == nullptr) return false;
    bool any = false;
    for (int i = 0; i < kUserVariableCount; i++) {
        sprintf(name, "%%%s%%", kUserVariables[i]);
        parts->used[i] = strstr(data, name) != nullptr;
        if (!parts->used[i]) continue;
        any = true;
        const DWORD m = GetEnvironmentVariableA(kUserVariables[i], value, sizeof value);
        Freed rooted, long_;
        const char* path = m > 0 && m < sizeof value ? OnSystemDrive(value, &rooted.p) : nullptr;
        const size_t k = strlen(ownLong.p);
        if (!path || (long_.p = LongOrWritten(path)) == nullptr ||
            strncmp(long_.p, ownLong.p, k) != 0 || (long_.p[k] && long_.p[k] != '\\'))
            return false;
        parts->noDrive[i] = path != value;
        CopyText(parts->rest[i], sizeof parts->rest[i], long_.p + k);
    }
    return any;
}

/* `data` read in `profile`: *here, it names the file by the full-path rule;
 *another, it starts another file (StartsAnotherFile). False when unread. */
bool ReadInProfile(const char* data, const char* profile, const ProfileParts& parts, REGSAM view,
                   char* const forms[], int formCount, const char* longForm, const char* file,
                   bool* here, bool* another) {
    size_t size = strlen(data) + 1;
    for (const char* p = strchr(data, '%'); p; p = strchr(p + 1, '%'))
        size += strlen(profile) + MAX_PATH;
    Freed text;
    if ((text.p = (char*)malloc(size)) == nullptr) return false;
    char* out = text.p;
    for (const char* p = data; *p;) {
        int known = -1;
        for (int i = 0; i < kUserVariableCount && *p == '%'; i++) {
            const size_t length = strlen(kUserVariables[i]);
            if (parts.used[i] && strncmp(p + 1, kUserVariables[i], length) == 0 &&
                p[length + 1] == '%')
                known = i;
        }
        if (known < 0) {
            *out++ = *p++;
            continue;
        }
        const char* folder = profile + (parts.noDrive[known] && profile[1] == ':' ? 2 : 0);
        out += sprintf(out, "%s%s", folder, parts.rest[known]);
        p += strlen(kUserVariables[known]) + 2;
    }
    *out = 0;
    ShellReading r;
    if (!ReadAsShell(text.p, view, &r)) return false;
    const bool quoted = r.expanded[0] == '"';
    *here = NamesFileByItsFolders(r.path, quoted, forms, formCount, longForm) ||
            HostLoadsFile(r.expanded, file, view);
    for (int f = 0; f < formCount && !*here; f++)
        *here = NamesFile(r.path, quoted, forms[f], strlen(forms[f]));
    *another = !*here && StartsAnotherFile(r, file, view);
    return true;
}

/* HKLM's Run values start "every time ... a user logs on", in his
   environment (learn.microsoft.com/windows/win32/setupapi/run-and-runonce-
   registry-keys). A value whose per-user variables all lie in this program's
   profile is read in each profile of ProfileList and the default one: in
   *named whether one names the file, in *other whether one starts another
   user's file, which the value must go on starting. False for other values.
   ProfileList is taken as it is: Users only read HKLM\SOFTWARE (DISA STIG
   WN10-RG-000005; Windows Registry Guide 2nd ed., "Mapping Default
   Permissions"; none found for NT 4.0 and 2000). */
bool ReadInEachProfile(const char* data, REGSAM view, char* const forms[], int formCount,
                       const char* longForm, const char* file, bool* named, bool* other) {
    *named = *other = false;
    ProfileParts parts;
    if (!PartsInOwnProfile(data, &parts)) return false;
    char sid[256], key[sizeof kProfiles + sizeof sid], local[kExpandedSize];
    REGSAM views[2];
    const REGSAM native = views[RegistryViews(views) - 1];
    HKEY list;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfiles, 0, KEY_READ | native, &list) != ERROR_SUCCESS)
        return true;
    for (DWORD i = 0; !*other; i++) {
        DWORD sidChars = sizeof sid;
        if (RegEnumKeyExA(list, i, sid, &sidChars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        Freed image, heap;
        char* profile;
        bool here = false;
        if (JoinPath(key, sizeof key, kProfiles, "\\", sid) &&
            ReadRegistryString(HKEY_LOCAL_MACHINE, key, "ProfileImagePath", &image.p, native) &&
            (profile = ExpandWhole(image.p, local, sizeof local, &heap.p)) != nullptr &&
            ReadInProfile(data, _strlwr(profile), parts, view, forms, formCount, longForm, file,
                          &here, other))
            *named = *named || here;
    }
    RegCloseKey(list);
    char defaultProfile[MAX_PATH];
    bool here;
    if (!*other && DefaultProfile(native, defaultProfile, sizeof defaultProfile))
        ReadInProfile(data, defaultProfile, parts, view, forms, formCount, longForm, file, &here,
                      other);
    return true;
}

/* Whether a command names its program, or a host's library, by a path: a
   backslash, a drive, or a "/" in the program's name (naming-a-file: "/" is
   converted to "\\"); a "/" after it begins a switch ("ctfmon.exe /n"). */
bool NamedByPath(const char* data) {
    if (strchr(data, '\\')) return true;
    char host[MAX_PATH], library[MAX_PATH];
    if (HostedLibrary(data, host, sizeof host, library, sizeof library) && strpbrk(library, "\\:"))
        return true;
    while (*data == ' ' || *data == '\t')
        data++;
    const bool quoted = *data == '"';
    const size_t length = strcspn(data + quoted, quoted ? "\"" : " \t");
    return memchr(data + quoted, '/', length) != nullptr;
}

/* Whether a bare command's program, or a host's library, is `fileName` by
   its whole name (IsFileName: "ctfmon.exe" is no "mon.exe"). */
bool BareStartsFile(const char* data, const char* fileName) {
    char program[MAX_PATH], library[MAX_PATH];
    const char* rest = NextName(data, "", program, sizeof program);
    if (IsFileName(program, fileName, ".exe")) return true;
    if (!IsHost(program)) return false;
    NextName(rest, ",", library, sizeof library);
    return IsFileName(library, fileName, ".dll");
}

/* Whether the bare command `data` starts `file` itself: its program as the
   shell finds it (SearchedFile, the Windows folder first), or a host's
   library beside the host, then as System32's host finds it; never the host. */
bool BareStartsVariant(const char* data, const char* file, REGSAM view) {
    char program[MAX_PATH], library[MAX_PATH], found[MAX_PATH], windows[MAX_PATH];
    const char* rest = NextName(data, "", program, sizeof program);
    if (IsHost(program)) {
        char host[MAX_PATH];
        NextName(rest, ",", library, sizeof library);
        if (!library[0]) return false;
        const bool beside = SearchedFile(program, ".exe", true, host, sizeof host) &&
                            LibraryBesideHost(host, library, found, sizeof found);
        return (beside || SearchedFile(library, ".dll", false, found, sizeof found)) &&
               SameFile(found, file);
    }
    if (program[0] && SearchedFile(program, ".exe", true, found, sizeof found))
        return SameFile(found, file);
    // A value of the 32-bit view: a 32-bit program's System32 is SysWOW64.
    const UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    return view == KEY_WOW64_32KEY && n > 0 && n < sizeof windows &&
           JoinPath(found, sizeof found, windows, "\\SysWOW64\\", program) &&
           JoinPath(found, sizeof found, found, strchr(program, '.') ? "" : ".exe") &&
           SameFile(found, file);
}

} // namespace

/* The one maker of an autostart value's proof: a value this walk resolved. */
struct AutostartProver {
    static AutostartValue Found(HKEY root, const char* subKey, const char* name, REGSAM view) {
        return AutostartValue(root, subKey, name, view);
    }
};

namespace {

/* Deletes the values of one key that start `currentFile` (terminated), or
   with `onlyName` that value only, each with a line naming `lineName`. */
void WalkKey(HKEY root, const char* subKey, REGSAM view, char* currentFile, const char* onlyName,
             const char* lineName) {
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    DWORD count = 0; // taken once, before anything is deleted
    char* name = nullptr;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        count == 0 || (name = (char*)malloc(kValueNameChars)) == nullptr) {
        RegCloseKey(key);
        return;
    }
    if (onlyName) count = 1;
    const char* lastSlash = strrchr(currentFile, '\\');
    char* forms[3];
    const int formCount = lastSlash && lastSlash[1] ? FileForms(currentFile, forms) : 0;
    char* longForm = formCount > 0 ? LongForm(currentFile) : nullptr;
    DWORD deletedCount = 0;
    for (DWORD i = 0; i < count && formCount > 0; i++) {
        // Each deletion moves the later values down by one index.
        DWORD nameChars = kValueNameChars;
        if (onlyName)
            strcpy(name, onlyName); // shorter than the remembered name's buffer
        else if (RegEnumValueA(key, i - deletedCount, name, &nameChars, nullptr, nullptr, nullptr,
                               nullptr) != ERROR_SUCCESS)
            continue;
        Freed value, rawRooted, rawHeap;
        if (!ReadRegistryString(root, subKey, name, &value.p, view)) continue;
        char* data = _strlwr(value.p);
        ShellReading reading;
        if (!ReadAsShell(data, view, &reading)) continue;
        const char* expanded = reading.expanded;
        const char* expandedPath = reading.path;
        const char* rawText = OnSystemDrive(data + (data[0] == '"'), &rawRooted.p);
        if (!rawText) continue;
        const char* rawPath = RealNames(rawText, view, &rawHeap.p);
        if (!rawPath) continue;
        const bool bareReference = !NamedByPath(data);
        bool bare = false, inSystem = false, fullPath = false;
        for (int f = 0; f < formCount; f++) {
            const char* form = forms[f];
            // A bare value holding the file's name is the bare rule's alone.
            const char* fileName = strrchr(form, '\\') + 1;
            const bool starts = bareReference && BareStartsFile(data, fileName);
            if (bareReference && (starts || strstr(data, fileName))) {
                bare = true;
                inSystem = inSystem || (starts && BareStartsVariant(data, currentFile, view));
            }
            const size_t n = strlen(form);
            fullPath = fullPath || NamesFile(rawPath, data[0] == '"', form, n) ||
                       NamesFile(expandedPath, expanded[0] == '"', form, n);
        }
        fullPath =
            fullPath ||
            NamesFileByItsFolders(rawPath, data[0] == '"', forms, formCount, longForm) ||
            NamesFileByItsFolders(expandedPath, expanded[0] == '"', forms, formCount, longForm) ||
            (!bareReference && (HostLoadsFile(data, currentFile, view) ||
                                HostLoadsFile(expanded, currentFile, view)));
        bool named, other;
        if (root == HKEY_LOCAL_MACHINE &&
            ReadInEachProfile(data, view, forms, formCount, longForm, currentFile, &named, &other))
            fullPath = (fullPath || named) && !other;
        if (bare) {
            if (inSystem && DeleteRegistryValue(AutostartProver::Found(root, subKey, name, view))) {
                RememberValueName(name, subKey, view, currentFile);
                PostLogLine("System Registry     %s removed", lineName);
                deletedCount++;
            }
        } else if (fullPath) {
            // Remembered even when the deletion fails: the next detection retries.
            RememberValueName(name, subKey, view, currentFile);
            if (DeleteRegistryValue(AutostartProver::Found(root, subKey, name, view))) {
                PostLogLine("System Registry     %s removed", lineName);
                deletedCount++;
            }
        }
    }
    if (formCount > 0) FreeForms(forms, formCount);
    free(longForm);
    free(name);
    RegCloseKey(key);
}

} // namespace

void WalkAutostartKey(HKEY root, const char* subKey, REGSAM view) {
    if (!Terminated(g_scan.currentFile, sizeof g_scan.currentFile)) return;
    WalkKey(root, subKey, view, g_scan.currentFile, nullptr, kWalkName);
}

bool CleanSystemEntries(const char* variantName, const FileId* matched) {
    CheckHostsFile();
    RememberMatched(matched);
    const char* remembered = g_scan.autostartValueName;
    const char* const keys[] = {AUTOSTART_RUN_KEY, AUTOSTART_RUNSERVICES_KEY};
    REGSAM views[2];
    const int viewCount = RegistryViews(views);
    if (Terminated(remembered, sizeof g_scan.autostartValueName) && remembered[0] &&
        Terminated(g_scan.autostartValueFile, sizeof g_scan.autostartValueFile)) {
        // Only in its key and view, and only while it still starts its file;
        // copied, as its deletion may overwrite it.
        char name[sizeof g_scan.autostartValueName];
        char file[sizeof g_scan.autostartValueFile];
        strcpy(name, remembered);
        strcpy(file, g_scan.autostartValueFile);
        for (const char* key : keys)
            for (int v = 0; v < viewCount; v++)
                if (views[v] == g_scan.autostartValueView &&
                    strcmp(key, g_scan.autostartValueKey) == 0)
                    WalkKey(HKEY_LOCAL_MACHINE, key, views[v], file, name, variantName);
    }
    if (Terminated(g_scan.currentFile, sizeof g_scan.currentFile) && g_scan.currentFile[0]) {
        for (const char* key : keys)
            for (int v = 0; v < viewCount; v++)
                WalkAutostartKey(HKEY_LOCAL_MACHINE, key, views[v]);
    }
    return true;
}
