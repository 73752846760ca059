/*
** The room's file actions (see files.h).
**
** Deleting an in-use file at the next restart: on the NT family through
** MoveFileExA, on the 9x family through a "NUL=file" line in the [rename]
** section of wininit.ini, which Windows processes before it starts.
**
** The swap's own files are named cphxini.new and cphxini.old: wininit.old
** and wininit.new belong to other programs and users, and are left alone.
**
** wininit.ini may already hold other programs' pending work, so it is never
** rewritten in place: the new content is written completely to cphxini.new
** beside it and only then takes its place. 9x has no call that replaces a
** file in one step, so the live file first steps aside as cphxini.old, the
** new one takes its name, and only then is cphxini.old deleted; should the
** new one fail to take its place, the old one comes back (by rename, else by
** copy). So under any one or two failed operations wininit.ini ends up with
** its old content or the complete new content, and the old content is never
** gone: a request interrupted between the two renames finds it under
** cphxini.old, beside cphxini.new, and puts it back first, unless Windows
** has carried that content out since (wininit.bak holds it). A cphxini.old
** in any other company is deleted: its content was replaced, and may have
** run.
** A copy of the previous content also stays in the temporary folder, unless
** that folder is the Windows folder.
*/
#include "actions/files.h"
#include "platform/wow64.h"
#include "platform/platform.h"
#include "engine/file_identity.h"
#include "platform/join_path.h"
#include "platform/resolve.h"
#include "platform/win32.h"

#ifndef WINAPI
#define WINAPI
#endif

namespace {

/* The information classes, as SetFileInformationByHandle (FileBasicInfo,
   FileDispositionInfo) and NtSetInformationFile (FileBasicInformation,
   FileDispositionInformation) number them, and their records, which both
   lay out alike. */
enum { kBasicByHandle = 0, kDispositionByHandle = 4, kBasicNt = 4, kDispositionNt = 13 };

struct BasicInfo {
    LONGLONG creation, lastAccess, lastWrite, change; // 0: unchanged
    DWORD attributes;
};
static_assert(sizeof(BasicInfo) == 40, "FILE_BASIC_INFO");

struct DispositionInfo {
    BYTE deleteFile;
};

struct IoStatusBlock {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};

typedef BOOL(WINAPI* SetByHandleFn)(HANDLE, int, LPVOID, DWORD);
typedef LONG(WINAPI* NtSetInformationFileFn)(HANDLE, IoStatusBlock*, LPVOID, ULONG, int);

bool SetInformation(HANDLE file, bool disposition, void* info, DWORD size) {
    if (auto set = Resolve<SetByHandleFn>("kernel32.dll", "SetFileInformationByHandle"))
        return set(file, disposition ? kDispositionByHandle : kBasicByHandle, info, size) != 0;
    if (auto set = Resolve<NtSetInformationFileFn>("ntdll.dll", "NtSetInformationFile")) {
        IoStatusBlock status = {};
        return set(file, &status, info, size, disposition ? kDispositionNt : kBasicNt) == 0;
    }
    return false;
}

} // namespace

bool ClearAttributesOf(HANDLE file) {
    BasicInfo info = {};
    info.attributes = FILE_ATTRIBUTE_ARCHIVE;
    return SetInformation(file, false, &info, sizeof info);
}

bool MarkForDeletion(HANDLE file) {
    DispositionInfo info = {1};
    return SetInformation(file, true, &info, sizeof info);
}

bool MoveCheckedFile(const char* path, const char* newPath, const FileId& id) {
    if (!PathNamesFile(path, id)) return false;
    NativeFileNames native;
    // A handle kept on the file, for its attributes alone (it gets in no
    // move's way), tells where the file went: on FAT its index comes from
    // its folder and its entry there, so it is asked again after the move.
    HANDLE held = CreateFileA(path, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE) return false;
    FileId now;
    bool moved = IsFile(held, id) && MoveFileExA(path, newPath, 0);
    if (moved && !(IdentityOf(held, &now) && PathNamesFile(newPath, now))) {
        MoveFileExA(newPath, path, 0);
        moved = false;
    }
    CloseHandle(held);
    return moved;
}

bool ClearAttributesByPath(const char* path) {
    NativeFileNames native;
    return SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE) != 0;
}

PathDelete DeleteByPath(const char* path) {
    NativeFileNames native;
    if (!DeleteFileA(path)) return PathDelete::Refused;
    return NameIsGone(path) ? PathDelete::Done : PathDelete::Marked;
}

bool RenameByPath(const char* path, const char* renamed) {
    NativeFileNames native;
    return MoveFileA(path, renamed) != 0;
}

