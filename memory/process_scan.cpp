/*
** The process scans. Each builds the whole process list first, then checks
** the records one by one in list order, each completely (check, termination,
** service fallback, re-check) before the next.
**
** A record is checked by walking its image path while memoryScanMode is set:
** the walk shows the path and runs the file check on that one file, which
** sets fileMatched on a variant and leaves the file alone. After the process
** has been dealt with, the image is walked once more with pendingMemoryAction
** set to the scan's action, and the file check then disposes of it without
** matching it again (the "re-check").
*/
#include "platform/wow64.h"
#include "memory/process_scan.h"
#include "actions/processes.h"
#include "actions/files.h"
#include "memory/image_path.h"
#include "engine/scan_state.h"
#include "engine/file_check.h"
#include "engine/walk.h"
#include "platform/file_names.h"
#include "platform/platform.h"
#include "platform/open_file.h"
#include "platform/resolve.h"
#include "memory/service_stop.h"
#include "repair/service_keys.h"
#include "engine/file_identity.h"
#include "engine/pe_layout.h"

#include <stdlib.h>

enum {
    IMAGE_PATH_CHARS = 259,   // what the enumerations deliver at most
    PID_ARRAY_ENTRIES = 1024, // EnumProcesses array: 4096 bytes
    MODULE_NAME_SIZE = 260,
    REPORTED_SIZE = 65536, // two halves, each room for the longest path Windows has
    SERVICE_NAME_SIZE = 516,
};

static const DWORD kTerminateRights = PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION; // 0x401
static const DWORD kQueryRights = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;       // 0x410
/* Vista and later: enough to read the image's name and the process's times. */
static const DWORD kLimitedRights = 0x1000; // PROCESS_QUERY_LIMITED_INFORMATION

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32) == 296, "the 32-bit tool-help record");
#endif

/* The one maker of a listed process's proof: the handle this listing opened
   on the identifier it listed. */
struct ProcessLister {
    static ListedProcess Listed(HANDLE process, DWORD pid, bool canTerminate) {
        return ListedProcess(process, pid, canTerminate);
    }
};

/* Appends a zero-filled record that takes over `process` (closed here when
   the record cannot be allocated); false then. */
static bool Append(ProcessImage** head, ProcessImage** tail, DWORD pid, const char* path,
                   size_t length, HANDLE process, bool canTerminate, bool sharesHandle = false) {
    ProcessImage* rec = (ProcessImage*)calloc(1, sizeof(ProcessImage));
    if (!rec) {
        if (process && !sharesHandle) CloseHandle(process);
        return false;
    }
    rec->processId = pid;
    rec->listed = ProcessLister::Listed(process, pid, canTerminate);
    rec->sharesHandle = sharesHandle;
    if (length > IMAGE_PATH_CHARS) length = IMAGE_PATH_CHARS; // tool help's 260 bytes
    memcpy(rec->imagePath, path, length);
    if (*tail)
        (*tail)->next = rec;
    else
        *head = rec;
    *tail = rec;
    return true;
}

void FreeProcessList(ProcessImage* list) {
    while (list) {
        ProcessImage* next = list->next;
        if (list->listed.Handle() && !list->sharesHandle) CloseHandle(list->listed.Handle());
        free(list);
        list = next;
    }
}

void EnableDebugPrivilege() {
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        /* Deliberate: a box titled "TEMP" saying "false" when the token
           cannot be opened, once for each process the scan was refused. Its
           answer is not read: the scan waits until it is closed and goes on,
           and the adjustment below fails harmlessly; pinned by
           ProcessScanTest.EveryRefusedOpenAsksForTheDebugPrivilegeAgain. */
        MessageBoxA(NULL, "false", "TEMP", MB_OK);
        token = NULL; // the adjustment below then fails harmlessly
    }
    TOKEN_PRIVILEGES tp;
    memset(&tp, 0, sizeof tp);
    tp.PrivilegeCount = 1;
    LookupPrivilegeValueA(NULL, SE_DEBUG_NAME, &tp.Privileges[0].Luid);
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &tp, 0, NULL, NULL);
    if (token) CloseHandle(token);
}

/* ---- listing ---- */

/* How the processes are opened and their images read: the kernel's name of
   the image where Windows gives it (Vista and later in the drive form, XP
   and 2003 in the device form), the loader's record inside the process only
   where neither exists (NT 4.0 and 2000). The record is the process's own
   memory: a program may write another file's name there, or a drive letter
   that only its own logon session has. */
struct ImageReaders {
    QueryFullProcessImageNameAFn fullName;
    GetProcessImageFileNameAFn deviceName;
    QueryDosDeviceAFn dosDevice;
    GetModuleFileNameExAFn moduleFileName;
    VirtualQueryExFn virtualQuery; // the mapped image files, with mappedName
    GetMappedFileNameAFn mappedName;
    GetMappedFileNameWFn mappedWide; // the Unicode name, to open it by, with openWide
    WideOpener openWide;
    QueryFullProcessImageNameWFn fullNameWide; // the kernel's Unicode name (Vista and later)
    GetProcessImageFileNameWFn deviceNameWide; // the same in the device form (XP and 2003)
    bool enableDebugOnDenied;
};

/* Opens process `pid` to read its image, with the terminate right where it
   is granted (*canTerminate), else with the query rights alone. */
static HANDLE OpenListed(DWORD pid, const ImageReaders& readers, bool* canTerminate) {
    *canTerminate = true;
    HANDLE process = OpenProcess(kQueryRights | PROCESS_TERMINATE, FALSE, pid);
    if (process) return process;
    *canTerminate = false;
    process = OpenProcess(kQueryRights, FALSE, pid);
    if (!process && readers.enableDebugOnDenied && GetLastError() == ERROR_ACCESS_DENIED) {
        EnableDebugPrivilege();
        process = OpenProcess(kQueryRights, FALSE, pid);
    }
    if (process || !readers.fullName) return process;
    // What psapi cannot open fully may still give its name (Vista and later).
    *canTerminate = true;
    process = OpenProcess(kLimitedRights | PROCESS_TERMINATE, FALSE, pid);
    if (process) return process;
    *canTerminate = false;
    return OpenProcess(kLimitedRights, FALSE, pid);
}

