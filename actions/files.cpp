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
** file in one step, so the live file first steps aside as cphxini.old; what
** each step leaves on disk when it fails or the power is lost, and how the
** next request takes it up, is drawn as a table above AddWininitRename.
** A line twice in [rename] runs twice: harmless for a delete, but a rename
** run again would move a file of the same name put there since. So a
** waiting entry is never added where wininit.ini holds the same line.
** A copy of the previous content also stays in the temporary folder, unless
** that folder is the Windows folder.
*/
#include "actions/files.h"
#include "platform/wow64.h"
#include "platform/platform.h"
#include "engine/file_identity.h"
#include "platform/file_names.h"
#include "platform/join_path.h"
#include "actions/resolve_by_name.h"
#include "platform/win32.h"

#include <ctype.h>
#include <new>
#include <stdlib.h>
#include <string.h>

namespace {

/* The information classes, as SetFileInformationByHandle (FileBasicInfo,
   FileRenameInfo, FileDispositionInfo) and NtSetInformationFile
   (FileBasicInformation, FileRenameInformation, FileDispositionInformation)
   number them, and their records, which both lay out alike. */
struct InfoClass {
    int byHandle, nt;
};
const InfoClass kBasic = {0, 4}, kRename = {3, 10}, kDisposition = {4, 13};

struct BasicInfo {
    LONGLONG creation, lastAccess, lastWrite, change; // 0: unchanged
    DWORD attributes;
};
static_assert(sizeof(BasicInfo) == 40, "FILE_BASIC_INFO");

struct DispositionInfo {
    BYTE deleteFile;
};

/* The new name: a name alone stays in the file's own folder, a path starting
   "\??\" is a drive path; an existing file of that name is never replaced. */
struct RenameInfo {
    BYTE replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength; // in bytes, without the terminator
    WCHAR fileName[MAX_PATH + 8];
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

bool SetInformationNow(HANDLE file, InfoClass kind, void* info, DWORD size) {
    if (auto set = Resolve<SetByHandleFn>("kernel32.dll", "SetFileInformationByHandle"))
        return set(file, kind.byHandle, info, size) != 0;
    if (auto set = Resolve<NtSetInformationFileFn>("ntdll.dll", "NtSetInformationFile")) {
        IoStatusBlock status = {};
        return set(file, &status, info, size, kind.nt) == 0;
    }
    return false;
}

typedef BOOL(WINAPI* SetKernelObjectSecurityFn)(HANDLE, DWORD, void*);
typedef BOOL(WINAPI* CancelSynchronousIoFn)(HANDLE);

/* A rename, the delete disposition or a change of security waits, on
   Windows 7 and later, until another program's Read-Handle lease on the file
   is acknowledged ("Checking the Oplock State of an IRP_MJ_SET_INFORMATION
   Operation"), and nothing tells beforehand whether there is one: a lease is
   granted beside any handle of ours and breaks at an open only on a sharing
   conflict. (A batch or filter oplock never gets that far: the open for the
   change, asking DELETE, WRITE_DAC or WRITE_OWNER, breaks it first and
   completes at once, see OpenWithoutWaiting; while that handle is open no
   other program is granted one. Microsoft's table can also be read to break
   a filter oplock only at an open that both asks to write and refuses to
   share the read; the thread bounds such a rename too.) So such a change
   runs on a thread of its own for at most kChangeLimit milliseconds (the
   window waits that long unpainted), is then cancelled (CancelSynchronousIo,
   Vista and later: the call completes cancelled, or done all the same) and
   given as long again; one that has not completed by then failed, and its
   record stays with its thread. Without CancelSynchronousIo (NT 4.0 to XP,
   no leases) it runs here. */
const DWORD kChangeLimit = 2000;
/* Once a change of a run was held up, the run's later ones wait this long
   before their cancel: a program that holds one file so may hold many, and
   the window would wait kChangeLimit for each (a change no lease holds up
   takes a few milliseconds on a fixed drive). */
const DWORD kHeldUpLimit = 100;
DWORD g_changeLimit = kChangeLimit;

struct Change {
    HANDLE file;
    InfoClass kind;
    void* info;                            // the record, or for security the descriptor
    DWORD size;                            // its size, or for security the parts it sets
    SetKernelObjectSecurityFn setSecurity; // a change of security, else of information
    bool done;
    volatile bool started; // the thread has reached its call
    Change* next;          // the next record left with its thread
};

/* The records left with their threads, kept (their threads may still write
   to them). The handle of one is never closed: a synchronous handle runs its
   calls, its close among them, one at a time, and the close would wait for
   the change. */
Change *g_left = nullptr, *g_leftBefore = nullptr; // those ChangeLeftOn reads, the forgotten

DWORD WINAPI MakeChange(LPVOID record) {
    Change* change = static_cast<Change*>(record);
    change->started = true;
    change->done = change->setSecurity
                       ? change->setSecurity(change->file, change->size, change->info) != 0
                       : SetInformationNow(change->file, change->kind, change->info, change->size);
    return 0;
}

bool WithinLimit(const Change& asked) {
    auto cancel = Resolve<CancelSynchronousIoFn>("kernel32.dll", "CancelSynchronousIo");
    if (!cancel) {
        Change change = asked;
        MakeChange(&change);
        return change.done;
    }
    // The record carries a copy of what it sets: a change left with its
    // thread may read it after the caller's own is gone.
    const DWORD copied = asked.setSecurity ? 0 : asked.size;
    void* block = malloc(sizeof(Change) + copied);
    if (!block) return false;
    Change* change = new (block) Change(asked);
    if (copied)
        change->info = memcpy(static_cast<char*>(block) + sizeof(Change), asked.info, copied);
    HANDLE thread = CreateThread(NULL, 0, MakeChange, change, 0, NULL);
    if (!thread) {
        free(block);
        return false;
    }
    DWORD waited = WaitForSingleObject(thread, g_changeLimit);
    if (waited == WAIT_TIMEOUT) {
        g_changeLimit = kHeldUpLimit;
        // A thread the busy machine has not run yet is held by no one so
        // far: it gets as long, as a cancelled call does.
        if (cancel(thread) || !change->started) waited = WaitForSingleObject(thread, kChangeLimit);
    }
    CloseHandle(thread);
    if (waited != WAIT_OBJECT_0) { // the thread still has it
        change->next = g_left;
        g_left = change;
        return false;
    }
    const bool done = change->done;
    free(block);
    return done;
}

/* CloseHandle, unless a change left with its thread holds `file`. */
void CloseUnlessLeft(HANDLE file) {
    if (!ChangeLeftOn(file)) CloseHandle(file);
}

bool SetInformation(HANDLE file, InfoClass kind, void* info, DWORD size) {
    return WithinLimit({file, kind, info, size, nullptr, false, false, nullptr});
}

/* NtCreateFile (ntdll, NT 4.0 and later) and what it takes. */
struct NtName {
    uint16_t length, maximumLength;
    WCHAR* buffer;
};
struct NtObjectAttributes {
    ULONG length;
    HANDLE rootDirectory;
    NtName* objectName;
    ULONG attributes;
    void* securityDescriptor;
    void* securityQualityOfService;
};
struct NtIoStatus {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};
typedef LONG(WINAPI* NtCreateFileFn)(HANDLE*, DWORD, NtObjectAttributes*, NtIoStatus*, void*, ULONG,
                                     ULONG, ULONG, ULONG, void*, ULONG);
typedef ULONG(WINAPI* NtStatusToErrorFn)(LONG);
/* The two ntdll functions, looked up at each run's start (ResolveFileOpens),
   or at the first open outside a run. */
struct {
    bool resolved;
    NtCreateFileFn create;
    NtStatusToErrorFn toError;
} g_opens;

enum : ULONG {
    NT_FILE_OPEN = 1,
    NT_CASE_INSENSITIVE = 0x40,          // OBJ_CASE_INSENSITIVE
    NT_SYNCHRONOUS_IO_NONALERT = 0x20,   // FILE_SYNCHRONOUS_IO_NONALERT
    NT_COMPLETE_IF_OPLOCKED = 0x100,     // FILE_COMPLETE_IF_OPLOCKED
    NT_OPEN_FOR_BACKUP_INTENT = 0x4000,  // FILE_OPEN_FOR_BACKUP_INTENT
    NT_SYNCHRONIZE = 0x00100000,         // SYNCHRONIZE
    NT_OPLOCK_BREAK_IN_PROGRESS = 0x108, // STATUS_OPLOCK_BREAK_IN_PROGRESS
};

} // namespace

bool ChangeLeftOn(HANDLE file) {
    for (const Change* change = g_left; change; change = change->next)
        if (change->file == file) return true;
    return false;
}

void ForgetLeftChanges() {
    g_changeLimit = kChangeLimit;
    while (Change* change = g_left) {
        g_left = change->next;
        change->next = g_leftBefore;
        g_leftBefore = change;
    }
}

void ResolveFileOpens() {
    g_changeLimit = kChangeLimit; // a run's first held-up change waits the whole limit
    g_opens = {};
    g_opens.resolved = true;
    if (GetPlatform() != PLATFORM_NT) return;
    HMODULE ntdll = LoadSystemLibrary("ntdll.dll");
    g_opens.create = Resolve<NtCreateFileFn>(ntdll, "NtCreateFile");
    g_opens.toError = Resolve<NtStatusToErrorFn>(ntdll, "RtlNtStatusToDosError");
}

namespace {

/* OpenExistingWithoutWaiting for any access and sharing: the check's opens
   ask through the door's kinds, the disposal's own opens of the checked
   file (for its security, for deleting) through the rights themselves. */
HANDLE OpenNtName(WCHAR* wide, size_t units, DWORD access, DWORD sharing, bool* tried);

HANDLE OpenWithoutWaiting(const char* name, DWORD access, DWORD sharing, bool* tried) {
    *tried = false;
    if (GetPlatform() != PLATFORM_NT) return INVALID_HANDLE_VALUE;
    if (!g_opens.resolved) ResolveFileOpens();
    const char* drive = strncmp(name, "\\\\?\\", 4) == 0 ? name + 4 : name;
    if (!g_opens.create || !isalpha((unsigned char)drive[0]) || drive[1] != ':' || drive[2] != '\\')
        return INVALID_HANDLE_VALUE;
    WCHAR wide[MAX_PATH + 8] = {'\\', '?', '?', '\\'};
    const int units = MultiByteToWideChar(CP_ACP, 0, drive, -1, wide + 4, MAX_PATH + 3);
    if (units <= 1) return INVALID_HANDLE_VALUE;
    return OpenNtName(wide, (size_t)units + 4, access, sharing, tried);
}

/* NtCreateFile of the NT name `wide` ("\??\X:\...", `units` characters
   with its terminator), for OpenWithoutWaiting. */
HANDLE OpenNtName(WCHAR* wide, size_t units, DWORD access, DWORD sharing, bool* tried) {
    NtName object = {(uint16_t)((units - 1) * sizeof(WCHAR)), (uint16_t)(units * sizeof(WCHAR)),
                     wide};
    NtObjectAttributes attributes = {sizeof attributes,   NULL, &object,
                                     NT_CASE_INSENSITIVE, NULL, NULL};
    NtIoStatus status = {};
    HANDLE file = INVALID_HANDLE_VALUE;
    *tried = true;
    const LONG result = g_opens.create(
        &file, access | NT_SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &status, NULL, 0,
        sharing, NT_FILE_OPEN,
        NT_SYNCHRONOUS_IO_NONALERT | NT_COMPLETE_IF_OPLOCKED | NT_OPEN_FOR_BACKUP_INTENT, NULL, 0);
    if (result == NT_OPLOCK_BREAK_IN_PROGRESS) {
        CloseHandle(file);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if (result < 0) {
        // Why, in the words CreateFileA would use (ntdll's own table).
        SetLastError(g_opens.toError ? g_opens.toError(result) : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

/* A file of the disposal opened by the name that reaches it as the file it
   is (see platform/file_names.h), for backup semantics, as the check opens
   it: on NT without waiting on an oplock another program took since the
   check closed its handle (the file then refuses the open, as one held
   without sharing does, and the disposal that needed it fails with its
   line); elsewhere through CreateFileA. */
HANDLE OpenForDisposal(const char* path, DWORD access, DWORD sharing) {
    const FileName name(path);
    if (!name.get()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    bool tried;
    HANDLE file = OpenWithoutWaiting(name.get(), access, sharing, &tried);
    if (tried) return file;
    return CreateFileA(name.get(), access, sharing, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                       NULL);
}

} // namespace

HANDLE OpenExistingWithoutWaiting(const char* name, FileAccess access, FileSharing sharing,
                                  bool* tried) {
    return OpenWithoutWaiting(name, AccessOf(access), SharingOf(sharing), tried);
}

HANDLE OpenWideWithoutWaiting(const WCHAR* path, FileAccess access, FileSharing sharing,
                              bool* tried) {
    *tried = false;
    if (GetPlatform() != PLATFORM_NT) return INVALID_HANDLE_VALUE;
    if (!g_opens.resolved) ResolveFileOpens();
    size_t n = 0;
    while (path[n] && n < 32767)
        n++;
    if (!g_opens.create || n >= 32767 || n < 7 || path[0] != '\\' || path[1] != '\\' ||
        path[2] != '?' || path[3] != '\\' || path[5] != ':' || path[6] != '\\' ||
        !(path[4] < 128 && isalpha(path[4])))
        return INVALID_HANDLE_VALUE;
    WCHAR* wide = (WCHAR*)malloc((n + 1) * sizeof(WCHAR));
    if (!wide) return INVALID_HANDLE_VALUE;
    memcpy(wide, path, (n + 1) * sizeof(WCHAR));
    wide[1] = '?'; // "\\?\" -> "\??\": the same name, as NtCreateFile takes it
    HANDLE file = OpenNtName(wide, n + 1, AccessOf(access), SharingOf(sharing), tried);
    free(wide);
    return file;
}

namespace {

/* Renames the file open as `file` (with DELETE) to `target`: a name alone in
   its own folder, wherever that folder is now, else the drive path given. */
bool RenameThrough(HANDLE file, const char* target) {
    char name[MAX_PATH + 8];
    const bool path = strchr(target, '\\') != nullptr;
    if (!JoinPath(name, sizeof name, path ? "\\??\\" : "", target, "")) return false;
    RenameInfo info = {};
    const int units = MultiByteToWideChar(CP_ACP, 0, name, -1, info.fileName,
                                          (int)(sizeof info.fileName / sizeof info.fileName[0]));
    if (units <= 1) return false;
    info.fileNameLength = (DWORD)(units - 1) * sizeof(WCHAR);
    return SetInformation(file, kRename, &info, sizeof info);
}

/* Whether `a` and `b` lie in one folder, as written (up to the last
   backslash, without regard to case). */
bool SameFolderPart(const char* a, const char* b) {
    const char *sa = strrchr(a, '\\'), *sb = strrchr(b, '\\');
    return sa && sb && sa - a == sb - b && _strnicmp(a, b, (size_t)(sa - a)) == 0;
}

} // namespace

bool ClearAttributesOf(const CheckedFile& file) {
    BasicInfo info = {};
    info.attributes = FILE_ATTRIBUTE_ARCHIVE;
    return file.Handle() != INVALID_HANDLE_VALUE && // no lease breaks at this one
           SetInformationNow(file.Handle(), kBasic, &info, sizeof info);
}

bool MarkForDeletion(const CheckedFile& file) {
    DispositionInfo info = {1};
    return file.Handle() != INVALID_HANDLE_VALUE &&
           SetInformation(file.Handle(), kDisposition, &info, sizeof info);
}

bool MoveCheckedFile(const char* path, const char* newPath, const CheckedFile& checked) {
    const FileId& id = checked.Id();
    if (!checked.Known() || !PathNamesFile(path, id)) return false;
    NativeFileNames native;
    // Opened for deleting (what a rename asks of a handle) and proved to be
    // the checked file, the file moves through that handle: a folder of
    // `path` swapped for a link after the look above moves nothing else. A
    // new name in the same folder is given alone, so the file stays in the
    // folder it is really in.
    HANDLE file = OpenForDisposal(path, DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (file == INVALID_HANDLE_VALUE) return false;
    const char* target = SameFolderPart(path, newPath) ? strrchr(newPath, '\\') + 1 : newPath;
    const bool moved = IsFile(file, id) && RenameThrough(file, target);
    CloseUnlessLeft(file);
    return moved;
}

/* By path on Windows 9x alone: there every user may change every file anyway
   (no accounts, no rights to gain), and FAT has neither links nor hard links,
   so a path names the file the check read. On NT the checked file is reached
   only through a handle proved to be it: a path there may have been re-aimed
   by a junction or a hard link since. */
static bool ByPathAllowed() { return !CheckedFileHandles(); }

bool ClearAttributesByPath(const char* path) {
    if (!ByPathAllowed()) return false;
    NativeFileNames native;
    return SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE) != 0;
}

PathDelete DeleteByPath(const char* path) {
    if (!ByPathAllowed()) return PathDelete::Refused;
    NativeFileNames native;
    if (!DeleteFileA(path)) return PathDelete::Refused;
    // Windows 9x refuses to delete an open file rather than mark it, so only
    // a model of NT reaches Marked here; kept so no caller counts a name that
    // stays as removed.
    return NameIsGone(path) ? PathDelete::Done : PathDelete::Marked;
}

bool RenameByPath(const char* path, const char* renamed) {
    if (!ByPathAllowed()) return false;
    NativeFileNames native;
    return MoveFileA(path, renamed) != 0;
}

bool DeleteLegacyByPath(const char* path) {
    return ByPathAllowed() && DeleteFileA(path) && NameIsGone(path);
}

bool RenameLegacyByPath(const char* path, const char* renamed) {
    if (!ByPathAllowed()) return false;
    NativeFileNames native;
    return MoveFileA(path, renamed) != 0;
}

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

/* The lines that go into the [rename] section: the entry, after any lines
   of content that waits. */
struct Entries {
    const char* text;
    size_t length;
};

static bool WriteEntries(int fd, const Entries& e) { return WriteAll(fd, e.text, e.length); }

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

/* A text read whole into memory (NUL-terminated, so never empty); `end`:
   where a reader stops, at the first end-of-text mark. */
struct Text {
    char* bytes = nullptr;
    size_t size = 0, end = 0;
    Text() = default;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() { free(bytes); }
    void Clear() {
        free(bytes);
        bytes = nullptr;
        size = end = 0;
    }
};

/* Reads the file `path` into `t`; false when it cannot be read whole. */
static bool ReadText(const char* path, Text* t) {
    t->Clear();
    FILE* in = fopen(path, "rb");
    if (!in) return false;
    bool ok = (t->bytes = (char*)malloc(1)) != nullptr;
    char piece[kPieceSize];
    while (ok) {
        memset(piece, 0xFF, sizeof piece); // as in Merge: the last NUL ends the piece
        if (!fgets(piece, kPieceSize, in)) break;
        size_t length = kPieceSize - 1;
        while (length > 0 && piece[length] != '\0')
            length--;
        char* grown = (char*)realloc(t->bytes, t->size + length + 1);
        ok = grown != nullptr;
        if (!ok) break;
        t->bytes = grown;
        memcpy(t->bytes + t->size, piece, length);
        t->size += length;
    }
    ok = ok && !ferror(in);
    fclose(in);
    if (!ok) return false;
    t->bytes[t->size] = '\0';
    const void* mark = memchr(t->bytes, kEndOfText, t->size);
    t->end = mark ? (size_t)((const char*)mark - t->bytes) : t->size;
    return true;
}

/* The line of `t` that starts at `*at` (without its line end) into `line`
   and `length`, and `*at` past it; false after the last line. */
static bool NextLine(const Text& t, size_t* at, const char** line, size_t* length) {
    if (*at >= t.end) return false;
    *line = t.bytes + *at;
    const void* lf = memchr(*line, '\n', t.end - *at);
    size_t n = lf ? (size_t)((const char*)lf - *line) : t.end - *at;
    *at += lf ? n + 1 : n;
    if (n > 0 && (*line)[n - 1] == '\r') n--;
    *length = n;
    return true;
}

/* The next entry ("x=y") of a [rename] section of `t` after `*at`, as
   NextLine gives lines; a header opens a section as WININIT reads it. */
static bool NextRenameEntry(const Text& t, size_t* at, bool* inRename, const char** line,
                            size_t* length) {
    while (NextLine(t, at, line, length)) {
        if (*length > 0 && (*line)[0] == '[') {
            *inRename = *length >= 8 && _strnicmp(*line, kSection, 8) == 0;
        } else if (*inRename && memchr(*line, '=', *length)) {
            return true;
        }
    }
    return false;
}

/* Reads the file `path` into `t` when there is one (an empty text when
   there is none); false when it is there but cannot be read whole. */
static bool ReadIfThere(const char* path, Text* t) {
    if (_access(path, 0) == 0) return ReadText(path, t);
    t->bytes = (char*)malloc(1);
    return t->bytes && (t->bytes[0] = '\0', true);
}

/* Whether a [rename] section of `t` holds the entry `line` (of `length`
   bytes), exactly. */
static bool HasEntry(const Text& t, const char* line, size_t length) {
    size_t at = 0, n;
    bool inRename = false;
    for (const char* each; NextRenameEntry(t, &at, &inRename, &each, &n);)
        if (n == length && memcmp(each, line, n) == 0) return true;
    return false;
}

/* Whether every [rename] entry of `waiting` stands in the file `path`, into
   `*all`; false when that is there but cannot be read. */
static bool AllIn(const Text& waiting, const char* path, bool* all) {
    Text there;
    if (!ReadIfThere(path, &there)) return false;
    size_t at = 0, n;
    bool inRename = false;
    *all = true;
    for (const char* line; *all && NextRenameEntry(waiting, &at, &inRename, &line, &n);)
        *all = HasEntry(there, line, n);
    return true;
}

/* The state of one merge. */
struct MergeState {
    bool inRename = false;     // the last header read was [rename]
    bool firstWritten = false; // the older lines stand below the header
    bool entryWritten = false; // the entry stands in the new content
    bool atLineStart = true;   // the text written so far ends a line
};

/* Puts the entry at the end of the text when it is not in yet: on a line of
   its own, under a new [rename] header when there was no such section, the
   older lines before it when they are not in yet either. */
static bool FinishEntry(int out, MergeState* m, const Entries& first, const Entries& e) {
    if (m->entryWritten) return true;
    if (!m->atLineStart && !WriteText(out, "\r\n")) return false;
    if (!m->inRename && !(WriteText(out, kSection) && WriteText(out, "\r\n"))) return false;
    m->entryWritten = true;
    return (m->firstWritten || WriteEntries(out, first)) && WriteEntries(out, e);
}

/* Copies the old content from `in` to descriptor `out`, inserting `first`
   (lines older than the content's own) at the start of the [rename] section
   and the entries at its end (before the next section header), or appending
   the section, `first` and the entries when there is none: WININIT runs the
   lines in their order.
   Only a piece that starts a line is looked at: the rest of a line longer
   than one piece is copied as it is, so such a line is written back whole.
   The text ends at the first end-of-text mark: the entry goes before it,
   and the mark and whatever follows it are copied unchanged after it. */
static bool Merge(FILE* in, int out, const Entries& first, const Entries& e) {
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
                if (m.inRename && !m.firstWritten) {
                    if (!WriteEntries(out, first)) return false;
                    m.firstWritten = true;
                }
                if (m.inRename && piece[0] == '[') {
                    if (!WriteEntries(out, e)) return false;
                    m.entryWritten = true;
                } else if (!m.inRename && text >= 8 && _strnicmp(piece, kSection, 8) == 0) {
                    m.inRename = true;
                }
            }
            if (!WriteAll(out, piece, text)) return false;
            m.atLineStart = piece[text - 1] == '\n';
        }
        if (text < length) {
            if (!ended && !FinishEntry(out, &m, first, e)) return false;
            ended = true;
            if (!WriteAll(out, piece + text, length - text)) return false;
        }
    }
    if (ferror(in)) return false; // the old content was not read completely
    return FinishEntry(out, &m, first, e);
}

/* The swap's files, all in the Windows folder. */
enum SwapFile { kIni, kNew, kOld, kWait, kBak, kSwapFiles };
static const char* const kSwapNames[kSwapFiles] = {"wininit.ini", "cphxini.new", "cphxini.old",
                                                   "cphxini.wai", "wininit.bak"};

/* The paths of the swap's files, and which of ini, new, old and wai stand
   (as this request found them and has moved them since). Each operation
   says whether it succeeded; Drop also when there was nothing to delete. */
struct Swap {
    char path[kSwapFiles][kWinDirSize + 16];
    unsigned there = 0;
    bool Has(SwapFile f) const { return (there >> f & 1) != 0; }
    bool Move(SwapFile from, SwapFile to) {
        return Did(MoveFileA(path[from], path[to]) != 0, 1u << from, 1u << to);
    }
    bool Copy(SwapFile from, SwapFile to) {
        return Did(CopyFileA(path[from], path[to], TRUE) != 0, 0, 1u << to);
    }
    bool Drop(SwapFile f) { return !Has(f) || Did(DeleteFileA(path[f]) != 0, 1u << f, 0); }
    bool Did(bool done, unsigned gone, unsigned made) {
        if (done) there = (there & ~gone) | made;
        return done;
    }
};

/* Writes cphxini.new whole: the live file's content (none when there is
   none) with the entries merged in, the waiting content's that wininit.ini
   does not hold (a line twice would run twice) first, the new one last. A copy of
   the live file goes to the temporary folder first; `live` gets the content
   read (none without a wininit.ini). */
static bool WriteNew(Swap* s, const char* winDir, const Text& waiting, const char* destination,
                     const char* source, Text* live) {
    live->Clear();
    Text entries;
    const size_t d = strlen(destination), r = strlen(source);
    entries.bytes = (char*)malloc(2 * waiting.end + d + r + 4);
    if (!entries.bytes) return false;
    char* at = entries.bytes;
    FILE* in = NULL;
    if (s->Has(kIni)) {
        const char* iniPath = s->path[kIni];
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
            // An earlier copy is overwritten, but CopyFileA refuses a hidden
            // or read-only target, and a copy keeps the attributes of its
            // source: the copy of a hidden wininit.ini would stop the next
            // request of the run. A copy that fails all the same leaves the
            // earlier one as it was found.
            const DWORD earlier = GetFileAttributesA(copyPath);
            const DWORD refusing = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
            const bool cleared = earlier != INVALID_FILE_ATTRIBUTES &&
                                 !(earlier & FILE_ATTRIBUTE_DIRECTORY) && (earlier & refusing);
            if (cleared &&
                !SetFileAttributesA(copyPath, (earlier & ~refusing) ? earlier & ~refusing
                                                                    : FILE_ATTRIBUTE_NORMAL))
                return false;
            if (!CopyFileA(iniPath, copyPath, FALSE)) {
                if (cleared) SetFileAttributesA(copyPath, earlier);
                return false;
            }
        }
        if (!ReadText(iniPath, live)) return false;
        // The live file is read: it stays untouched until the new one is
        // complete. Binary reading: the pieces go back byte for byte.
        in = fopen(iniPath, "rb");
        if (!in) return false;
    }

    size_t from = 0, length;
    bool inRename = false;
    for (const char* line;
         s->Has(kWait) && NextRenameEntry(waiting, &from, &inRename, &line, &length);) {
        if (HasEntry(*live, line, length)) continue;
        memcpy(at, line, length);
        memcpy(at + length, "\r\n", 2);
        at += length + 2;
    }
    // The waiting lines were written before the live file's (they stood in
    // place before it): they go first; the new one last.
    const Entries first = {entries.bytes, (size_t)(at - entries.bytes)};
    const Entries e = {at, (size_t)sprintf(at, "%s=%s\r\n", destination, source)};

    int out =
        _open(s->path[kNew], _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (out == -1) {
        if (in) fclose(in);
        return false;
    }
    s->there |= 1u << kNew;
    bool written = in ? Merge(in, out, first, e)
                      : WriteText(out, kSection) && WriteText(out, "\r\n") &&
                            WriteEntries(out, first) && WriteEntries(out, e);
    if (in) fclose(in);
    return _close(out) == 0 && written;
}

/* One request, as the states it walks through. The files: ini wininit.ini,
   new cphxini.new, old cphxini.old, wai cphxini.wai, bak wininit.bak. A
   state's operation leads to the state under "done" when it succeeds, else
   to the one under "failed"; the last column is what the next request's
   Found meets when the power is lost in the state. Content that waits (wai)
   may stand beside every state from Waits on, and is met there too.

   state     on disk       operation                done     failed  a power loss
   Found     anything      look which of ours stand by them, as below
   Stopped   old new       old -> wai               Tidy     false   old new
   Stopped2  old new wai   old -> ini, see below    Tidy     false   old new wai
   Tidy      new? old?     delete new, then old     Waits    false   new? old?
   Waits     [wai]         delete wai if all in bak Write    false   wai
   Write     ini? new      write new whole          Written  Undo    new alone
   Written   ini? new      ini -> old (no ini:      Aside    Undo    new alone
                           new -> ini, to Placed)
   Aside     old new       old as read: new -> ini  Placed   Back    old new
                           (another's since: Back, then Write once more)
   Placed    ini old?      delete wai, then old     true     true    old alone
   Back      old new       old -> ini, else a copy  Undo     false   old new, new alone
                           (Write after another's;  (another's ini:
                           each once)               old -> wai, Write)
   Undo      ini? new old? delete new, then old     false    false   new? old?

   What Found meets, and what comes of it:
   - old new: a swap stopped in Aside, or in Back after its copy or beside
     another's fresh ini. old has not run (WININIT runs ini alone), unless
     Back's copy was (bak holds it then, and Waits deletes it as run);
     another program may have written a fresh ini since: old waits as wai
     (Stopped), new goes (Tidy).
   - old new wai: the same, of a request that merged content that waited.
     Two contents wait (Stopped2): unless old has run (its [rename] lines all
     stand in bak: WININIT renames ini to bak once it has carried it out,
     Microsoft KB Q140570, "Moving Files in Windows 95") or stands in ini
     already (Back copied it), old comes back as ini where there is none;
     beside another program's ini nothing more is written (the two are
     kept, and never thrown away).
   - new alone: a write stopped, or a swap undone: deleted (Tidy).
   - old alone: content that a later one replaced (Placed), and that may
     have run at a restart since: deleted (Tidy), never restored.
   - wai: merged into the next new, but none of its lines that ini holds
     (Placed may have stopped once ini stood in place), and deleted once it
     has run (Waits).
   So under any one or two failed operations ini ends up with its old content
   (or a fresh one of another program's, ours waiting beside it as wai) or the
   complete new content, and the old content is never gone. */
enum class Step {
    Found,
    Stopped,
    Stopped2,
    Tidy,
    Waits,
    Write,
    Written,
    Aside,
    Placed,
    Back,
    Undo
};

bool AddWininitRename(const char* destination, const char* source) {
    // Only Windows 9x reads the file: elsewhere an entry is no request.
    if (GetPlatform() != PLATFORM_WIN9X) return false;
    if (!destination || !source || !destination[0] || !source[0]) return false;
    // The entry must stay one line, and the text must not end before it.
    if (strpbrk(destination, "\r\n\x1A") || strpbrk(source, "\r\n\x1A")) return false;

    char winDir[kWinDirSize];
    UINT n = GetWindowsDirectoryA(winDir, kWinDirSize);
    if (n == 0 || n >= kWinDirSize) return false;
    Swap s;
    for (int f = kIni; f < kSwapFiles; f++)
        if (!FileInFolder(s.path[f], sizeof s.path[f], winDir, kSwapNames[f])) return false;

    // What Write read of ini: another program may write ini between the
    // read and the step aside (an installer's pending replace), and what it
    // wrote would be gone with old once new stands in its place.
    Text waiting, read;
    bool rewrote = false, merged = false, changed = false;
    for (Step step = Step::Found;;) {
        switch (step) {
        case Step::Found:
            for (int f = kIni; f <= kWait; f++)
                if (_access(s.path[f], 0) == 0) s.there |= 1u << f;
            step = !s.Has(kOld) || !s.Has(kNew) ? Step::Tidy
                   : s.Has(kWait)               ? Step::Stopped2
                                                : Step::Stopped;
            break;
        case Step::Stopped:
            if (!s.Move(kOld, kWait)) return false;
            step = Step::Tidy;
            break;
        case Step::Stopped2: {
            Text stranded;
            bool ran, placed = false;
            if (!ReadText(s.path[kOld], &stranded) || !AllIn(stranded, s.path[kBak], &ran) ||
                (s.Has(kIni) && !AllIn(stranded, s.path[kIni], &placed)))
                return false;
            if (!ran && !placed && (s.Has(kIni) || !s.Move(kOld, kIni))) return false;
            step = Step::Tidy;
            break;
        }
        case Step::Tidy:
            if (!s.Drop(kNew) || !s.Drop(kOld)) return false;
            step = Step::Waits;
            break;
        case Step::Waits: {
            bool ran;
            if (s.Has(kWait) && (!ReadText(s.path[kWait], &waiting) ||
                                 !AllIn(waiting, s.path[kBak], &ran) || (ran && !s.Drop(kWait))))
                return false;
            step = Step::Write;
            break;
        }
        case Step::Write:
            step = WriteNew(&s, winDir, waiting, destination, source, &read) ? Step::Written
                                                                             : Step::Undo;
            break;
        case Step::Written:
            if (s.Has(kIni))
                step = s.Move(kIni, kOld) ? Step::Aside : Step::Undo;
            else
                step = s.Move(kNew, kIni) ? Step::Placed : Step::Undo;
            break;
        case Step::Aside: {
            Text now;
            changed = !ReadText(s.path[kOld], &now) || now.size != read.size ||
                      memcmp(now.bytes, read.bytes, read.size) != 0;
            step = !changed && s.Move(kNew, kIni) ? Step::Placed : Step::Back;
            break;
        }
        case Step::Placed:
            // A delete that fails leaves its file to the next request.
            s.Drop(kWait);
            s.Drop(kOld);
            return true;
        case Step::Back:
            // Once a copy stands in place, new goes before old: old beside
            // an ini alone is content that stands in place.
            if (s.Move(kOld, kIni) || s.Copy(kOld, kIni)) {
                // Content written since the read is merged as any other, once.
                step = changed && !rewrote && !s.Has(kOld) ? Step::Write : Step::Undo;
                rewrote = rewrote || step == Step::Write;
            } else {
                // Another program wrote a fresh ini while old stood aside: old
                // waits beside it, and is merged in as waiting content (not
                // looked for in bak: it stood in place, it has not run). Once
                // beside the rewrite above, before or after it (wai standing
                // a second time would stop the move, but another program may
                // delete it).
                if (merged || _access(s.path[kIni], 0) != 0 || !s.Move(kOld, kWait) ||
                    !ReadText(s.path[kWait], &waiting))
                    return false;
                s.there |= 1u << kIni;
                merged = true;
                step = Step::Write;
            }
            break;
        case Step::Undo:
            s.Drop(kNew);
            s.Drop(kOld);
            return false;
        }
    }
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

typedef long(WINAPI* UuidCreateFn)(void*);

typedef BOOL(WINAPI* GetFileSecurityFn)(LPCSTR, DWORD, void*, DWORD, DWORD*);
typedef BOOL(WINAPI* DescriptorToStringFn)(void*, DWORD, DWORD, LPSTR*, ULONG*);

/* Whom a folder's root may trust: the Administrators, the system, and the
   installer service that owns Windows' own files. */
static bool TrustedSid(const char* sid, size_t n) {
    static const char* const trusted[] = {
        "BA", "SY", "S-1-5-32-544", "S-1-5-18",
        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
    for (const char* t : trusted)
        if (strlen(t) == n && _strnicmp(sid, t, n) == 0) return true;
    return false;
}

/* The rights of an entry's text: a number, or two-letter names. False for a
   name this program does not know. */
static bool RightsOf(const char* text, size_t n, DWORD* mask) {
    static const struct {
        char name[3];
        DWORD bits;
    } names[] = {{"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000},
                 {"RC", 0x00020000}, {"SD", 0x00010000}, {"WD", 0x00040000}, {"WO", 0x00080000},
                 {"CC", 0x1},        {"DC", 0x2},        {"LC", 0x4},        {"SW", 0x8},
                 {"RP", 0x10},       {"WP", 0x20},       {"DT", 0x40},       {"LO", 0x80},
                 {"CR", 0x100},      {"FA", 0x001F01FF}, {"FR", 0x00120089}, {"FW", 0x00120116},
                 {"FX", 0x001200A0}};
    *mask = 0;
    if (n > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        char number[16];
        if (n >= sizeof number) return false;
        memcpy(number, text, n);
        number[n] = 0;
        char* end;
        *mask = (DWORD)strtoul(number, &end, 16);
        return *end == 0;
    }
    for (size_t i = 0; i < n; i += 2) {
        bool known = false;
        for (const auto& each : names)
            if (i + 1 < n && text[i] == each.name[0] && text[i + 1] == each.name[1])
                *mask |= each.bits, known = true;
        if (!known) return false;
    }
    return true;
}

/* Whether the folder's security, as descriptor text with its owner and
   DACL, leaves its children to the administrators and the system: they own
   it, and no entry that applies to the folder itself grants anyone else the
   delete of a child (FILE_DELETE_CHILD), its security or owner, or every
   right. Entries for what it holds alone (inherit-only) and denials change
   nothing; an entry of a kind not known here, or no DACL at all, is taken
   for the worst. Creating folders there is no such right: a user may make
   a folder of their own, never rename or delete another's. */
static bool ChildrenGuarded(const char* text) {
    const DWORD taking = 0x40 /* FILE_DELETE_CHILD */ | WRITE_DAC | WRITE_OWNER | 0x10000000;
    const char* dacl = strstr(text, "D:");
    if (strncmp(text, "O:", 2) != 0 || !dacl || !TrustedSid(text + 2, (size_t)(dacl - text - 2)))
        return false;
    const char* ace = strchr(dacl, '(');
    if (!ace) return strstr(dacl, "NO_ACCESS_CONTROL") == NULL; // an empty DACL grants nothing
    for (; ace && *ace == '('; ace = strchr(ace, '(')) {
        const char* end = strchr(ace, ')');
        if (!end) return false;
        const char* field[6];
        size_t length[6], count = 0;
        for (const char* p = ace + 1; count < 6 && p <= end; count++) {
            const char* stop = p;
            while (stop < end && *stop != ';')
                stop++;
            field[count] = p, length[count] = (size_t)(stop - p);
            p = stop + 1;
        }
        ace = end + 1;
        if (count != 6) return false;
        if (length[0] == 1 && field[0][0] == 'D') continue; // a denial
        if (length[0] != 1 || field[0][0] != 'A') return false;
        bool inheritOnly = false;
        for (size_t i = 0; i + 1 < length[1]; i += 2)
            if (field[1][i] == 'I' && field[1][i + 1] == 'O') inheritOnly = true;
        DWORD mask;
        if (inheritOnly || TrustedSid(field[5], length[5])) continue;
        if (!RightsOf(field[2], length[2], &mask) || (mask & taking)) return false;
    }
    return true;
}

/* Whether a drive's root (`root`, "D:\\") leaves its children to the
   administrators and the system (see ChildrenGuarded), by its security. */
static bool RootGuarded(const char* root) {
    auto get = Resolve<GetFileSecurityFn>("advapi32.dll", "GetFileSecurityA");
    auto toText = Resolve<DescriptorToStringFn>(
        "advapi32.dll", "ConvertSecurityDescriptorToStringSecurityDescriptorA");
    const DWORD parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    char descriptor[4096];
    DWORD needed = 0;
    LPSTR text = NULL;
    if (!get || !toText || !get(root, parts, descriptor, sizeof descriptor, &needed) ||
        !toText(descriptor, 1, parts, &text, NULL))
        return false;
    const bool guarded = ChildrenGuarded(text);
    LocalFree(text);
    return guarded;
}

/* The folder that holds the waiting folders of the drive of `path` into
   `out`, on a volume that keeps and enforces security (FILE_PERSISTENT_ACLS;
   FAT guards no folder of it). On the Windows folder's drive, the Windows
   folder: only administrators and the system may rename, delete or replace
   it or any folder of its path, and the system holds files in it open from
   start to shutdown. On another drive, its root, only where the root's own
   security leaves its children to the administrators and the system
   (RootGuarded): a root Windows 2000 formatted grants Everyone full
   control, so any user could rename a folder there aside and put a
   junction in its place. False elsewhere. */
static bool WaitingPlace(const char* path, char* out, UINT size) {
    UINT n = GetWindowsDirectoryA(out, size);
    if (n <= 2 || n >= size || out[1] != ':' || path[1] != ':') return false;
    const char root[] = {path[0], ':', '\\', 0};
    DWORD flags = 0;
    if (!GetVolumeInformationA(root, NULL, 0, NULL, NULL, &flags, NULL, 0) ||
        !(flags & FILE_PERSISTENT_ACLS))
        return false;
    if (toupper((unsigned char)out[0]) == toupper((unsigned char)path[0])) return true;
    if (!RootGuarded(root)) return false;
    memcpy(out, root, sizeof root);
    return true;
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
static bool TakeOver(const char* path, const CheckedFile& checked) {
    auto set = Resolve<SetKernelObjectSecurityFn>("advapi32.dll", "SetKernelObjectSecurity");
    auto toDescriptor = Resolve<StringToDescriptorFn>(
        "advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    void* descriptor = nullptr;
    if (!set || !toDescriptor || !toDescriptor(kWaitingFileSecurity, 1, &descriptor, NULL))
        return false;
    HANDLE file = OpenForDisposal(path, WRITE_OWNER | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    bool done = false;
    if (file != INVALID_HANDLE_VALUE) {
        const DWORD parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
        const Change change = {file, {}, descriptor, parts, set, false, false, nullptr};
        done = IsFile(file, checked.Id()) && WithinLimit(change);
        CloseUnlessLeft(file);
    }
    // A change of security left with its thread may still read it.
    if (file == INVALID_HANDLE_VALUE || !ChangeLeftOn(file)) LocalFree(descriptor);
    return done;
}

/* Creates a folder of a random name (see WaitingFolderName) in the waiting
   place of the drive of `path` with the security above (CreateDirectoryA
   fails for a name that exists: a folder someone else made is never used),
   takes the file over and moves it into that folder, only while `path`
   names the file `checked` (see MoveCheckedFile). `moved` gets the file's
   new path. */
static bool MoveToWaitingFolder(const char* path, const CheckedFile& checked, char* moved,
                                size_t size) {
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
        // Its new name must reach it as the file it is, for the hold and the
        // restart's entry (a device's name too long for the "\\?\" form
        // would be moved there and then never scheduled).
        done = FileInFolder(moved, size, folder, slash + 1) && FileName(moved).get() &&
               TakeOver(path, checked) && MoveCheckedFile(path, moved, checked);
        if (!done) {
            RemoveDirectoryA(folder);
            break;
        }
    }
    LocalFree(descriptor);
    return done;
}

/* Registers `path` for the session manager to delete at the next restart,
   by the name that reaches it as the file it is: MoveFileExA reads a DOS
   device's name as that device, and the restart would delete no file. */
static bool DeleteAtRestart(const char* path) {
    const FileName name(path);
    return name.get() && MoveFileExA(name.get(), NULL, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool HasWaitingPlace(const char* path) {
    if (!path || GetPlatform() != PLATFORM_NT || GetNtGeneration() == NTGEN_4) return true;
    char place[kWinDirSize];
    return WaitingPlace(path, place, sizeof place);
}

bool ScheduleDeleteOnRestart(const char* path, const CheckedFile* checked, bool* escapable,
                             WaitingFile* waiting) {
    if (escapable) *escapable = false;
    if (!path || !path[0]) return false;
    switch (GetPlatform()) {
    case PLATFORM_WIN9X: {
        // Windows 9x processes wininit.ini before long names are available,
        // so the entry must name the short form. Without one the request
        // fails rather than write an entry that would not work.
        // WININIT reads a device's name as that device: no name reaches
        // such a file there (see platform/file_names.h).
        char shortPath[MAX_PATH];
        const FileName name(path);
        DWORD n = name.get() ? GetShortPathNameA(name.get(), shortPath, sizeof shortPath) : 0;
        if (n == 0 || n >= sizeof shortPath) return false;
        return AddWininitRename("NUL", shortPath);
    }
    case PLATFORM_NT: {
        NativeFileNames native; // the walk's names are the real ones
        // The file is known by what the check proved of it, never by what
        // the path opens now.
        if (!checked || !checked->Known()) return false;
        // NT 4.0 has no junctions; a folder of the path renamed may re-aim
        // it, but only a folder its user may rename: that user's own files.
        // The path is not opened again: a file whose delete Windows only
        // marked opens no more, and still waits for the restart.
        if (GetNtGeneration() == NTGEN_4) return DeleteAtRestart(path);
        // Elsewhere the session manager deletes at the restart whatever the
        // path names then: the file first moves where nobody else can
        // change what its new path names, and only with a place on the
        // caller's list to hold it there.
        if (!waiting) return false;
        char moved[MAX_PATH];
        if (!PathNamesFile(path, checked->Id()) ||
            !MoveToWaitingFolder(path, *checked, moved, sizeof moved))
            return false;
        // The take-over keeps new opens out, not handles opened before it: one
        // with DELETE access can still rename the file out of the folder. An
        // open that does not share the delete fails with a sharing violation
        // while any other handle has DELETE access, so one that succeeds
        // proves there is none; kept open, it refuses every later open for
        // deleting, as long as it lasts. It asks DELETE itself: an open for
        // attributes alone takes no part in sharing and would stop no one.
        // An oplock on it breaks this open too: refused all the same, so
        // nothing proves there is no such handle.
        HANDLE held = OpenForDisposal(moved, DELETE | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (held == INVALID_HANDLE_VALUE && escapable) *escapable = true;
        // The restart deletes one name: a file given another (by its owner
        // before the take-over) would stay under that one.
        if (held != INVALID_HANDLE_VALUE && NameCount(held) > 1) {
            CloseHandle(held);
            return false;
        }
        if (!DeleteAtRestart(moved)) {
            if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
            return false;
        }
        waiting->held = held, waiting->id = checked->Id();
        memcpy(waiting->path, moved, sizeof moved);
        // The folder goes at the same restart, after its file (the session
        // manager removes a folder only when it is empty), so waiting
        // folders do not pile up over the runs.
        *strrchr(moved, '\\') = 0;
        DeleteAtRestart(moved);
        return true;
    }
    default:
        return false;
    }
}