bool DeleteLegacyByPath(const char* path) { return DeleteFileA(path) && NameIsGone(path); }

/* ---- the delete at restart ---- */

/* Buffer sizes: the Windows folder, the temporary folder, and one piece of a
   line (fgets reads at most 647 characters into it). */
static const UINT kWinDirSize = 350;
static const DWORD kTempDirSize = MAX_PATH;
static const int kPieceSize = 648;

static const char kSection[] = "[rename]";
/* The DOS end-of-text mark: a text reader stops at it. */
static const char kEndOfText = 0x1A;

static bool WriteAll(int fd, const char* text, size_t length) {
    return _write(fd, text, (unsigned int)length) == (int)length;
}

static bool WriteText(int fd, const char* text) { return WriteAll(fd, text, strlen(text)); }

static bool WriteEntry(int fd, const char* destination, const char* source) {
    return WriteText(fd, destination) && WriteText(fd, "=") && WriteText(fd, source) &&
           WriteText(fd, "\r\n");
}

/* The file `name` in `folder` into `out` (size bytes), with a backslash
   between them unless the folder ends with one. False when it does not fit. */
static bool FileInFolder(char* out, size_t size, const char* folder, const char* name) {
    const size_t n = strlen(folder);
    return JoinPath(out, size, folder, n == 0 || folder[n - 1] != '\\' ? "\\" : "", name);
}

/* Whether two folder paths name the same folder: compared in their short
   forms when the system gives them, without regard to case or a final
   backslash ("C:\WINDOWS" and "c:\windows\" are the same). */
static bool SameFolder(const char* a, const char* b) {
    char shortA[MAX_PATH], shortB[MAX_PATH];
    DWORD na = GetShortPathNameA(a, shortA, sizeof shortA);
    DWORD nb = GetShortPathNameA(b, shortB, sizeof shortB);
    const char* x = na > 0 && na < sizeof shortA ? shortA : a;
    const char* y = nb > 0 && nb < sizeof shortB ? shortB : b;
    size_t lx = strlen(x), ly = strlen(y);
    while (lx > 0 && x[lx - 1] == '\\')
        lx--;
    while (ly > 0 && y[ly - 1] == '\\')
        ly--;
    return lx == ly && _strnicmp(x, y, lx) == 0;
}

/* Whether two files hold the same bytes; false when either cannot be read. */
static bool SameContent(const char* a, const char* b) {
    const int fa = _open(a, _O_RDONLY | _O_BINARY), fb = _open(b, _O_RDONLY | _O_BINARY);
    bool same = fa != -1 && fb != -1;
    char x[512], y[512];
    while (same) {
        const int na = _read(fa, x, sizeof x), nb = _read(fb, y, sizeof y);
        same = na == nb && na >= 0 && memcmp(x, y, (size_t)na) == 0;
        if (na <= 0) break;
    }
    if (fa != -1) _close(fa);
    if (fb != -1) _close(fb);
    return same;
}

/* The state of one merge. */
struct MergeState {
    bool inRename = false;     // the last header read was [rename]
    bool entryWritten = false; // the entry stands in the new content
    bool atLineStart = true;   // the text written so far ends a line
};

/* Puts the entry at the end of the text when it is not in yet: on a line of
   its own, under a new [rename] header when there was no such section. */
static bool FinishEntry(int out, MergeState* m, const char* destination, const char* source) {
    if (m->entryWritten) return true;
    if (!m->atLineStart && !WriteText(out, "\r\n")) return false;
    if (!m->inRename && !(WriteText(out, kSection) && WriteText(out, "\r\n"))) return false;
    m->entryWritten = true;
    return WriteEntry(out, destination, source);
}

/* Copies the old content from `in` to descriptor `out`, inserting the entry
   at the end of the [rename] section (before the next section header), or
   appending the section and the entry when there is none.
   Only a piece that starts a line is looked at: the rest of a line longer
   than one piece is copied as it is, so such a line is written back whole.
   The text ends at the first end-of-text mark: the entry goes before it,
   and the mark and whatever follows it are copied unchanged after it. */