/* The drive form of a device path ("\Device\HarddiskVolume1\x.exe" ->
   "C:\x.exe"): the first drive letter whose device, followed by a
   backslash, begins the path. A letter that names a folder (subst) or a
   share stands for no volume device and never matches. */
static bool DriveFormOf(const char* device, QueryDosDeviceAFn dosDevice, char* out, size_t size) {
    char letter[3] = "A:", target[MAX_PATH];
    for (; letter[0] <= 'Z'; letter[0]++) {
        memset(target, 0, sizeof target);
        if (!dosDevice(letter, target, sizeof target - 1)) continue;
        const size_t n = strlen(target);
        if (n > 0 && _strnicmp(device, target, n) == 0 && device[n] == '\\' &&
            strlen(letter) + strlen(device + n) < size) {
            strcpy(out, letter);
            strcat(out, device + n);
            return true;
        }
    }
    return false;
}

/* The 8.3 form of an existing drive path too long for this program's paths,
   built folder by folder from the short names the listings give (each
   lookup stays within the path limit). False when a name has no short form
   and the result does not fit. */
static bool ShortFormOfLong(const char* path, char* out, size_t size) {
    if (size < 3 || path[1] != ':' || path[2] != '\\') return false; // a drive path
    memcpy(out, path, 2);
    out[2] = 0;
    for (const char* p = path + 2; *p;) {
        const char* name = p + 1;
        const char* end = strchr(name, '\\');
        if (!end) end = name + strlen(name);
        const size_t have = strlen(out), n = (size_t)(end - name);
        char probe[MAX_PATH];
        if (n == 0 || have + 1 + n >= sizeof probe) return false;
        memcpy(probe, out, have);
        probe[have] = '\\';
        memcpy(probe + have + 1, name, n);
        probe[have + 1 + n] = 0;
        WIN32_FIND_DATAA found;
        HANDLE find;
        {
            const FileName name(probe);
            NativeFileNames native;
            find = name.get() ? FindFirstFileA(name.get(), &found) : INVALID_HANDLE_VALUE;
        }
        if (find == INVALID_HANDLE_VALUE) return false;
        FindClose(find);
        found.cFileName[sizeof found.cFileName - 1] = 0;
        found.cAlternateFileName[sizeof found.cAlternateFileName - 1] = 0;
        const char* part = found.cAlternateFileName[0] ? found.cAlternateFileName : found.cFileName;
        if (have + 1 + strlen(part) >= size) return false;
        out[have] = '\\';
        strcpy(out + have + 1, part);
        p = end;
    }
    return true;
}

/* The image of an opened process as the kernel or, where it has no answer,
   the loader's record gives it, into the lower half of `reported`
   (REPORTED_SIZE bytes); false when it cannot be read whole. */
static bool ReadImageName(HANDLE process, const ImageReaders& readers, char* reported) {
    memset(reported, 0, REPORTED_SIZE);
    const DWORD half = REPORTED_SIZE / 2;
    if (readers.fullName) {
        DWORD size = half - 1;
        return readers.fullName(process, 0, reported, &size) && size > 0 && size < half - 1;
    }
    if (readers.deviceName) {
        char* device = reported + half; // read into the upper half, the drive form below
        DWORD length = readers.deviceName(process, device, half - 1);
        return length > 0 && length < half - 1 &&
               DriveFormOf(device, readers.dosDevice, reported, half);
    }
    // 2000 and NT 4.0: the loader's record, in ANSI (Microsoft's GetModuleFileNameEx page gives
    // XP as its minimum client and the kernel's name as the more reliable; Wine's psapi tests,
    // test_GetModuleFileNameEx, find it the name GetModuleFileNameA gives inside the process).
    // A name outside the code page comes back by its best fit, another name: it is taken only
    // where the listing reaches one file by it with no look-alike beside it, or where a
    // mapping's identity proves the file it reaches (ReachImagePath, ImageProof).
    DWORD length = readers.moduleFileName(process, NULL, reported, half - 1);
    return length > 0 && length < half - 2; // a full buffer may hold a cut path
}

/* A drive path of at most 259 characters into `path` (MODULE_NAME_SIZE
   bytes): `drive` itself, or a longer one by its short form, never cut. */
static bool FitPath(const char* drive, char* path) {
    if (strlen(drive) < MODULE_NAME_SIZE) {
        strcpy(path, drive);
        return true;
    }
    return ShortFormOfLong(drive, path, MODULE_NAME_SIZE);
}

/* The image of an opened process as it names it at its start (see
   ReadImageName) into `path`; false when it cannot be read. */
static bool NamedImage(HANDLE process, const ImageReaders& readers, char* reported, char* path) {
    // "\SystemRoot\..." and "\??\X:\..." name drive paths; anything else that
    // is not one, Windows would read on the current drive: not this image.
    char* drive = reported + REPORTED_SIZE / 2;
    if (!ReadImageName(process, readers, reported) ||
        !DrivePathOf(reported, drive, REPORTED_SIZE / 2))
        return false;
    DropDataType(drive); // "x.exe::$DATA" is x.exe
    return FitPath(drive, path);
}

/* Whether the file open as `fd` is a program: its header marks no library
   (IMAGE_FILE_DLL), read from the file, never from the process. Closes it. */
