/*
** The directory walk, its message pump, and the display form of a path.
**
** Every level of the walk keeps its pattern and composed paths in fixed
** 260-byte buffers of its own frame. An entry is named by its long name,
** except where that cannot reach it, and a path that would not fit with the
** long name (a deep folder plus a long name): there the entry's 8.3 name is
** used instead. A long name does not reach its entry when it holds "?" (a
** character the ANSI code page cannot show; "?" never stands in a real
** name), when it ends in a dot or a blank (Win32 drops them from a path),
** or when the listing gave a character outside the code page by its best
** fit (a fullwidth "e" as "e"): then a search for the long name finds
** another entry, or none, and the 8.3 names tell. When that does not fit either,
** the folder itself is taken in its 8.3 form (GetShortPathNameA) with the
** entry's 8.3 name, or its name when it has none, so that the walk goes on
** in the short form below a folder whose long form overflows. Without 8.3
** names (their generation can be turned off on NTFS) such an entry stays
** unchecked: an over-long one is neither shown, counted, checked nor entered,
** one its long name does not reach is shown and counted only.
**
** On NT a folder or file may carry security that shuts Administrators out
** (its owner may always set it). The scan run enables the backup and
** restore privileges first: FindFirstFile opens the folder it lists for
** backup intent, and every open of a file the program reads or deletes asks
** for backup semantics, so both are reached as any other. Where they are
** not (the program runs without those privileges), the folder or file is
** logged as not checked, never passed over in silence.
**
** A folder that carries a reparse point is entered unless its tag is a name
** surrogate, which points elsewhere: a junction or symbolic link is shown
** but not entered (links that point back up would make the walk branch at
** every level, and every file behind a link is reached by its real path
** anyway). A volume mount point shares the junction's tag; its volume is
** walked there when no fixed drive letter names it and the scan has not
** entered it already (by another folder it is mounted in, or the one it is
** mounted in inside itself): each volume is walked once a scan. Other tags
** (cloud files, deduplication) mark ordinary folders; a folder a sync
** client keeps virtual (FILE_ATTRIBUTE_RECALL_ON_OPEN: nothing of it is on
** this machine, and listing it fetches its listing) is not entered. The
** stop flag is tested after every pump, at least once per entry, and a stop
** unwinds every level with 0.
**
** A file's length, which lets the walk skip a file no check could handle,
** is the file's own: a directory entry may list another (a file symbolic
** link lists 0, a hard link's entry keeps a stale copy). A file a sync
** client keeps online only is counted but never opened, as opening it
** would fetch it; it cannot run before it is fetched. Such a file waits for
** recall (on data access or on open), or is offline behind a reparse point
** of the cloud files filter (the IO_REPARSE_TAG_CLOUD tags). The offline bit
** is one any program may set on its own file, which still runs: on a plain
** file, on a file symbolic link (which runs its target), and on a file
** behind any other tag, such as Windows' own compression (IO_REPARSE_TAG_WOF,
** whose data every read serves) or deduplication.
*/
#include "engine/walk.h"
#include "engine/ask_user.h"
#include "engine/file_check.h"
#include "engine/scan_state.h"
#include "platform/file_names.h"
#include "platform/join_path.h"
#include "platform/resolve.h"
#include "platform/wow64.h"

enum { PATH_BUF = 260, DISPLAY_BUF = 512, DISPLAY_MAX = 60, VOLUME_BUF = 50 };
enum : DWORD {
    NAME_SURROGATE = 0x20000000, // the tag's bit of links that point elsewhere
    CLOUD_TAG = 0x9000001A,
    CLOUD_TAG_MASK = 0x0000F000,
};

typedef BOOL(WINAPI* GetFileAttributesExFn)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID);
typedef BOOL(WINAPI* GetVolumeNameFn)(LPCSTR, LPSTR, DWORD);

/* What a walk keeps while it runs: the kernel32 functions that not every
   supported Windows has, looked up when the outermost level begins. */
static struct {
    int depth;
    GetFileAttributesExFn fileRecord; // GetFileAttributesExA: Windows 98, NT 4.0 and later
    GetVolumeNameFn volumeName;       // GetVolumeNameForVolumeMountPointA: 2000 and later
} s_walk;