static bool Merge(FILE* in, int out, const char* destination, const char* source) {
    MergeState m;
    bool ended = false; // the end-of-text mark has been met
    char piece[kPieceSize];
    for (;;) {
        // fgets does not say how much it read, and a stray NUL byte would cut
        // strlen short: fill the buffer with non-zero bytes first, so that
        // the last NUL in it is the terminator fgets wrote.
        memset(piece, 0xFF, sizeof piece);
        if (!fgets(piece, kPieceSize, in)) break;
        size_t length = kPieceSize - 1;
        while (length > 0 && piece[length] != '\0')
            length--;
        if (length == 0) continue;

        size_t text = length; // the part of the piece before the mark
        if (ended) {
            text = 0;
        } else if (const void* mark = memchr(piece, kEndOfText, length)) {
            text = (size_t)((const char*)mark - piece);
        }
        if (text > 0) {
            if (!m.entryWritten && m.atLineStart) {
                if (m.inRename && piece[0] == '[') {
                    if (!WriteEntry(out, destination, source)) return false;
                    m.entryWritten = true;
                } else if (!m.inRename && text >= 8 && _strnicmp(piece, kSection, 8) == 0) {
                    m.inRename = true;
                }
            }
            if (!WriteAll(out, piece, text)) return false;
            m.atLineStart = piece[text - 1] == '\n';
        }
        if (text < length) {
            if (!ended && !FinishEntry(out, &m, destination, source)) return false;
            ended = true;
            if (!WriteAll(out, piece + text, length - text)) return false;
        }
    }
    if (ferror(in)) return false; // the old content was not read completely
    return FinishEntry(out, &m, destination, source);
}

bool AddWininitRename(const char* destination, const char* source) {
    if (!destination || !source || !destination[0] || !source[0]) return false;
    // The entry must stay one line, and the text must not end before it.
    if (strpbrk(destination, "\r\n\x1A") || strpbrk(source, "\r\n\x1A")) return false;

    char winDir[kWinDirSize];
    UINT n = GetWindowsDirectoryA(winDir, kWinDirSize);
    if (n == 0 || n >= kWinDirSize) return false;
    char iniPath[kWinDirSize + 16], newPath[kWinDirSize + 16], oldPath[kWinDirSize + 16],
        bakPath[kWinDirSize + 16];
    if (!FileInFolder(iniPath, sizeof iniPath, winDir, "wininit.ini") ||
        !FileInFolder(newPath, sizeof newPath, winDir, "cphxini.new") ||
        !FileInFolder(oldPath, sizeof oldPath, winDir, "cphxini.old") ||
        !FileInFolder(bakPath, sizeof bakPath, winDir, "wininit.bak"))
        return false;

    // Leftovers of an earlier request. Only "no wininit.ini, but cphxini.old
    // and cphxini.new" is a swap stopped between its two renames: the old
    // content waits under cphxini.old and comes back, before the stale
    // cphxini.new goes. Any other cphxini.old is content that a later one
    // has replaced, and Windows may have carried that out at a restart since
    // (it renames wininit.ini to wininit.bak then): were it brought back, its
    // lines would run again. It is deleted, never restored. So is the
    // cphxini.old of a swap whose old content came back as a copy, and ran
    // at a restart before cphxini.new was gone: wininit.bak holds it then.
    // (An old content written again, byte for byte, after the same content
    // ran once is taken for such a one too, and is not carried out again.)
    bool exists = _access(iniPath, 0) == 0;
    const bool hasNew = _access(newPath, 0) == 0;
    bool hasOld = _access(oldPath, 0) == 0;
    // A swap stopped between its renames, after which another program wrote
    // a wininit.ini of its own: both contents wait to run, and neither is
    // thrown away. Nothing more is written until the two are put together.
    // (A wininit.ini that is a copy of the old content is the way back of a
    // swap: see below.)
    if (exists && hasOld && hasNew && !SameContent(iniPath, oldPath)) return false;
    if (!exists && hasOld && hasNew && !SameContent(oldPath, bakPath)) {
        if (!MoveFileA(oldPath, iniPath)) return false;
        exists = true;
        hasOld = false;
    }
    if (hasNew && !DeleteFileA(newPath)) return false;
    if (hasOld && !DeleteFileA(oldPath)) return false;

    FILE* in = NULL;
    if (exists) {
        // A read-only wininit.ini is left as its owner marked it (it could be
        // renamed, but not written or deleted).
        DWORD attributes = GetFileAttributesA(iniPath);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY))
            return false;
        char tempDir[kTempDirSize];
        DWORD t = GetTempPathA(kTempDirSize, tempDir);
        if (t == 0 || t >= kTempDirSize) return false;
        // When the temporary folder is the Windows folder (TMP or TEMP naming
        // it, or on 9x neither set while it is the current folder), the copy
        // would be the live file itself: there is none then.
        if (!SameFolder(tempDir, winDir)) {
            char copyPath[kTempDirSize];
            if (!FileInFolder(copyPath, sizeof copyPath, tempDir, "wininit.ini")) return false;
            if (!CopyFileA(iniPath, copyPath, FALSE)) return false;
        }
        // The live file is read: it stays untouched until the new one is
        // complete. Binary reading: the pieces go back byte for byte.
        in = fopen(iniPath, "rb");
        if (!in) return false;
    }

    int out = _open(newPath, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (out == -1) {
        if (in) fclose(in);
        return false;
    }
    bool written = in ? Merge(in, out, destination, source)
                      : WriteText(out, kSection) && WriteText(out, "\r\n") &&
                            WriteEntry(out, destination, source);
    if (in) fclose(in);
    if (_close(out) != 0) written = false;
    if (!written) {
        DeleteFileA(newPath);
        return false;
    }

    if (!exists) {
        if (MoveFileA(newPath, iniPath)) return true;
        DeleteFileA(newPath);
        return false;
    }
    if (!MoveFileA(iniPath, oldPath)) {
        DeleteFileA(newPath);
        return false;
    }
    if (MoveFileA(newPath, iniPath)) {
        DeleteFileA(oldPath); // should this fail, the next request deletes it
        return true;
    }
    // The old content comes back. Should both ways fail, it stays under
    // cphxini.old beside cphxini.new, where the next request finds it. Once
    // a copy stands in place, cphxini.new goes first: cphxini.old beside a
    // wininit.ini is never taken for an interrupted swap.
    if (MoveFileA(oldPath, iniPath)) {
        DeleteFileA(newPath);
    } else if (CopyFileA(oldPath, iniPath, TRUE)) {
        DeleteFileA(newPath);
        DeleteFileA(oldPath);
    }
    return false;
}