static bool ReadsAsProgram(int fd) {
    if (fd < 0) return false;
    unsigned char dos[pe::kDosHeaderSize], nt[pe::kNtFileHeader + pe::kFileHeaderSize];
    bool library = false;
    if (_read(fd, dos, sizeof dos) == (int)sizeof dos && dos[0] == 'M' && dos[1] == 'Z') {
        const unsigned char* at = dos + pe::kDosNewHeader;
        const long offset = (long)(at[0] | at[1] << 8 | at[2] << 16 | (unsigned long)at[3] << 24);
        if (offset > 0 && _lseek(fd, offset, SEEK_SET) == offset &&
            _read(fd, nt, sizeof nt) == (int)sizeof nt && memcmp(nt, "PE\0\0", 4) == 0) {
            const unsigned char* c = nt + pe::kNtFileHeader + pe::kCharacteristics;
            library = ((c[0] | c[1] << 8) & 0x2000) != 0; // IMAGE_FILE_DLL
        }
    }
    _close(fd);
    return !library;
}

enum { MAX_REGIONS = 65536 }; // far more than a 2 GB space of 64 KB allocations holds

/* Calls visit(base) for the first region of each image the process maps
   (where its header lies), in address order, until visit returns false. */
template <class Visit>
static void EachImageBase(HANDLE process, const ImageReaders& readers, Visit visit) {
    uintptr_t at = 0;
    for (int i = 0; readers.virtualQuery && i < MAX_REGIONS; i++) {
        MEMORY_BASIC_INFORMATION info;
        if (readers.virtualQuery(process, (LPCVOID)at, &info, sizeof info) != sizeof info ||
            info.RegionSize == 0)
            break;
        if (info.Type == MEM_IMAGE && info.BaseAddress == info.AllocationBase &&
            !visit(info.BaseAddress))
            break;
        const uintptr_t next = (uintptr_t)info.BaseAddress + info.RegionSize;
        if (next <= at) break;
        at = next;
    }
}

/* Calls visit(path) for each program file mapped as an image in the
   process, in address order, by the kernel's name of the file now (in the
   drive form, at most 259 characters), until visit returns false. How
   many were visited. */
template <class Visit>
static int EachMappedProgram(HANDLE process, const ImageReaders& readers, char* reported,
                             Visit visit) {
    if (!readers.mappedName || !readers.dosDevice) return 0;
    char* device = reported + REPORTED_SIZE / 2;
    char path[MODULE_NAME_SIZE];
    int visited = 0;
    EachImageBase(process, readers, [&](LPVOID base) {
        memset(reported, 0, REPORTED_SIZE);
        const DWORD n = readers.mappedName(process, base, device, REPORTED_SIZE / 2 - 1);
        if (n > 0 && n < REPORTED_SIZE / 2 - 1 &&
            DriveFormOf(device, readers.dosDevice, reported, REPORTED_SIZE / 2) &&
            (DropDataType(reported), FitPath(reported, path)) &&
            ReadsAsProgram(OpenDescriptorForReading(path))) {
            visited++;
            return visit(path);
        }
        return true;
    });
    return visited;
}

enum { WIDE_NAME = 32768 }; // the longest name a "\\?\" path has, with its terminator

/* The drive letter (*drive, 0 where none) of this session whose volume
   device, followed by a backslash, begins the Unicode device path `device`
   of `n` characters; the device's length. */
static size_t WideDriveOf(const WCHAR* device, DWORD n, QueryDosDeviceAFn dosDevice, char* drive) {
    char letter[3] = "A:", target[MAX_PATH];
    *drive = 0;
    for (; n > 0 && letter[0] <= 'Z'; letter[0]++) {
        memset(target, 0, sizeof target);
        if (!dosDevice(letter, target, sizeof target - 1)) continue;
        // "\Device\HarddiskVolume1\..." on this letter's volume.
        size_t k = 0, t = strlen(target);
        while (k < t && k < n && device[k] < 0x80 &&
               toupper((unsigned char)device[k]) == toupper((unsigned char)target[k]))
            k++;
        if (t > 2 && k == t && n > t + 1 && device[t] == '\\') {
            *drive = letter[0];
            return t;
        }
    }
    return 0;
}

/* Opens the image `wide` ("\\\\?\\X:\\...") by the kernel's name of it, the real
   one under WoW64 too: on NT without waiting on another program's oplock
   (actions/files.h), else by the door's opener. */
static HANDLE OpenImageWide(const ImageReaders& readers, const WCHAR* wide, FileAccess access) {
    NativeFileNames native;
    bool tried;
    HANDLE file = OpenWideWithoutWaiting(wide, access, FileSharing::Everything, &tried);
    return tried ? file : readers.openWide(wide, access, FileSharing::Everything);
}

/* Calls visit(file, length, drive) for each image the process maps, opened
   with `access` (0: its identity alone, which no sharing refuses) through the "\\?\" form of its
   Unicode name (GetMappedFileNameW: the kernel's name of the file now, on a volume a drive letter
   of this session names), which reaches names of any length; `length` is the drive path's length,
   `drive` the drive path. visit closes the file. */
template <class Visit>
static void EachMappedFileWide(HANDLE process, const ImageReaders& readers, FileAccess access,
                               Visit visit, int* unreached = nullptr) {
    if (!readers.mappedWide || !readers.openWide || !readers.dosDevice) return;
    WCHAR* name = (WCHAR*)calloc(WIDE_NAME + 8, sizeof(WCHAR));
    if (!name) return;
    EachImageBase(process, readers, [&](LPVOID base) {
        WCHAR* device = name + 8; // room for "\\?\X:" in front of the device's end
        const DWORD n = readers.mappedWide(process, base, device, WIDE_NAME - 1);
        char drive = 0;
        const size_t d = n < WIDE_NAME - 1 ? WideDriveOf(device, n, readers.dosDevice, &drive) : 0;
        if (!drive) {
            // Named on a device no letter of this session reaches (a share,
            // another session's letter, a volume with no letter).
            if (unreached && n > 0 && n < WIDE_NAME - 1) ++*unreached;
            return true;
        }
        WCHAR* wide = device + d - 6;
        const WCHAR prefix[6] = {'\\', '\\', '?', '\\', (WCHAR)drive, ':'};
        memcpy(wide, prefix, sizeof prefix);
        HANDLE file = OpenImageWide(readers, wide, access);
        if (file == INVALID_HANDLE_VALUE) return true;
        return visit(file, n - d + 2, (const WCHAR*)(wide + 4));
    });
    free(name);
}

