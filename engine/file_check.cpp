/*
** The file check: decides whether a file is a known variant by reading its PE
** headers and comparing the two 20-byte windows of each variant record, then
** repairs the system entries that belong to a detection and disposes of the
** file by the scan's action (delete, rename or report only).
**
** Only a few small reads are made per file: the DOS header's pointer, the PE
** signature, the file header, the first 96 bytes of the optional header, at
** most 20 section headers, and two 20-byte windows per record whose size
** filter the file passes. The file is always closed before CheckFile
** returns and before any disposal or repair touches it.
**
** On Windows 2000 and later the file is opened once, as a handle for reading
** and deleting (see file_identity.h): the check reads through a run-time
** descriptor made from it, the repair runs while it is open, and the delete
** goes through it; a file the memory scan found stays open until the scan's
** second walk disposes of it. Where that open fails (9x, NT 4.0, a file
** that refuses it), the file is opened read-only and closed before anything
** touches it, and disposed of by path.
**
** The walk asks CheckFileCouldHandle first, with the length the folder
** listing gives, and does not call CheckFile for a file that no record's size
** filter accepts: such a file would only be opened, read and closed. What
** CheckFile would still have done for it leaves no trace: its path in
** currentFile is only read during a match, and the emptying of
** autostartValueName while nothing was found is done again by the check of
** any file that matches.
*/
#include "engine/file_check.h"
#include "engine/file_identity.h"
#include "engine/scan_state.h"
#include "engine/signatures.h"
#include "memory/kill_process.h"
#include "platform/wow64.h"
#include "repair/autostart.h"
#include "repair/delete_on_restart.h"

PeImageInfo g_peImage;

namespace {

constexpr uint32_t kMaxSections = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kWindowSize = 20;
// The section table is taken to follow a PE32 optional header of 224 bytes
// (16 data directories); SizeOfOptionalHeader is not consulted.
constexpr uint32_t kSectionTableOffset = 4 + 20 + 224;

uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

uint32_t SectionCount() { return Le16(g_peImage.fileHeader + 2); }
uint32_t EntryPoint() { return Le32(g_peImage.optionalHeader + 16); }
uint32_t SizeOfHeaders() { return Le32(g_peImage.optionalHeader + 60); }
const uint8_t* Section(uint32_t i) { return g_peImage.sections + i * kSectionHeaderSize; }

/* Reads exactly `count` bytes at absolute file position `position`. The
   run-time library's offsets are 32-bit signed longs on Windows, so a
   position of 2 GB or more is a negative offset there and the seek fails;
   the same is done here on every platform. */
bool ReadAt(int fd, uint32_t position, void* buffer, unsigned count) {
    if (position > 0x7FFFFFFFu) return false;
    const long offset = (long)position;
    if (_lseek(fd, offset, SEEK_SET) != offset) return false;
    return _read(fd, buffer, count) == (int)count;
}

/* Whether the 20 bytes at the file position of `rva` equal the pattern. */
bool WindowMatches(int fd, uint32_t rva, const uint8_t* pattern) {
    uint8_t window[kWindowSize];
    return ReadAt(fd, RvaToFileOffset(rva, fd), window, kWindowSize) &&
           memcmp(window, pattern, kWindowSize) == 0;
}

/* The size filter of a record: mode 1 exact, mode 2 within the tolerance,
   mode 3 any length, anything else never. */
bool SizeFits(const VariantSignature& rec, long length) {
    const int64_t difference = (int64_t)length - rec.fileSize;
    switch (rec.sizeMode) {
    case 1:
        return difference == 0;
    case 2:
        return difference > -SIZE_TOLERANCE && difference < SIZE_TOLERANCE;
    case 3:
        return true;
    default:
        return false;
    }
}

/* The file operations on a path the walk gave, which under WoW64 is a real
   name (see NativeFileNames); the redirection is back on between them, when
   a process is terminated or a line posted. */
bool ClearAttributes(const char* path) {
    NativeFileNames native;
    return SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE) != 0;
}

bool Delete(const char* path) {
    NativeFileNames native;
    return DeleteFileA(path) != 0;
}

bool Rename(const char* path, const char* renamed) {
    NativeFileNames native;
    return MoveFileA(path, renamed) != 0;
}

int OpenForReading(const char* path) {
    NativeFileNames native;
    return _open(path, _O_RDONLY | _O_BINARY);
}