const FileCheck FileCheckList[] = {
    {"W32/Phantaxis.Trojan", CheckFile, CheckFileCouldHandle},
    {nullptr, nullptr, nullptr},
};
const FileCheck* g_fileChecks = FileCheckList;

/* Length of the pattern's folder part: everything before the character that
   precedes its last "." ("C:\dir\*.*" -> "C:\dir\"); -1 without a ".". */
static int FolderLength(const char* pattern) {
    const char* dot = strrchr(pattern, '.');
    if (!dot) return -1;
    return dot > pattern ? (int)(dot - pattern) - 1 : 0;
}

/* Forms `folder part of pattern` + name (+ suffix) in `out`; false when the
   pattern has no "." (*noDot set) or the result does not fit. */
static bool ComposePath(const char* pattern, const char* name, const char* suffix, char* out,
                        bool* noDot) {
    int keep = FolderLength(pattern);
    *noDot = keep < 0;
    if (keep < 0) return false;
    memcpy(out, pattern, (size_t)keep);
    out[keep] = 0;
    return JoinPath(out, PATH_BUF, out, name, suffix);
}

/* Under WoW64 the walk lists folders by their real names: C:\Windows\System32
   is the system folder itself and SysWOW64 is met under its own name, so
   each file is seen once. Only the opening of a search needs the switch.
   The entry starts zeroed: Windows gives a reparse point's tag in
   dwReserved0, but Wine writes neither reserved field, in the first entry
   or the next, and a tag read from whatever the stack held could send the
   walk into a link. Zero, no tag, is one the walk never enters. */