/* The ANSI form of the Unicode drive path `drive`, shortened to 259
   characters for the lines (a best fit where the code page must). */
static void ShownForm(const WCHAR* drive, char* shown) {
    const int room = 2 * WIDE_NAME;
    char* ansi = (char*)calloc(room + 1, 1);
    shown[0] = 0;
    if (!ansi) return;
    if (WideCharToMultiByte(CP_ACP, 0, drive, -1, ansi, room, NULL, NULL) > 0)
        ShortenPath(ansi, shown, MODULE_NAME_SIZE - 1);
    free(ansi);
}

/* A file known by its identity on a drive letter, with its drive path for
   the lines. */
struct KnownFile {
    FileId id;
    char drive;
    char shown[MODULE_NAME_SIZE];
};

/* Whether the process maps an image that opens, by its Unicode name on the
   drive letter `drive`, as the file of identity `id`; *seen: whether any of
   its mappings opened before the answer. */
static bool MapsIdentity(HANDLE process, const ImageReaders& readers, char drive, const FileId& id,
                         bool* seen = nullptr) {
    bool maps = false;
    EachMappedFileWide(process, readers, FileAccess::Identity,
                       [&](HANDLE mapped, size_t, const WCHAR* at) {
                           if (seen) *seen = true;
                           maps = at[0] == drive && IsFile(mapped, id);
                           CloseHandle(mapped);
                           return !maps;
                       });
    return maps;
}

/* What proves a drive path the image of a process for ReachImagePath: the
   file the kernel's Unicode name of its image opens (`known`), else a file
   the process maps as an image (one its mappings' Unicode names open, on
   the candidate's drive letter). */
struct ImageProof final : ImagePathProof {
    HANDLE process;
    const ImageReaders& readers;
    const KnownFile* known;
    ImageProof(HANDLE p, const ImageReaders& r, const KnownFile* k)
        : process(p), readers(r), known(k) {}

    bool IsImage(const char* candidate) const override {
        const char drive = (char)toupper((unsigned char)candidate[0]);
        FileId id;
        if (known)
            return drive == known->drive && IdentityAt(candidate, &id) &&
                   id.volume == known->id.volume && id.indexHigh == known->id.indexHigh &&
                   id.indexLow == known->id.indexLow;
        HANDLE file = OpenFileForReading(candidate);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool read = IdentityOf(file, &id);
        CloseHandle(file);
        return read && MapsIdentity(process, readers, drive, id);
    }
};

/* What the Unicode names of a process's image mappings reach: how many
   program files, and whether one of them has a drive path longer than 259
   characters (that file then). */
struct WideImages {
    int programs;
    int unreached; // images on a device no drive letter of this session names
    bool hasLong;
    KnownFile longImage;
};

static WideImages ReadWideImages(HANDLE process, const ImageReaders& readers) {
    WideImages seen = {};
    EachMappedFileWide(
        process, readers, FileAccess::Reading,
        [&](HANDLE file, size_t length, const WCHAR* drive) {
            FileId id;
            const bool known = IdentityOf(file, &id);
            const int fd = _open_osfhandle((intptr_t)file, _O_RDONLY);
            if (fd < 0) CloseHandle(file);
            if (!ReadsAsProgram(fd) || !known) return true;
            seen.programs++;
            if (length >= MODULE_NAME_SIZE) {
                seen.hasLong = true;
                seen.longImage.id = id;
                seen.longImage.drive = (char)toupper(drive[0]);
                ShownForm(drive, seen.longImage.shown);
            }
            return true;
        },
        &seen.unreached);
    return seen;
}

/* Notes on the record just appended for `path` the identity of the image
   file the process maps, read now, before any pause of a termination: the
   file `path` names, proved by identity a file a mapping's Unicode name
   opens on that drive letter. Only where no mapping opens at all (no
   GetMappedFileNameW, NT 4.0 and 2000) the file `path` names now alone.
   Otherwise nothing is noted, and no termination by file reaches it. */
static void NoteMappedFile(ProcessImage* rec, const char* path, HANDLE process,
                           const ImageReaders& readers) {
    // Its identity alone, which no sharing refuses.
    FileId id;
    if (!IdentityAt(path, &id)) return;
    bool seen = false;
    const bool maps =
        MapsIdentity(process, readers, (char)toupper((unsigned char)path[0]), id, &seen);
    rec->mapped = maps || !seen;
    rec->mappedImage = id;
}

/* The file the kernel's Unicode name of the process's image opens now, by
   the "\\?\" form of its drive path; false where Windows gives no Unicode
   name (2000, NT 4.0) or it names nothing this session reaches. */