void DeleteInfected(const char* path, const char* name) {
    if (!ClearAttributes(path)) {
        PostLogLine("%s     %s Unable to remove", g_scan.statusText, g_scan.detectionName);
        return;
    }
    // A running program may hold the file: terminate it and try once more.
    if (Delete(path) || (KillProcessByImage(path) && Delete(path))) {
        g_scan.filesRemoved++;
        PostLogLine("%s     %s removed", path, name);
        return;
    }
    PostLogLine("%s     %s Unable to remove", path, name);
    // Once a deletion waits for the restart, a later failed request must not
    // withdraw the restart offer: the flag only ever becomes set.
    if (ScheduleDeleteOnRestart(path)) g_scan.restartNeeded = TRUE;
}

/* Disposes of an infected file by the scan's action; one log line each. */
void Dispose(const char* path, const char* name) {
    switch (g_scan.action) {
    case ACTION_DELETE:
    case ACTION_DELETE_TOO:
        DeleteInfected(path, name);
        break;
    case ACTION_RENAME:
        RenameInfected(path, name);
        break;
    case ACTION_REPORT_ONLY:
        PostLogLine("%s     %s not disinfected as per user's selection", g_scan.statusText,
                    g_scan.detectionName);
        break;
    default:
        break;
    }
}

/* The checked file open as a handle, with the descriptor the check reads
   through; closing the descriptor closes the handle. */
struct Checked {
    int fd;
    HANDLE handle; // open for deleting; INVALID_HANDLE_VALUE: it is not
    FileId id;     // the file's identity, all 0 when unknown
    bool known;
    /* Whether the file is known beyond its path (2000 and later): it stays
       open until its disposal, and nothing goes by a path that does not
       name it. */
    bool Kept() const { return handle != INVALID_HANDLE_VALUE || known; }
};

Checked OpenForCheck(const char* path) {
    if (CheckedFileHandles()) {
        HANDLE handle = OpenCheckedFile(path);
        const bool deletable = handle != INVALID_HANDLE_VALUE;
        // A file that refuses the delete (a program holds it without sharing
        // it, or its security denies it) is read through a plain handle: its
        // identity still tells which file was checked, and the delete waits
        // for a handle to that very file.
        if (!deletable) handle = OpenFileForReading(path);
        if (handle != INVALID_HANDLE_VALUE) {
            Checked file = {-1, deletable ? handle : INVALID_HANDLE_VALUE, {0, 0, 0}, false};
            file.known = IdentityOf(handle, &file.id);
            if (!file.known) file.id = FileId{0, 0, 0};
            file.fd = _open_osfhandle((intptr_t)handle, _O_RDONLY);
            if (file.fd >= 0) return file;
            CloseHandle(handle);
        }
    }
    return Checked{OpenForReading(path), INVALID_HANDLE_VALUE, {0, 0, 0}, false};
}

/* The delete through a handle to the checked file; the file goes when the
   handle closes. A file the check could only read is opened for deleting
   now, and only a handle to that very file is used. */
void DeleteChecked(const Checked& file, const char* path, const char* name) {
    int fd = file.fd;
    HANDLE handle = file.handle;
    if (handle == INVALID_HANDLE_VALUE) {
        _close(fd); // it does not share the delete
        fd = -1;
        handle = ReopenCheckedFile(path, file.id);
    }
    auto release = [&] {
        if (fd >= 0)
            _close(fd);
        else if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        fd = -1;
        handle = INVALID_HANDLE_VALUE;
    };
    if (handle != INVALID_HANDLE_VALUE && !ClearAttributesOf(handle)) {
        release();
        PostLogLine("%s     %s Unable to remove", g_scan.statusText, g_scan.detectionName);
        return;
    }
    bool removed = handle != INVALID_HANDLE_VALUE && MarkForDeletion(handle);
    // The program that holds the file is looked for by its path, so only
    // while that path is the file's own.
    if (!removed && file.known && PathNamesFile(path, file.id) && KillProcessByImage(path)) {
        if (handle == INVALID_HANDLE_VALUE) {
            handle = ReopenCheckedFile(path, file.id);
            removed = handle != INVALID_HANDLE_VALUE && ClearAttributesOf(handle) &&
                      MarkForDeletion(handle);
        } else {
            removed = MarkForDeletion(handle);
        }
    }
    release();
    if (removed) {
        g_scan.filesRemoved++;
        PostLogLine("%s     %s removed", path, name);
        return;
    }
    PostLogLine("%s     %s Unable to remove", path, name);
    if (file.known && ScheduleDeleteOnRestart(path, &file.id)) g_scan.restartNeeded = TRUE;
}