static HANDLE FindFirst(const char* pattern, WIN32_FIND_DATAA* fd) {
    memset(fd, 0, sizeof *fd);
    // A file named as a device is looked up as the file (file_names.h): by
    // the device's name Windows lists the device itself.
    const FileName name(pattern);
    if (!name.get()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    NativeFileNames native;
    return FindFirstFileA(name.get(), fd);
}

/* The tags of the cloud files filter: IO_REPARSE_TAG_CLOUD (0x9000001A) and
   IO_REPARSE_TAG_CLOUD_1 to _F, which differ in the bits of
   IO_REPARSE_TAG_CLOUD_MASK (0x0000F000). */
static bool IsCloudTag(DWORD tag) { return (tag & ~(DWORD)CLOUD_TAG_MASK) == CLOUD_TAG; }

static bool IsDotEntry(const char* name) { return !strcmp(name, ".") || !strcmp(name, ".."); }

/* The 8.3 form of the folder a level lists, asked for once, when an entry
   first needs it. */
struct ShortFolder {
    bool asked;
    char path[PATH_BUF]; // empty when it has none that fits
};

/* Whether the name of a path's last part reaches its entry: Win32 drops its
   trailing dots and blanks, and "?" stands for a character the code page
   cannot show. */
static bool NameReaches(const char* name) {
    const size_t n = strlen(name);
    return !strchr(name, '?') &&
           (IsDotEntry(name) || n == 0 || (name[n - 1] != '.' && name[n - 1] != ' '));
}

/* Whether the long name of the listed entry `fd` of the pattern's folder
   reaches it. An entry with an 8.3 name is looked up by its long name, with
   `search`: a best fit (or a name that differs only so from another's) finds
   another entry, or none. */
static bool LongNameReaches(const char* pattern, const WIN32_FIND_DATAA& fd, bool search) {
    if (!NameReaches(fd.cFileName)) return false;
    char path[PATH_BUF];
    bool noDot;
    if (!search || !ComposePath(pattern, fd.cFileName, "", path, &noDot)) return true;
    WIN32_FIND_DATAA found;
    HANDLE lookup = FindFirst(path, &found);
    if (lookup == INVALID_HANDLE_VALUE) return false;
    FindClose(lookup);
    return _stricmp(found.cAlternateFileName, fd.cAlternateFileName) == 0;
}

/* Forms the entry's path (folder part of pattern + name + suffix) in `out`,
   by its 8.3 name where the long name does not reach it or the path would
   not fit with it, and then in the folder's 8.3 form; false when none fits
   or the pattern has no "." (*noDot). *unreached: the path is formed with a
   long name that does not reach the entry, which has no 8.3 name. */
static bool ComposeEntryPath(const char* pattern, const WIN32_FIND_DATAA& fd, const char* suffix,
                             char* out, bool* noDot, ShortFolder* folder, bool* unreached) {
    const char* alt = fd.cAlternateFileName;
    bool hasAlt = alt[0] != 0 && memchr(alt, 0, sizeof fd.cAlternateFileName) != nullptr;
    // A folder is only shown in the file phase: it is looked up when entered.
    const bool search = hasAlt && (suffix[0] || !(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
    bool reachable = LongNameReaches(pattern, fd, search);
    *unreached = !hasAlt && !reachable;
    if (!hasAlt || reachable) {
        if (ComposePath(pattern, fd.cFileName, suffix, out, noDot)) return true;
        if (*noDot) return false;
    }
    if (hasAlt && ComposePath(pattern, alt, suffix, out, noDot)) return true;
    if (*noDot || (!hasAlt && !reachable)) return false;
    if (!folder->asked) {
        folder->asked = true;
        char longForm[PATH_BUF];
        size_t keep = (size_t)FolderLength(pattern);
        memcpy(longForm, pattern, keep);
        longForm[keep] = 0;
        NativeFileNames native;
        DWORD n = GetShortPathNameA(longForm, folder->path, sizeof folder->path);
        if (n == 0 || n >= sizeof folder->path) folder->path[0] = 0;
    }
    return folder->path[0] &&
           JoinPath(out, PATH_BUF, folder->path, hasAlt ? alt : fd.cFileName, suffix);
}

/* The file's own length, not the copy its directory entry lists; false when
   it cannot be told. The file system's record of the file (no open needed)
   describes a link rather than its target, so a reparse point is opened. */
static bool FileLength(const char* path, const WIN32_FIND_DATAA& fd, uint64_t* length) {
    NativeFileNames native;
    const FileName name(path);
    if (s_walk.fileRecord && name.get() && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (s_walk.fileRecord(name.get(), GetFileExInfoStandard, &data) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            *length = (uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
            return true;
        }
    }
    int file = OpenDescriptorForReading(path);
    if (file < 0) return false;
    long n = _filelength(file);
    _close(file);
    if (n < 0) return false;
    *length = (uint64_t)n;
    return true;
}

/* Hands the file at `path` to the checks in order, until one handles it. A
   check that cannot match the file's length is not asked to open it. */
static void CheckEntry(const char* path, const WIN32_FIND_DATAA& fd) {
    bool measured = false, known = false;
    uint64_t length = 0;
    for (const FileCheck* c = g_fileChecks; c->name; c++) {
        if (c->couldHandle) {
            if (!measured) known = FileLength(path, fd, &length), measured = true;
            if (known && !c->couldHandle(length)) continue;
        }
        if (c->check(c->name, path)) break;
    }
}

/* Whether the volume named `volume` is reached another way: by a fixed
   drive's letter, or as a volume this scan has entered already. */
static bool VolumeWalkedElsewhere(const char* volume) {
    for (int i = 0; i < g_scan.volumesEntered; i++)
        if (!_stricmp(g_scan.volumeEntered[i], volume)) return true;
    char root[] = "C:\\", other[VOLUME_BUF];
    for (char letter = 'C'; letter <= 'Z'; letter++) {
        root[0] = letter;
        if (GetDriveTypeA(root) == DRIVE_FIXED && s_walk.volumeName(root, other, sizeof other) &&
            !_stricmp(other, volume))
            return true;
    }
    return false;
}

/* Whether the walk enters the folder with reparse point `fd`, whose pattern
   is `sub` ("...\name\*.*"); for a volume mount point it enters, the
   volume's name goes to `volume` (else it is left empty). */
static bool EntersReparseFolder(const WIN32_FIND_DATAA& fd, const char* sub, char* volume) {
    volume[0] = 0;
    const DWORD tag = fd.dwReserved0;
    if (tag != IO_REPARSE_TAG_MOUNT_POINT) return tag != 0 && !(tag & NAME_SURROGATE);
    const int32_t room = (int32_t)(sizeof g_scan.volumeEntered / sizeof g_scan.volumeEntered[0]);
    if (!s_walk.volumeName || g_scan.volumesEntered >= room) return false;
    char folder[PATH_BUF];
    CopyText(folder, sizeof folder, sub);
    char* star = strrchr(folder, '\\');
    if (!star) return false;
    star[1] = 0;
    NativeFileNames native;
    // A junction to a folder names no volume.
    if (!s_walk.volumeName(folder, volume, VOLUME_BUF)) {
        volume[0] = 0;
        return false;
    }
    if (VolumeWalkedElsewhere(volume)) {
        volume[0] = 0;
        return false;
    }
    return true;
}

/* Step 2 of a walk: a drive root pattern notes the drive's "\Program Files". */
static void NoteProgramFiles(const char* pattern) {
    if (strlen(pattern) > 6) return;
    char* pf = g_scan.programFilesPattern;
    CopyText(pf, sizeof g_scan.programFilesPattern, pattern);
    char* colon = strchr(pf, ':');
    if (!colon) return;
    colon[1] = 0;
    strcat(pf, "\\Program Files");
    if (_access(pf, 0) == 0) {
        g_scan.programFilesPending = 1;
        strcat(pf, "\\*.*");
    }
}

/* The file phase: shows and checks every entry the pattern lists.
   Returns 1 to go on, 0 when stopped, -1 for a pattern without ".". */
static int32_t WalkFiles(const char* pattern) {
    WIN32_FIND_DATAA fd;
    ShortFolder shortFolder = {false, ""};
    HANDLE search = FindFirst(pattern, &fd);
    if (search == INVALID_HANDLE_VALUE) {
        // A folder whose security shuts the program out even with its backup
        // privilege (held by Administrators only) hides what it holds.
        if (GetLastError() == ERROR_ACCESS_DENIED) {
            char folder[PATH_BUF];
            CopyText(folder, sizeof folder, pattern);
            const int keep = FolderLength(pattern);
            if (!g_scan.memoryScanMode && keep > 0) folder[keep] = 0;
            PostLogLine("%s     Unable to check", folder);
        }
        return 1;
    }
    do {
        PumpMessages();
        if (g_scan.stopRequested) {
            FindClose(search);
            return 0;
        }
        char path[PATH_BUF];
        bool fits = true, unreached = false;
        if (g_scan.memoryScanMode) {
            CopyText(path, sizeof path, pattern);
        } else {
            bool noDot;
            fits = ComposeEntryPath(pattern, fd, "", path, &noDot, &shortFolder, &unreached);
            if (noDot) {
                FindClose(search);
                return -1;
            }
        }
        if (fits) {
            char display[DISPLAY_BUF];
            ShortenPath(path, display, DISPLAY_MAX);
            ShowStatus(display);
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (!g_scan.memoryScanMode) g_scan.filesScanned++;
                // A placeholder of a file kept online: opening it fetches it.
                const DWORD a = fd.dwFileAttributes;
                const bool online =
                    !g_scan.memoryScanMode &&
                    ((a & (FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS | FILE_ATTRIBUTE_RECALL_ON_OPEN)) ||
                     ((a & FILE_ATTRIBUTE_OFFLINE) && (a & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      IsCloudTag(fd.dwReserved0)));
                if (!online && !unreached) CheckEntry(path, fd);
            }
        }
        PumpMessages();
        if (g_scan.stopRequested) {
            FindClose(search);
            return 0;
        }
    } while (FindNextFileA(search, &fd));
    FindClose(search);
    return 1;
}

/* The subdirectory phase: enters every folder the pattern's folder holds. */
static int32_t WalkSubdirectories(const char* pattern) {
    const char* dot = strrchr(pattern, '.');
    if (!dot) return -1;
    char dirPattern[PATH_BUF];
    size_t keep = (size_t)(dot - pattern) + 1;
    memcpy(dirPattern, pattern, keep);
    dirPattern[keep] = 0;
    if (!JoinPath(dirPattern, PATH_BUF, dirPattern, "*")) return g_scan.filesScanned;

    WIN32_FIND_DATAA fd;
    ShortFolder shortFolder = {false, ""};
    HANDLE search = FindFirst(dirPattern, &fd);
    if (search == INVALID_HANDLE_VALUE) return g_scan.filesScanned;
    do {
        PumpMessages();
        if (g_scan.stopRequested) {
            FindClose(search);
            return 0;
        }
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDotEntry(fd.cFileName)) {
            char sub[PATH_BUF], volume[VOLUME_BUF] = "";
            bool noDot, unreached;
            if (ComposeEntryPath(pattern, fd, "\\*.*", sub, &noDot, &shortFolder, &unreached)) {
                if (unreached || (fd.dwFileAttributes & FILE_ATTRIBUTE_RECALL_ON_OPEN)) continue;
                if ((fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                    !EntersReparseFolder(fd, sub, volume))
                    continue;
                if (strstr(sub, "\\Program Files\\")) g_scan.programFilesVisited = 1;
                if (volume[0])
                    CopyText(g_scan.volumeEntered[g_scan.volumesEntered++], VOLUME_BUF, volume);
                const int32_t r = WalkDirectory(sub);
                if (r == -1) {
                    FindClose(search);
                    return -1;
                }
            } else if (noDot) {
                FindClose(search);
                return -1;
            }
        }
    } while (FindNextFileA(search, &fd));
    FindClose(search);
    return g_scan.filesScanned;
}

static int32_t WalkLevel(const char* patternIn);

int32_t WalkDirectory(const char* pattern) {
    CheckScanStateRules();
    if (s_walk.depth == 0) {
        HMODULE kernel = LoadSystemLibrary("Kernel32.dll");
        s_walk.fileRecord =
            Resolve<GetFileAttributesExFn>(kernel, Resolvable::GetFileAttributesExA);
        s_walk.volumeName =
            Resolve<GetVolumeNameFn>(kernel, Resolvable::GetVolumeNameForVolumeMountPointA);
    }
    s_walk.depth++;
    const int32_t r = WalkLevel(pattern);
    s_walk.depth--;
    return r;
}

static int32_t WalkLevel(const char* patternIn) {
    g_scan.fileMatched = false;
    char pattern[PATH_BUF];
    if (strlen(patternIn) >= sizeof pattern) return g_scan.filesScanned;
    strcpy(pattern, patternIn);

    NoteProgramFiles(pattern);
    int32_t r = WalkFiles(pattern);
    if (r <= 0) return r;
    // In memory-scan mode the pattern is one image file: there is nothing
    // below it, and a folder beside it that shares its name (abc.d next to
    // abc.exe) must not be entered, as that walk would clear the verdict on
    // the image before the process scan reads it.
    if (g_scan.memoryScanMode) return g_scan.filesScanned;
    return WalkSubdirectories(pattern);
}

enum { MAX_READINGS = 8 }; // more look-alikes of one image path than this: none is taken

/* The readings of an image path so far: drive paths, each part an entry. */
struct Readings {
    char path[MAX_READINGS][PATH_BUF];
    int count;
    bool unreached; // an entry listed under a part's name was reached by no path
};

/* Appends to `next` the path to each entry of `folder` ("X:\\...\\") listed
   under `name` (by its long name, a best fit included, or its 8.3 name):
   the long name where a lookup of it finds exactly that entry, else the 8.3
   name. `last`: the path's last part (a folder's part loses one trailing
   dot). False when there are too many. */
static bool AppendReadings(const char* folder, const char* name, bool last, Readings* next) {
    char probe[PATH_BUF];
    WIN32_FIND_DATAA fd, found;
    if (!JoinPath(probe, PATH_BUF, folder, "*")) return false;
    HANDLE search = FindFirst(probe, &fd);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool room = true;
    do {
        fd.cFileName[sizeof fd.cFileName - 1] = 0;
        const char* alt = memchr(fd.cAlternateFileName, 0, sizeof fd.cAlternateFileName)
                              ? fd.cAlternateFileName
                              : "";
        const bool byAlias = alt[0] && !_stricmp(alt, name);
        if (IsDotEntry(fd.cFileName) || (!byAlias && _stricmp(fd.cFileName, name))) continue;
        const size_t n = strlen(fd.cFileName);
        bool byName = false;
        if (!byAlias && NameReaches(fd.cFileName) && (last || fd.cFileName[n - 1] != '.') &&
            JoinPath(probe, PATH_BUF, folder, fd.cFileName)) {
            HANDLE lookup = FindFirst(probe, &found);
            if (lookup != INVALID_HANDLE_VALUE) {
                FindClose(lookup);
                byName = !strcmp(found.cFileName, fd.cFileName) &&
                         !_stricmp(found.cAlternateFileName, alt);
            }
        }
        const char* reach = byAlias ? name : byName ? fd.cFileName : alt;
        if (!reach[0] || !JoinPath(probe, PATH_BUF, folder, reach)) {
            next->unreached = true;
            continue;
        }
        // Two entries the lookup cannot tell apart: the path reaches one only.
        bool twice = false;
        for (int i = 0; i < next->count; i++)
            twice = twice || !_stricmp(next->path[i], probe);
        if (twice) {
            next->unreached = true;
        } else if (next->count < MAX_READINGS) {
            strcpy(next->path[next->count++], probe);
        } else {
            room = false;
        }
    } while (room && FindNextFileA(search, &fd));
    FindClose(search);
    return room;
}

bool ReachImagePath(char* path, size_t size, const ImagePathProof* proof) {
    if (strlen(path) >= PATH_BUF || path[1] != ':' || path[2] != '\\') return false;
    Readings readings[2];
    Readings* now = &readings[0];
    Readings* next = &readings[1];
    memcpy(now->path[0], path, 3);
    now->path[0][3] = 0;
    now->count = 1;
    now->unreached = false;
    NativeFileNames native;
    char part[PATH_BUF];
    for (const char* p = path + 3; *p;) {
        const char* end = strchr(p, '\\');
        const size_t n = end ? (size_t)(end - p) : strlen(p);
        memcpy(part, p, n);
        part[n] = 0;
        p = end ? end + 1 : p + n;
        if (n == 0) continue;
        next->count = 0;
        next->unreached = now->unreached;
        for (int i = 0; i < now->count; i++)
            if (!AppendReadings(now->path[i], part, !end, next)) return false;
        for (int i = 0; end && i < next->count; i++)
            if (!JoinPath(next->path[i], PATH_BUF, next->path[i], "\\")) return false;
        Readings* done = now;
        now = next;
        next = done;
    }
    int taken = -1;
    if (now->count == 1 && !now->unreached) {
        taken = 0;
    } else if (proof) {
        for (int i = 0; i < now->count; i++) {
            if (!proof->IsImage(now->path[i])) continue;
            if (taken >= 0) return false; // two files: no proof of either
            taken = i;
        }
    }
    if (taken < 0 || strlen(now->path[taken]) >= size) return false;
    strcpy(path, now->path[taken]);
    return true;
}

void PumpMessages() {
    MSG msg;
    if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) return;
    if ((msg.wParam & 0xFFFF) == VK_ESCAPE) {
        if (AskUser("Terminate the Scan now?", SCAN_TITLE, MB_YESNO | MB_ICONQUESTION) == IDNO)
            return;
        g_scan.stopRequested = true;
        return;
    }
    // The program posts neither, and Windows sends WM_DESTROY, never posts
    // it: each is another program's, which neither stops the scan nor
    // reaches a window.
    if (msg.message == WM_QUIT || msg.message == WM_DESTROY) return;
    // No timer of the program runs during a walk: the scan's timer died
    // before the run began, and the program sets no timer procedures (which
    // Windows would call at the address lParam holds) nor thread timers. A
    // control's own timer (the log list's scrolling) passes.
    if (msg.message == WM_TIMER && (msg.lParam != 0 || !msg.hwnd || msg.hwnd == g_scan.mainWindow))
        return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void ShortenPath(const char* source, char* dest, int16_t maximum) {
    size_t n = strlen(source);
    int k = maximum / 2 - 1;
    if (n > (size_t)(maximum < 0 ? 0 : maximum) && k > 0) {
        int dots = maximum - 2 * k;
        memcpy(dest, source, (size_t)k);
        memset(dest + k, '.', (size_t)dots);
        memcpy(dest + k + dots, source + n - (size_t)k, (size_t)k);
        dest[maximum] = 0;
    } else {
        memmove(dest, source, n + 1);
    }
}