static bool NamedIdentity(HANDLE process, const ImageReaders& readers, KnownFile* named) {
    if (!readers.openWide || (!readers.fullNameWide && !readers.deviceNameWide)) return false;
    WCHAR* name = (WCHAR*)calloc(WIDE_NAME + 8, sizeof(WCHAR));
    if (!name) return false;
    WCHAR *at = name + 8, *wide = NULL; // room for "\\?\X:" in front
    named->drive = 0;
    if (readers.fullNameWide) {
        DWORD size = WIDE_NAME - 1;
        if (readers.fullNameWide(process, 0, at, &size) && size > 3 && size < WIDE_NAME - 1 &&
            at[0] < 0x80 && isalpha(at[0]) && at[1] == ':' && at[2] == '\\')
            named->drive = (char)toupper(at[0]), wide = at - 4;
    } else if (readers.dosDevice) {
        const DWORD n = readers.deviceNameWide(process, at, WIDE_NAME - 1);
        const size_t d =
            n < WIDE_NAME - 1 ? WideDriveOf(at, n, readers.dosDevice, &named->drive) : 0;
        if (named->drive) {
            wide = at + d - 6;
            wide[4] = (WCHAR)named->drive;
            wide[5] = ':';
        }
    }
    bool known = false;
    if (wide) {
        const WCHAR prefix[4] = {'\\', '\\', '?', '\\'};
        memcpy(wide, prefix, sizeof prefix);
        HANDLE file = OpenImageWide(readers, wide, FileAccess::Identity);
        if (file != INVALID_HANDLE_VALUE) {
            known = IdentityOf(file, &named->id);
            CloseHandle(file);
            ShownForm(wide + 4, named->shown);
        }
    }
    free(name);
    return known;
}

/* Appends the record of a process whose image is the file `image`, which no
   path of this program reaches: its identity alone. */
static bool AppendKnown(ProcessImage** head, ProcessImage** tail, DWORD pid, HANDLE process,
                        bool canTerminate, const KnownFile& image) {
    if (!Append(head, tail, pid, "", 0, process, canTerminate)) return false;
    (*tail)->longDrive = image.drive;
    (*tail)->longImage = image.id;
    strcpy((*tail)->longShown, image.shown);
    (*tail)->mapped = true;
    (*tail)->mappedImage = image.id;
    return true;
}

/* What the listing reads of a process's image, from which one outcome is
   decided (Decide). */
struct ImageFacts {
    bool namesStream; // the kernel names a file's stream its image: nothing more is read
    bool haveNamed;   // the process names its image (`named`)
    bool confirmed;   // a program file it maps is that file, by its path or its identity
    bool byIdentity;  // confirmed by the file the kernel's Unicode name opens alone
    bool reached;     // the name reaches the file proved its image (ReachImagePath)
    int mapped;       // the program files it maps that a path of this program reaches
    WideImages wide;  // what its mappings' Unicode names reach, where nothing confirmed
};

/* What becomes of a process in the list. */
enum class ImageOutcome {
    Named,      // its image by its name
    KnownName,  // the file the kernel's Unicode name opens, by its identity alone
    LeftOut,    // no record: what runs cannot be proved
    LongImage,  // the one program it maps, by its identity alone: its path is too long
    EachMapped, // every program file it maps, each by the path that reaches it
};

/* Whether the name tells the image, not the mappings: a mapped program is
   that file, or no mapping names another. */
static bool NameTells(const ImageFacts& f) {
    return f.confirmed || (f.mapped == 0 && !f.wide.hasLong);
}

static ImageOutcome Decide(const ImageFacts& f) {
    // A program run from a named stream of a file shares that file's
    // identity, volume and index, by which a termination and the wait for
    // the restart prove what they act on: neither could tell the stream
    // from its file. It is left, and said so.
    if (f.namesStream) return ImageOutcome::LeftOut;
    if (NameTells(f))
        return f.reached      ? ImageOutcome::Named
               : f.byIdentity ? ImageOutcome::KnownName
                              : ImageOutcome::LeftOut;
    // A name the mappings do not confirm is no proof, and neither is a
    // mapping where the process maps more than one program: a file mapped for
    // its resources alone (LoadLibraryEx, LOAD_LIBRARY_AS_IMAGE_RESOURCE) is
    // an image mapping too, and no mapping says which of them runs.
    // Nor where an image lies on a device no letter of this session names:
    // that one may be the program that runs.
    if ((f.wide.programs > f.mapped ? f.wide.programs : f.mapped) + (f.wide.unreached > 0) > 1)
        return ImageOutcome::LeftOut;
    // The one program it maps has a path too long for this program's paths
    // and no short form: the record holds its identity, no path.
    return f.mapped == 0 ? ImageOutcome::LongImage : ImageOutcome::EachMapped;
}

/* Reads what Decide needs of the opened process: its name of its image into
   `named` (made the path that reaches the file where the name tells), the
   file the kernel's Unicode name opens into `byName`; `stream` as for
   AppendProcess. */
static ImageFacts ReadImageFacts(HANDLE process, const ImageReaders& readers, char* reported,
                                 char* stream, char* named, KnownFile* byName) {
    ImageFacts facts = {};
    facts.haveNamed = NamedImage(process, readers, reported, named);
    // A stream is told by the kernel's name of the image; the loader's
    // record (2000, NT 4.0) is the process's own memory, which it may write
    // so to hide behind: there the image is read from its mappings alone, as
    // where no name can be read.
    if (facts.haveNamed && NamesStream(named)) {
        CopyText(stream, MODULE_NAME_SIZE, named);
        if (readers.fullName || readers.deviceName) {
            facts.namesStream = true;
            return facts;
        }
        facts.haveNamed = false;
    }
    facts.mapped = EachMappedProgram(process, readers, reported, [&](const char* file) {
        // A stream shares its file's identity: it confirms no name, not even
        // its own file's (a record the process wrote to name it).
        const bool inStream = NamesStream(file);
        if (inStream) CopyText(stream, MODULE_NAME_SIZE, file); // reached by no path
        facts.confirmed = facts.haveNamed && !inStream && SameFile(named, file);
        return !facts.confirmed;
    });
    // Where the ANSI name cannot tell, the kernel's Unicode name is the
    // image when a file the process maps is the file it opens; of the paths
    // the ANSI name reaches, only one that opens as that file is taken.
    if (!facts.confirmed && NamedIdentity(process, readers, byName))
        facts.byIdentity = MapsIdentity(process, readers, byName->drive, byName->id);
    facts.confirmed = facts.confirmed || facts.byIdentity;
    // Each path as the file it is, or, where the ANSI name cannot tell, as
    // the file the process maps; a path that reaches neither is left out.
    if (!facts.confirmed) facts.wide = ReadWideImages(process, readers);
    const ImageProof proof(process, readers, facts.byIdentity ? byName : nullptr);
    facts.reached =
        facts.haveNamed && NameTells(facts) && ReachImagePath(named, MODULE_NAME_SIZE, &proof);
    return facts;
}