/* A rename goes by path: only while the path still names the checked file
   (an unknown identity is named by no path). */
void RenameChecked(const Checked& file, const char* path, const char* name) {
    _close(file.fd);
    RenameInfected(path, name, &file.id);
}

/* Disposes of a file opened as a handle; closes it. */
void DisposeChecked(const Checked& file, const char* path, const char* name) {
    switch (g_scan.action) {
    case ACTION_DELETE:
    case ACTION_DELETE_TOO:
        DeleteChecked(file, path, name);
        break;
    case ACTION_RENAME:
        RenameChecked(file, path, name);
        break;
    default:
        _close(file.fd);
        Dispose(path, name);
        break;
    }
}

/* The image the memory scan matched, open until its disposal walk. */
Checked g_matchedImage = {-1, INVALID_HANDLE_VALUE, {0, 0, 0}, false};
char g_matchedImagePath[MAX_PATH + 1];

/* The record the open file matches, in table order; null when none. */
const VariantSignature* MatchingRecord(int fd, long length) {
    if (length < 0 || !ReadFileHeader(fd) || !ReadSectionTable(fd)) return nullptr;
    const uint32_t entry = EntryPoint();
    for (const VariantSignature* rec = g_variantTable; rec && rec->name[0]; rec++) {
        if (!SizeFits(*rec, length)) continue;
        // Displacements wrap in 32 bits, as RVAs do.
        if (!WindowMatches(fd, entry + (uint32_t)rec->offset1, rec->pattern1)) continue;
        if (!WindowMatches(fd, entry + (uint32_t)rec->offset2, rec->pattern2)) continue;
        return rec;
    }
    return nullptr;
}

/* The memory scan's disposal of an image whose process it has ended: through
   the handle its check kept, once the file there still is the variant; by
   path where the check could not open it so. */
void DisposeOfImage(const char* checkName, const char* path) {
    const Checked file = g_matchedImage;
    g_matchedImage = Checked{-1, INVALID_HANDLE_VALUE, {0, 0, 0}, false};
    if (file.fd < 0 || _stricmp(g_matchedImagePath, path) != 0) {
        if (file.fd >= 0) _close(file.fd);
        Dispose(path, checkName);
        return;
    }
    // Changed since its check, the file is not removed, and the line says so.
    if (!MatchingRecord(file.fd, _filelength(file.fd))) {
        _close(file.fd);
        PostLogLine("%s     %s Unable to remove", path, checkName);
        return;
    }
    DisposeChecked(file, path, checkName);
}

void ForgetCurrentFile() { memset(g_scan.currentFile, 0, sizeof g_scan.currentFile); }

} // namespace

void ReleaseMatchedImage() {
    if (g_matchedImage.fd >= 0) _close(g_matchedImage.fd);
    g_matchedImage = Checked{-1, INVALID_HANDLE_VALUE, {0, 0, 0}, false};
}

bool ReadFileHeader(int fd) {
    uint8_t pointer[2], signature[4];
    if (!ReadAt(fd, 60, pointer, sizeof pointer)) return false;
    g_peImage.headerOffset = Le16(pointer);
    if (!ReadAt(fd, g_peImage.headerOffset, signature, sizeof signature)) return false;
    if (memcmp(signature, "PE\0\0", 4) != 0) return false;
    return ReadAt(fd, g_peImage.headerOffset + 4u, g_peImage.fileHeader,
                  sizeof g_peImage.fileHeader);
}

bool ReadSectionTable(int fd) {
    if (!ReadAt(fd, g_peImage.headerOffset + 24u, g_peImage.optionalHeader,
                sizeof g_peImage.optionalHeader))
        return false;
    const uint32_t count = SectionCount();
    if (count > kMaxSections) return false;
    memset(g_peImage.sections, 0, sizeof g_peImage.sections);
    if (count == 0) return true;
    return ReadAt(fd, g_peImage.headerOffset + kSectionTableOffset, g_peImage.sections,
                  count * kSectionHeaderSize);
}