/* ---- NT 2000 and later: the file waits in a folder of its own ---- */

/* Who may write the folder: SYSTEM and the Administrators, with full
   control, inherited by what it holds; nothing inherited from above. */
static const char kWaitingFolderSecurity[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
/* A name taken in advance (or the instant before) makes the next one be
   tried, a few times, each with a fresh random part. */
static const unsigned kWaitingFolderTries = 4;

typedef BOOL(WINAPI* StringToDescriptorFn)(LPCSTR, DWORD, void**, ULONG*);
/* Who owns the file that waits, and who may change it: the Administrators,
   and the system; nothing inherited from the folder it came from. */
static const char kWaitingFileSecurity[] = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

typedef BOOL(WINAPI* SetKernelObjectSecurityFn)(HANDLE, DWORD, void*);
typedef long(WINAPI* UuidCreateFn)(void*);

/* The folder that holds the waiting folders of the drive of `path` into
   `out`: the Windows folder, when it is on that drive and that volume keeps
   and enforces security (FILE_PERSISTENT_ACLS). Only administrators
   and the system may rename, delete or replace the Windows folder or any
   folder of its path, and the system holds files in it open from start to
   shutdown; no other place of a volume is known to be so (the root of a
   drive grants Everyone full control on 2000, so any user could rename a
   folder there aside and put a junction in its place). False elsewhere. */
static bool WaitingPlace(const char* path, char* out, UINT size) {
    UINT n = GetWindowsDirectoryA(out, size);
    if (n <= 2 || n >= size || out[1] != ':' || path[1] != ':' ||
        toupper((unsigned char)out[0]) != toupper((unsigned char)path[0]))
        return false;
    // A volume that keeps no security (FAT) guards no folder of it.
    const char root[] = {out[0], ':', '\\', 0};
    DWORD flags = 0;
    return GetVolumeInformationA(root, NULL, 0, NULL, NULL, &flags, NULL, 0) &&
           (flags & FILE_PERSISTENT_ACLS);
}

/* `place` and "\CleanPhantaxis-restart-" and 32 hex digits of a random UUID
   (since 2000, UuidCreate draws every UUID from the system's random source),
   so no one can make the folder in advance; false without one. */
static bool WaitingFolderName(char* out, size_t size, const char* place) {
    auto create = Resolve<UuidCreateFn>("rpcrt4.dll", "UuidCreate");
    unsigned char uuid[16];
    if (!create || create(uuid) != 0) return false; // RPC_S_OK only
    char name[64];
    int n = snprintf(name, sizeof name, "CleanPhantaxis-restart-");
    for (unsigned char byte : uuid)
        n += snprintf(name + n, sizeof name - (size_t)n, "%02x", byte);
    return FileInFolder(out, size, place, name);
}

/* Makes the file `checked` at `path` the Administrators' own, with the
   security above, through a handle that is proved to be that file: its
   owner can then no longer move it out of the waiting folder. */
static bool TakeOver(const char* path, const FileId& checked) {
    auto set = Resolve<SetKernelObjectSecurityFn>("advapi32.dll", "SetKernelObjectSecurity");
    auto toDescriptor = Resolve<StringToDescriptorFn>(
        "advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    void* descriptor = nullptr;
    if (!set || !toDescriptor || !toDescriptor(kWaitingFileSecurity, 1, &descriptor, NULL))
        return false;
    HANDLE file = CreateFileA(path, WRITE_OWNER | WRITE_DAC | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    bool done = false;
    if (file != INVALID_HANDLE_VALUE) {
        done = IsFile(file, checked) &&
               set(file, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor);
        CloseHandle(file);
    }
    LocalFree(descriptor);
    return done;
}

/* Creates a folder of a random name (see WaitingFolderName) in the waiting
   place of the drive of `path` with the security above (CreateDirectoryA
   fails for a name that exists: a folder someone else made is never used),
   takes the file over and moves it into that folder, only while `path`
   names the file `checked` (see MoveCheckedFile). `moved` gets the file's
   new path. */
static bool MoveToWaitingFolder(const char* path, const FileId* checked, char* moved, size_t size) {
    const char* slash = strrchr(path, '\\');
    char place[kWinDirSize];
    if (!slash || !WaitingPlace(path, place, sizeof place)) return false;
    auto toDescriptor = Resolve<StringToDescriptorFn>(
        "advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    void* descriptor = nullptr;
    if (!toDescriptor || !toDescriptor(kWaitingFolderSecurity, 1, &descriptor, NULL)) return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    bool done = false;
    char folder[MAX_PATH];
    for (unsigned n = 1; n <= kWaitingFolderTries && !done; n++) {
        if (!WaitingFolderName(folder, sizeof folder, place)) break;
        if (!CreateDirectoryA(folder, &security)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
            break;
        }
        done = FileInFolder(moved, size, folder, slash + 1) && TakeOver(path, *checked) &&
               MoveCheckedFile(path, moved, *checked);
        if (!done) {
            RemoveDirectoryA(folder);
            break;
        }
    }
    LocalFree(descriptor);
    return done;
}

bool HasWaitingPlace(const char* path) {
    if (!path || GetPlatform() != PLATFORM_NT || GetNtGeneration() == NTGEN_4) return true;
    char place[kWinDirSize];
    return WaitingPlace(path, place, sizeof place);
}

bool ScheduleDeleteOnRestart(const char* path, const FileId* checked, bool* escapable) {
    if (escapable) *escapable = false;
    if (!path || !path[0]) return false;
    switch (GetPlatform()) {
    case PLATFORM_WIN9X: {
        // Windows 9x processes wininit.ini before long names are available,
        // so the entry must name the short form. Without one the request
        // fails rather than write an entry that would not work.
        char shortPath[MAX_PATH];
        DWORD n = GetShortPathNameA(path, shortPath, sizeof shortPath);
        if (n == 0 || n >= sizeof shortPath) return false;
        return AddWininitRename("NUL", shortPath);
    }
    case PLATFORM_NT: {
        NativeFileNames native; // the walk's names are the real ones
        // NT 4.0 has no junctions: the path cannot come to name another file.
        if (GetNtGeneration() == NTGEN_4)
            return MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
        // Elsewhere the session manager deletes at the restart whatever the
        // path names then: the file first moves where nobody else can
        // change what its new path names.
        FileId id;
        if (!checked) {
            HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                      OPEN_EXISTING, 0, NULL);
            if (file == INVALID_HANDLE_VALUE) return false;
            const bool known = IdentityOf(file, &id);
            CloseHandle(file);
            if (!known) return false;
            checked = &id;
        }
        char moved[MAX_PATH];
        if (!PathNamesFile(path, *checked) ||
            !MoveToWaitingFolder(path, checked, moved, sizeof moved))
            return false;
        // The take-over keeps new opens out, not handles opened before it: one
        // with DELETE access can still rename the file out of the folder. An
        // open that does not share the delete fails with a sharing violation
        // while any other handle has DELETE access, so one that succeeds
        // proves there is none.
        HANDLE probe = CreateFileA(moved, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                   OPEN_EXISTING, 0, NULL);
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        else if (escapable)
            *escapable = true;
        if (!MoveFileExA(moved, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) return false;
        // The folder goes at the same restart, after its file (the session
        // manager removes a folder only when it is empty), so waiting
        // folders do not pile up over the runs.
        *strrchr(moved, '\\') = 0;
        MoveFileExA(moved, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        return true;
    }
    default:
        return false;
    }
}