/* Appends a record for each program file the process maps, by the path
   that reaches it; the first keeps the handle. */
static bool AppendEachMapped(ProcessImage** head, ProcessImage** tail, DWORD pid, HANDLE process,
                             bool canTerminate, const ImageReaders& readers, char* reported) {
    const ImageProof proof(process, readers, nullptr);
    bool ok = true, shares = false;
    EachMappedProgram(process, readers, reported, [&](const char* file) {
        char reached[MODULE_NAME_SIZE];
        strcpy(reached, file);
        if (!ReachImagePath(reached, sizeof reached, &proof)) return true;
        ok = Append(head, tail, pid, reached, strlen(reached), process, canTerminate, shares);
        if (ok) NoteMappedFile(*tail, reached, process, readers);
        shares = shares || ok;
        return ok;
    });
    if (!shares && ok) CloseHandle(process); // a failed first record closed it
    return ok;
}

/* Appends the records of process `pid`: its image as it names it where a
   program file it maps is that file (or where none can be read), else every
   program file it maps. The first record keeps the handle; false when a
   record cannot be allocated. `stream` (MODULE_NAME_SIZE bytes) gets a
   name with a stream part the image or a program it maps was read by. */
static bool AppendProcess(ProcessImage** head, ProcessImage** tail, DWORD pid,
                          const ImageReaders& readers, char* reported, char* stream) {
    bool canTerminate = false;
    HANDLE process = OpenListed(pid, readers, &canTerminate);
    if (!process) return true;
    char named[MODULE_NAME_SIZE];
    KnownFile byName;
    const ImageFacts facts = ReadImageFacts(process, readers, reported, stream, named, &byName);
    switch (Decide(facts)) {
    case ImageOutcome::Named:
        if (!Append(head, tail, pid, named, strlen(named), process, canTerminate)) return false;
        NoteMappedFile(*tail, named, process, readers);
        return true;
    case ImageOutcome::KnownName:
        return AppendKnown(head, tail, pid, process, canTerminate, byName);
    case ImageOutcome::LongImage:
        return AppendKnown(head, tail, pid, process, canTerminate, facts.wide.longImage);
    case ImageOutcome::EachMapped:
        return AppendEachMapped(head, tail, pid, process, canTerminate, readers, reported);
    case ImageOutcome::LeftOut:
        break;
    }
    CloseHandle(process);
    return true;
}

/* Appends the records of process `pid` (AppendProcess); one left out that
   runs from a file's stream is said so where `say` (the memory scan's own
   listing, once a run: not the disposal's listings nor the single-instance
   test's). */
static bool AppendOrSay(ProcessImage** head, ProcessImage** tail, DWORD pid,
                        const ImageReaders& readers, char* reported, bool say) {
    char stream[MODULE_NAME_SIZE] = "";
    const ProcessImage* before = *tail;
    if (!AppendProcess(head, tail, pid, readers, reported, stream)) return false;
    if (say && stream[0] && *tail == before)
        PostLogLine("%s     Unable to check: it runs from a file's stream", stream);
    return true;
}

/* The readers as psapi.dll (`psapi`) and kernel32 give them. */
static ImageReaders ResolveReaders(HMODULE psapi, bool enableDebugOnDenied) {
    ImageReaders readers = {
        Resolve<QueryFullProcessImageNameAFn>("Kernel32.dll",
                                              Resolvable::QueryFullProcessImageNameA),
        Resolve<GetProcessImageFileNameAFn>(psapi, Resolvable::GetProcessImageFileNameA),
        Resolve<QueryDosDeviceAFn>("Kernel32.dll", Resolvable::QueryDosDeviceA),
        Resolve<GetModuleFileNameExAFn>(psapi, Resolvable::GetModuleFileNameExA),
        Resolve<VirtualQueryExFn>("Kernel32.dll", Resolvable::VirtualQueryEx),
        Resolve<GetMappedFileNameAFn>(psapi, Resolvable::GetMappedFileNameA),
        Resolve<GetMappedFileNameWFn>(psapi, Resolvable::GetMappedFileNameW),
        FindWideOpener(),
        Resolve<QueryFullProcessImageNameWFn>("Kernel32.dll",
                                              Resolvable::QueryFullProcessImageNameW),
        Resolve<GetProcessImageFileNameWFn>(psapi, Resolvable::GetProcessImageFileNameW),
        enableDebugOnDenied,
    };
    if (!readers.dosDevice) readers.deviceName = NULL;
    return readers;
}

ProcessImage* ListProcessesPsapi(bool enableDebugOnDenied, bool* listed) {
    *listed = false;
    HMODULE psapi = LoadSystemLibrary("psapi.dll"); // stays loaded
    if (!psapi) return NULL;
    EnumProcessesFn enumProcesses = Resolve<EnumProcessesFn>(psapi, Resolvable::EnumProcesses);
    if (!enumProcesses) return NULL;
    const ImageReaders readers = ResolveReaders(psapi, enableDebugOnDenied);
    if (!readers.fullName && !readers.deviceName && !readers.moduleFileName) return NULL;
    DWORD* ids = (DWORD*)calloc(PID_ARRAY_ENTRIES, sizeof(DWORD));
    char* reported = (char*)malloc(REPORTED_SIZE);
    DWORD bytes = 0;
    if (!ids || !reported || !enumProcesses(ids, PID_ARRAY_ENTRIES * sizeof(DWORD), &bytes))
        bytes = 0;
    DWORD count = bytes / sizeof(DWORD);
    if (count > PID_ARRAY_ENTRIES) count = PID_ARRAY_ENTRIES; // never past the array
    ProcessImage *head = NULL, *tail = NULL;
    for (DWORD i = 0; i < count; i++) {
        if (!AppendOrSay(&head, &tail, ids[i], readers, reported, enableDebugOnDenied)) {
            FreeProcessList(head);
            head = NULL;
            count = 0;
            break;
        }
    }
    free(ids);
    free(reported);
    *listed = count > 0;
    return head;
}