uint32_t RvaToFileOffset(uint32_t rva, int fd) {
    // The count comes from the file header; never look past the 20 headers
    // the buffer holds, whoever filled it.
    uint32_t count = SectionCount();
    if (count > kMaxSections) count = kMaxSections;
    uint32_t offset = rva;
    if (count > 0) {
        uint32_t i = 0;
        while (i < count && Le32(Section(i) + 12) + Le32(Section(i) + 8) <= rva)
            i++;
        if (i == count) i = count - 1; // beyond every section: the last one
        offset = rva + Le32(Section(i) + 20) - Le32(Section(i) + 12);
    }
    const long length = _filelength(fd);
    if (length < 0 || (uint64_t)offset >= (uint64_t)length) offset = rva;
    return offset ? offset : SizeOfHeaders();
}

bool CheckFileCouldHandle(uint64_t listedLength) {
    // A pending memory-kill disposal removes the file whatever its length.
    if (g_scan.pendingMemoryAction != 0 && g_scan.mainWindow) return true;
    // The run-time's lengths are 32-bit signed: what the check makes of a
    // larger file is left to the check itself.
    if (listedLength > 0x7FFFFFFFu) return true;
    for (const VariantSignature* rec = g_variantTable; rec && rec->name[0]; rec++)
        if (SizeFits(*rec, (long)listedLength)) return true;
    return false;
}

int32_t CheckFile(const char* checkName, const char* path) {
    CheckScanStateRules();
    // The memory scan has just terminated the process running this file and
    // walks its image again: dispose of it.
    if (g_scan.pendingMemoryAction != 0 && g_scan.mainWindow) {
        g_scan.action = g_scan.pendingMemoryAction;
        PostLogLine("System Memory    W32/Phantaxis.Backdoor removed");
        Sleep(1000);
        DisposeOfImage(checkName, path);
        ForgetCurrentFile();
        return 0;
    }
    ReleaseMatchedImage(); // its disposal walk did not come
    if (g_scan.filesInfected == 0)
        memset(g_scan.autostartValueName, 0, sizeof g_scan.autostartValueName);

    const Checked file = OpenForCheck(path);
    if (file.fd < 0) return 0;
    ForgetCurrentFile();
    CopyText(g_scan.currentFile, sizeof g_scan.currentFile, path);

    const VariantSignature* rec = MatchingRecord(file.fd, _filelength(file.fd));
    if (!rec) {
        ForgetCurrentFile();
        _close(file.fd);
        return 0;
    }
    // A record's name field holds at most 49 characters; a table that fills
    // all 50 bytes still yields a terminated name.
    char name[sizeof rec->name];
    memcpy(name, rec->name, sizeof name - 1);
    name[sizeof name - 1] = 0;

    g_scan.filesInfected++;
    // A file open by path is closed before anything touches it; a handle
    // stays open until the disposal.
    if (!file.Kept()) _close(file.fd);
    CleanSystemEntries(name);
    CopyText(g_scan.detectionName, sizeof g_scan.detectionName, name);
    CopyText(g_scan.statusText, sizeof g_scan.statusText, path);
    if (g_scan.memoryScanMode) {
        g_scan.fileMatched = true;
        if (file.Kept()) {
            g_matchedImage = file;
            CopyText(g_matchedImagePath, sizeof g_matchedImagePath, path);
        }
        return 1;
    }
    if (!file.Kept())
        Dispose(path, name);
    else
        DisposeChecked(file, path, name);
    ForgetCurrentFile();
    return 1;
}

/* Only the last path component is looked at, so a dot in a folder name
   never moves the file elsewhere. */
bool RenamedPath(const char* path, char* out, size_t size) {
    if (strlen(path) >= size) return false;
    CopyText(out, size, path);
    char* name = out;
    for (char* p = out; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    char* dot = strrchr(name, '.');
    if (!dot || !dot[1]) return false;
    dot[1] = 'V';
    return true;
}

void RenameInfected(const char* path, const char* name, const FileId* checked) {
    char renamed[MAX_PATH + 1];
    const bool done = RenamedPath(path, renamed, sizeof renamed) &&
                      (checked ? MoveCheckedFile(path, renamed, *checked) : Rename(path, renamed));
    if (done)
        PostLogLine("%s     %s renamed", path, name);
    else
        PostLogLine("%s     %s Rename failed", path, name);
}