ProcessImage* ListProcessPsapi(uint32_t processId) {
    HMODULE psapi = LoadSystemLibrary("psapi.dll"); // stays loaded
    if (!psapi) return NULL;
    const ImageReaders readers = ResolveReaders(psapi, false);
    if (!readers.fullName && !readers.deviceName && !readers.moduleFileName) return NULL;
    char* reported = (char*)malloc(REPORTED_SIZE);
    ProcessImage *head = NULL, *tail = NULL;
    if (reported && !AppendOrSay(&head, &tail, processId, readers, reported, false)) {
        FreeProcessList(head);
        head = NULL;
    }
    free(reported);
    return head;
}

struct Toolhelp {
    CreateToolhelp32SnapshotFn createSnapshot;
    Process32Fn first, next;
};

/* th32ProcessID and szExeFile of every entry of a new snapshot, no handle
   kept; null when the snapshot, its first entry or a record fails. */
static ProcessImage* ReadSnapshot(const Toolhelp& help, PROCESSENTRY32* entry) {
    ProcessImage *head = NULL, *tail = NULL;
    HANDLE snapshot = help.createSnapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return NULL;
    if (help.first(snapshot, entry)) {
        do {
            // szExeFile comes from the system; never read past its 260 bytes.
            size_t length = 0;
            while (length < sizeof entry->szExeFile && entry->szExeFile[length])
                length++;
            if (!Append(&head, &tail, entry->th32ProcessID, entry->szExeFile, length, NULL,
                        false)) {
                FreeProcessList(head);
                head = NULL;
                break;
            }
        } while (help.next(snapshot, entry));
    }
    CloseHandle(snapshot);
    return head;
}

/* The tool-help list: th32ProcessID and szExeFile of every snapshot entry,
   each process opened at once (Windows 9x checks no rights). Null (and
   nothing listed) when any of the three functions is missing or the
   snapshot or its first entry fails: a list that stops after its first
   entry would be checked as if it were the whole. */
ProcessImage* ListProcessesToolhelp() {
    HMODULE kernel = LoadSystemLibrary("Kernel32.dll"); // stays loaded
    if (!kernel) return NULL;
    Toolhelp help = {
        Resolve<CreateToolhelp32SnapshotFn>(kernel, Resolvable::CreateToolhelp32Snapshot),
        Resolve<Process32Fn>(kernel, Resolvable::Process32First),
        Resolve<Process32Fn>(kernel, Resolvable::Process32Next),
    };
    if (!help.createSnapshot || !help.first || !help.next) return NULL;
    PROCESSENTRY32* entry = (PROCESSENTRY32*)calloc(1, sizeof(PROCESSENTRY32));
    if (!entry) return NULL;
    entry->dwSize = sizeof(PROCESSENTRY32);
    ProcessImage* list = ReadSnapshot(help, entry);
    for (ProcessImage* rec = list; rec; rec = rec->next) {
        rec->listed = ProcessLister::Listed(OpenProcess(kTerminateRights, FALSE, rec->processId),
                                            rec->processId, true);
    }
    // An identifier may have gone to another process before its open; none
    // is given away while a handle is open. A second snapshot that lists the
    // identifier with the same image proves that the handle reaches the
    // process listed; any other handle is given up.
    ProcessImage* again = list ? ReadSnapshot(help, entry) : NULL;
    for (ProcessImage* rec = list; rec; rec = rec->next) {
        const ProcessImage* now = again;
        while (now && now->processId != rec->processId)
            now = now->next;
        if (rec->listed.Handle() && (!now || strcmp(now->imagePath, rec->imagePath) != 0)) {
            CloseHandle(rec->listed.Handle());
            rec->listed = ProcessLister::Listed(NULL, rec->processId, false);
        }
    }
    FreeProcessList(again);
    free(entry);
    return list;
}

/* ---- the per-process check ---- */

/* Walks the image once more so that the file check disposes of it; an image
   known by identity alone goes through the handle its check kept. */
static void Recheck(const ProcessImage* rec) {
    g_scan.pendingMemoryAction = g_scan.action;
    if (rec->longDrive)
        CheckFile(FileCheckList[0].name, rec->longShown);
    else
        WalkDirectory(rec->imagePath);
    g_scan.pendingMemoryAction = 0;
}

/* Checks the image of a record known by identity alone (no path of this
   program reaches it) through a handle to it: the file a mapping's Unicode
   name opens on its drive letter, proved to be that identity, for deleting
   where it opens so, and shown by that name now (renamed since the listing,
   its old name may be another file's). Sets fileMatched on a variant. */
static void CheckHeldImage(ProcessImage* rec) {
    g_scan.fileMatched = false;
    HMODULE psapi = LoadSystemLibrary("psapi.dll"); // loaded by the listing already
    if (!psapi) return;
    const ImageReaders readers = ResolveReaders(psapi, false);
    HANDLE image = INVALID_HANDLE_VALUE;
    bool deletable = true;
    // For deleting as the check's own open asks (a second look where the
    // image moved on under the first), else for reading alone; last for its
    // identity alone, which no sharing refuses: the image is there, and
    // cannot be read.
    const FileAccess tries[] = {FileAccess::Checking, FileAccess::Checking, FileAccess::Reading,
                                FileAccess::Identity};
    FileAccess access = FileAccess::Identity;
    for (FileAccess each : tries) {
        access = each;
        deletable = access != FileAccess::Reading;
        EachMappedFileWide(rec->listed.Handle(), readers, access,
                           [&](HANDLE file, size_t, const WCHAR* drive) {
                               if (drive[0] == rec->longDrive && IsFile(file, rec->longImage)) {
                                   ShownForm(drive, rec->longShown);
                                   image = file;
                                   return false;
                               }
                               CloseHandle(file);
                               return true;
                           });
        if (image != INVALID_HANDLE_VALUE) break;
    }
    // No mapping opens as the image listed (it moves at each look): nothing
    // was checked, nothing is said of a file that may be another's.
    if (image == INVALID_HANDLE_VALUE) return;
    ShowStatus(rec->longShown);
    if (access == FileAccess::Identity) {
        // Its security shuts this program out, or its program holds it
        // without sharing: not passed over in silence, as the walk does.
        CloseHandle(image);
        PostLogLine("%s     Unable to check", rec->longShown);
        return;
    }
    CheckHeldFile(rec->longShown, image, deletable);
}

/* The service a variant may run as: the image's file name without its last
   extension ("C:\WINNT\system32\abc.exe" -> "abc", "my.app.exe" -> "my.app"). */
static void ServiceNameOf(const char* imagePath, char* name, size_t size) {
    const char* slash = strrchr(imagePath, '\\');
    CopyText(name, size, slash ? slash + 1 : imagePath);
    char* dot = strrchr(name, '.');
    if (dot) *dot = 0;
}

static void HandleVariant9x(const ProcessImage* rec) {
    TerminateListed(rec->listed); // a failure shows in the re-check
    Recheck(rec);
}

static void HandleVariantNt(const ProcessImage* rec) {
    const bool firstEnded = TerminateListed(rec->listed);
    // A second attempt, also after a successful first one: it fails for a
    // process that has already ended, and that failure leads to the service.
    if (TerminateListed(rec->listed)) {
        Recheck(rec);
        return;
    }
    const int32_t generation = GetNtGeneration();
    if (generation == NTGEN_4 || generation == NTGEN_5) {
        char service[SERVICE_NAME_SIZE];
        ServiceNameOf(rec->imagePath, service, sizeof service);
        // Only the variant's own service: one registered for the file the
        // process was proved to map at listing (CheckProcess comes here only
        // with that identity, on a volume where it lasts), never for what its
        // path names now: with the process ended, its user may put a link to
        // another service's program there. A service of that name that runs
        // another program counts as none, and an image known by identity
        // alone has no name a service goes by.
        const bool named = rec->imagePath[0] != 0;
        const FileId& image = rec->mappedImage;
        const char drive = rec->longDrive ? rec->longDrive : rec->imagePath[0];
        const ServiceStop stop = named ? StopServiceOfImage(service, drive, image, rec->processId)
                                       : ServiceStop::NotStopped;
        if (stop == ServiceStop::Stopped) {
            DeleteServiceKeysOfImage(service, drive, image);
            Recheck(rec);
            return;
        }
        // A service another process runs is that process's: its keys stay.
        if (named && stop != ServiceStop::OtherProcess)
            DeleteServiceKeysOfImage(service, drive, image);
        g_scan.memoryRestartNeeded = 1;
    }
    if (firstEnded) Recheck(rec);
}

/* Checks one record; true when its image is a variant. */
static bool CheckProcess(ProcessImage* rec, bool nt) {
    if (rec->longDrive) {
        CheckHeldImage(rec);
    } else {
        int readable = -1;
        const FileName name(rec->imagePath);
        if (name.get()) {
            NativeFileNames native;
            readable = _access(name.get(), 4);
        }
        if (readable == -1) return false; // unreadable: counts as clean
        WalkDirectory(rec->imagePath);
    }
    if (!g_scan.fileMatched) return false;
    // Only the image the process mapped when it was listed: by now a folder
    // of its path may lead to another file, a variant its user put there. On
    // FAT an identity proves nothing: the running image moved aside, a new
    // file in its folder entry takes its index.
    const char drive = rec->longDrive ? rec->longDrive : rec->imagePath[0];
    if (nt && !(rec->mapped && IdentityLasts(drive) && MatchedImageIs(rec->mappedImage))) {
        // A variant running from FAT is ended by nothing (no record proves
        // which process runs it) and its file, held, waits for no restart
        // (no folder there keeps it). Its autostart values are gone by now:
        // the run ends with the restart offered, after which it no longer
        // starts, and the next run removes it.
        if (rec->mapped && !IdentityLasts(drive) && g_scan.action != ACTION_REPORT_ONLY)
            g_scan.restartNeeded = g_scan.restartOtherwise = TRUE;
        ReleaseMatchedImage();
        return false;
    }
    switch (g_scan.action) {
    case ACTION_DELETE:
    case ACTION_RENAME:
    case ACTION_DELETE_TOO:
        if (nt)
            HandleVariantNt(rec);
        else
            HandleVariant9x(rec);
        break;
    default: // report only: the process keeps running, its file untouched
        break;
    }
    ReleaseMatchedImage();
    return true;
}

static int32_t CheckAll(ProcessImage* list, bool nt) {
    int32_t found = 0;
    for (ProcessImage* rec = list; rec; rec = rec->next) {
        // The psapi list is reached already; a tool-help name that reaches
        // no one file (by its 8.3 names where it must) is checked as none.
        if (!nt && !ReachImagePath(rec->imagePath, sizeof rec->imagePath)) continue;
        if (CheckProcess(rec, nt)) found = 1;
    }
    FreeProcessList(list);
    return found;
}

int32_t ScanProcessesToolhelp() { return CheckAll(ListProcessesToolhelp(), false); }

int32_t ScanProcessesPsapi() {
    bool listed;
    return CheckAll(ListProcessesPsapi(true, &listed), true);
}
