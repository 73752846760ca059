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
** second walk disposes of it. Where that open fails (9x, a file that
** refuses it), the file is opened read-only and closed before anything
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
#include "engine/scan_state.h"
#include "engine/signatures.h"
#include "memory/kill_process.h"
#include "platform/wow64.h"
#include "repair/autostart.h"
#include "actions/files.h"

/* The one maker of the proof of a checked file (actions/files.h): from the
   check's own open, or from a reopen by path that is proved to be the
   identity the check read. */
struct FileProver {
    /* The file the check opened: `handle` for deleting (or
       INVALID_HANDLE_VALUE) and the identity read through its open. */
    static FileUnderCheck Opened(int fd, HANDLE handle, const FileId& id, bool known) {
        FileUnderCheck file;
        file.fd_ = fd;
        file.handle_ = handle;
        file.id_ = id;
        file.known_ = known;
        return file;
    }
    /* The file as the check holds it: its handle for deleting (if any) and
       its identity. */
    static CheckedFile Held(const FileUnderCheck& file) {
        return CheckedFile(file.handle_, file.id_, file.known_);
    }
    /* Its identity alone, once the handle is closed. */
    static CheckedFile Closed(const CheckedFile& file) {
        return CheckedFile(INVALID_HANDLE_VALUE, file.Id(), file.Known());
    }
    static CheckedFile Closed(const FileUnderCheck& file) { return Closed(Held(file)); }
    /* `path` opened for deleting, only when what opens is the checked
       identity (ReopenCheckedFile); no handle otherwise. */
    static CheckedFile Reopened(const char* path, const FileUnderCheck& file) {
        return CheckedFile(ReopenCheckedFile(path, file.id_), file.id_, file.known_);
    }
};

namespace {

/* The image a memory-scan match keeps open for its disposal walk; none
   while `held` is false. The check's own: nothing else fills it. */
struct MatchedImage {
    bool held;
    FileUnderCheck file;
    char path[MAX_PATH + 1];
    bool named; // false: `path` only shows a file known by its handle (CheckHeldFile)
};
MatchedImage g_matchedImage;

using pe::Le16;
using pe::Le32;

constexpr uint32_t kMaxSections = 20;
constexpr uint32_t kWindowSize = 20;
// The section table is taken to follow a PE32 optional header of 224 bytes
// (16 data directories); SizeOfOptionalHeader is not consulted.
constexpr uint32_t kSectionTableOffset = pe::kNtHeaders32Size;
static_assert(sizeof(PeImageInfo::optionalHeader) > pe::kSizeOfHeaders + 3, "SizeOfHeaders read");

uint32_t SectionCount(const PeImageInfo& image) {
    return Le16(image.fileHeader + pe::kNumberOfSections);
}
uint32_t EntryPoint(const PeImageInfo& image) {
    return Le32(image.optionalHeader + pe::kAddressOfEntryPoint);
}
uint32_t SizeOfHeaders(const PeImageInfo& image) {
    return Le32(image.optionalHeader + pe::kSizeOfHeaders);
}
/* A field of section header `i`. */
uint32_t Section(const PeImageInfo& image, uint32_t i, uint32_t field) {
    return Le32(image.sections + i * pe::kSectionHeaderSize + field);
}
uint32_t SectionEnd(const PeImageInfo& image, uint32_t i) {
    return Section(image, i, pe::kVirtualAddress) + Section(image, i, pe::kVirtualSize);
}

/* Whether the 20 bytes at the file position of `rva` equal the pattern. */
bool WindowMatches(const PeImageInfo& image, int fd, uint32_t rva, const uint8_t* pattern) {
    uint8_t window[kWindowSize];
    return ReadAt(fd, RvaToFileOffset(image, rva, fd), window, kWindowSize) &&
           memcmp(window, pattern, kWindowSize) == 0;
}

/* The size filter of a record: mode 1 exact, mode 2 within the tolerance,
   mode 3 any length, anything else never. */
/* Deliberate: mode 2 takes a length less than 4096 bytes from the record's
   size, where the legacy check's SizeFits takes 4096 too. The exported YARA
   and ClamAV size ranges follow this bound; pinned by
   FileCheckTest.SizeModesFilterBeforeAnyWindowIsRead. */
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

/* A file not removed: it waits for the restart where it can. A file whose
   delete Windows only marked (other handles hold it) goes when the last of
   them closes, at the latest at the restart: it cannot be opened, so not
   moved either, but the restart is offered all the same. Only a file whose
   identity is known (`checked`), or one handled by path (`byPath`), is scheduled. */
void LeftForTheRestart(const char* path, const char* name, const CheckedFile* checked, bool byPath,
                       bool marked) {
    PostLogLine("%s     %s Unable to remove", path, name);
    bool escapable = false;
    // Once a deletion waits for the restart, a later failed request must not
    // withdraw the restart offer: the flag only ever becomes set.
    if (!HasWaitingPlace(path))
        PostLogLine("%s     %s Not scheduled for restart: no protected folder on its drive", path,
                    name);
    else {
        // A program that held the file open for deleting before it was moved
        // may move it out again: no restart is offered for a delete it can
        // undo.
        // A file moved into a waiting folder is kept on the list, with the
        // handle that holds it there, while there is room; past that it is
        // not moved (nothing would hold it there): its line says it stays.
        const int32_t slots = (int32_t)(sizeof g_scan.fileWaiting / sizeof g_scan.fileWaiting[0]);
        WaitingFile waiting;
        waiting.path[0] = 0;
        const bool scheduled =
            (checked || byPath) &&
            ScheduleDeleteOnRestart(path, checked, &escapable,
                                    g_scan.filesWaiting < slots ? &waiting : nullptr);
        if (escapable)
            PostLogLine(
                "%s     %s Scheduled for restart, but a program holding it may move it away", path,
                name);
        else if (scheduled || marked)
            g_scan.restartNeeded = TRUE;
        if (scheduled && waiting.path[0]) {
            auto& entry = g_scan.fileWaiting[g_scan.filesWaiting++];
            entry.file = waiting;
            CopyText(entry.checkedPath, sizeof entry.checkedPath, path);
            CopyText(entry.name, sizeof entry.name, name);
            entry.counts = !escapable;
        } else if (marked || (scheduled && !escapable)) {
            g_scan.restartOtherwise = TRUE;
        }
    }
}

/* Marks the checked file for deletion through its handle, its `names` (hard
   links) read first, while the handle is the file's. */
bool MarkCountingNames(const CheckedFile& checked, DWORD* names) {
    *names = NameCount(checked.Handle());
    return MarkForDeletion(checked);
}

/* The end of a delete: `gone` when the name is gone, `marked` when Windows
   took the delete. A file of `names` names (hard links) stays under the
   others when one goes: not removed, and not moved to wait for the restart
   either, since a delete then would take no more than that name; only a
   delete still waiting for other handles to close is left to the restart. */
void Settle(const char* path, const char* name, DWORD names, bool marked, bool gone,
            const CheckedFile* checked, bool byPath) {
    if (names > 1 && (gone || !marked)) {
        PostLogLine("%s     %s Unable to remove", path, name);
        return;
    }
    if (gone) {
        g_scan.filesRemoved++;
        PostLogLine("%s     %s removed", path, name);
        return;
    }
    LeftForTheRestart(path, name, checked, byPath, marked);
}

void DeleteInfected(const char* path, const char* name) {
    if (!ClearAttributesByPath(path)) {
        PostLogLine("%s     %s Unable to remove", g_scan.statusText, g_scan.detectionName);
        return;
    }
    const DWORD names = NameCountAt(path);
    // A running program may hold the file: terminate it and try once more.
    PathDelete deleted = DeleteByPath(path);
    if (deleted == PathDelete::Refused && KillProcessByImage(path)) deleted = DeleteByPath(path);
    Settle(path, name, names, deleted != PathDelete::Refused, deleted == PathDelete::Done, nullptr,
           true);
}

/* The file open as `handle` (for deleting where `deletable`), read through a
   descriptor made from it; nothing open when there is none. */
FileUnderCheck FromHandle(HANDLE handle, bool deletable) {
    // An open that reached a device rather than a file on a disk is never
    // read as a file.
    if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    if (handle == INVALID_HANDLE_VALUE)
        return FileProver::Opened(-1, INVALID_HANDLE_VALUE, FileId{0, 0, 0}, false);
    FileId id = {0, 0, 0};
    const bool known = IdentityOf(handle, &id);
    if (!known) id = FileId{0, 0, 0};
    const int fd = _open_osfhandle((intptr_t)handle, _O_RDONLY);
    if (fd < 0) CloseHandle(handle);
    return FileProver::Opened(fd, fd >= 0 && deletable ? handle : INVALID_HANDLE_VALUE, id, known);
}

FileUnderCheck OpenForCheck(const char* path) {
    if (CheckedFileHandles()) {
        HANDLE handle = OpenCheckedFile(path);
        const bool deletable = handle != INVALID_HANDLE_VALUE;
        // A file that refuses the delete (a program holds it without sharing
        // it, or its security denies it) is read through a plain handle: its
        // identity still tells which file was checked, and the delete waits
        // for a handle to that very file.
        if (!deletable) handle = OpenFileForReading(path);
        const FileUnderCheck file = FromHandle(handle, deletable);
        if (file.Fd() >= 0) return file;
    }
    return FileProver::Opened(OpenDescriptorForReading(path), INVALID_HANDLE_VALUE, FileId{0, 0, 0},
                              false);
}

/* The delete through a handle to the checked file; the file goes when the
   handle closes. A file the check could only read is opened for deleting
   now, and only a handle to that very file is used. */
void DeleteChecked(const FileUnderCheck& file, const char* path, const char* name,
                   bool named = true) {
    int fd = file.Fd();
    CheckedFile checked = FileProver::Held(file);
    const bool known = checked.Known();
    const FileId id = checked.Id();
    if (checked.Handle() == INVALID_HANDLE_VALUE && !named) {
        _close(fd); // no path reaches it again
        PostLogLine("%s     %s Unable to remove", path, name);
        return;
    }
    if (checked.Handle() == INVALID_HANDLE_VALUE) {
        _close(fd); // it was opened for reading only
        fd = -1;
        checked = FileProver::Reopened(path, file);
    }
    auto release = [&] {
        if (ChangeLeftOn(checked.Handle())) {
            // left open (see ChangeLeftOn)
        } else if (fd >= 0) {
            _close(fd);
        } else if (checked.Handle() != INVALID_HANDLE_VALUE) {
            CloseHandle(checked.Handle());
        }
        fd = -1;
        checked = FileProver::Closed(checked);
    };
    if (checked.Handle() != INVALID_HANDLE_VALUE && !ClearAttributesOf(checked)) {
        release();
        PostLogLine("%s     %s Unable to remove", g_scan.statusText, g_scan.detectionName);
        return;
    }
    DWORD names = 1;
    auto mark = [&] { return MarkCountingNames(checked, &names); };
    bool removed = checked.Handle() != INVALID_HANDLE_VALUE && mark();
    // The program that holds the file is one whose image is the checked
    // file by identity, whatever its path names by now.
    if (!removed && known && KillProcessByImage(path, &id)) {
        if (checked.Handle() == INVALID_HANDLE_VALUE) {
            checked = FileProver::Reopened(path, file);
            removed =
                checked.Handle() != INVALID_HANDLE_VALUE && ClearAttributesOf(checked) && mark();
        } else {
            removed = mark();
        }
    }
    release();
    // Marked, the file goes only once no other handle holds it: removed when
    // its name is gone now.
    // A file known by its handle alone has no path to look at: the delete
    // Windows took is its removal.
    const bool marked = removed;
    if (!named) {
        removed = marked;
    } else if (marked && known) {
        removed = !StillNamedAt(path, id);
    } else if (marked) {
        NativeFileNames native;
        removed = NameIsGone(path);
    }
    Settle(path, name, names, marked, removed, known && named ? &checked : nullptr, false);
}

/* The file check's delete: through the handle to the checked file, else by
   path, with the attributes reset first, the program that holds the file
   terminated, and the restart asked for when that does not free it. */
void RemoveInfected(const char* path, const char* name, const FileUnderCheck* file) {
    if (file)
        DeleteChecked(*file, path, name);
    else
        DeleteInfected(path, name);
}

const DisposalStyle kFileCheckDisposal = {RemoveInfected, RenameByPath,
                                          "%s     %s not disinfected as per user's selection"};

/* The rename disposal: renames the file and posts "renamed" or "Rename
   failed". With the checked `file` (its handle closed by now), through a
   handle proved to be that file (see MoveCheckedFile), else by path in the
   style's way. */
void RenameInfected(const DisposalStyle& style, const char* path, const char* name,
                    const FileUnderCheck* file) {
    char renamed[MAX_PATH + 1];
    const bool done = RenamedPath(path, renamed, sizeof renamed) &&
                      (file ? MoveCheckedFile(path, renamed, FileProver::Closed(*file))
                            : style.renameByPath(path, renamed));
    if (done)
        PostLogLine("%s     %s renamed", path, name);
    else
        PostLogLine("%s     %s Rename failed", path, name);
}

/* The record the open file matches, in table order; null when none. */
const VariantSignature* MatchingRecord(int fd, long length) {
    PeImageInfo image;
    if (length < 0 || !ReadFileHeader(fd, &image) || !ReadSectionTable(fd, &image)) return nullptr;
    const uint32_t entry = EntryPoint(image);
    for (const VariantSignature* rec = g_variantTable; rec && rec->name[0]; rec++) {
        if (!SizeFits(*rec, length)) continue;
        // Displacements wrap in 32 bits, as RVAs do.
        if (!WindowMatches(image, fd, entry + (uint32_t)rec->offset1, rec->pattern1)) continue;
        if (!WindowMatches(image, fd, entry + (uint32_t)rec->offset2, rec->pattern2)) continue;
        return rec;
    }
    return nullptr;
}

/* The memory scan's disposal of an image whose process it has ended: through
   the handle its check kept, once the file there still is the variant; by
   path where the check could not open it so. */
void DisposeOfImage(const char* checkName, const char* path) {
    const MatchedImage image = g_matchedImage;
    g_matchedImage.held = false;
    const FileUnderCheck& file = image.file;
    const bool shownOnly = !image.named && _stricmp(image.path, path) == 0;
    if (shownOnly && !image.held) {
        PostLogLine("%s     %s Unable to remove", path, checkName);
        return;
    }
    if (!image.held || _stricmp(image.path, path) != 0) {
        if (image.held) _close(file.Fd());
        DisposeInfected(kFileCheckDisposal, path, checkName);
        return;
    }
    // Changed since its check, the file is not removed, and the line says so.
    if (!MatchingRecord(file.Fd(), _filelength(file.Fd()))) {
        _close(file.Fd());
        PostLogLine("%s     %s Unable to remove", path, checkName);
        return;
    }
    // Its shown name is no path: no rule by path reaches it, nor a rename.
    if (shownOnly && g_scan.action == ACTION_RENAME) {
        _close(file.Fd());
        PostLogLine("%s     %s Rename failed", path, checkName);
    } else if (shownOnly && g_scan.action != ACTION_REPORT_ONLY) {
        DeleteChecked(file, path, checkName, false);
    } else {
        DisposeInfected(kFileCheckDisposal, path, checkName, &file);
    }
}

void ForgetCurrentFile() { memset(g_scan.currentFile, 0, sizeof g_scan.currentFile); }

/* What every check of a file does first: the image a memory-scan match kept
   goes (its disposal walk did not come), and the remembered autostart value
   while nothing was found. */
void BeginCheck() {
    ReleaseMatchedImage();
    if (g_scan.filesInfected == 0)
        memset(g_scan.autostartValueName, 0, sizeof g_scan.autostartValueName);
}

int32_t CheckOpened(const char* path, const FileUnderCheck& file, bool named = true);

bool SameId(const FileId& a, const FileId& b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

/* Whether `file`, named `path`, is one this run moved into a waiting
   folder, met there: by its waiting path and identity both. An identity
   alone is no drive's (a clone of the volume, or a stick with a chosen
   serial, repeats it), and a name the file has elsewhere is checked. */
bool LeftWaiting(const char* path, const CheckedFile& file) {
    for (int32_t i = 0; file.Known() && i < g_scan.filesWaiting; i++) {
        const WaitingFile& waiting = g_scan.fileWaiting[i].file;
        if (_stricmp(waiting.path, path) == 0 && SameId(waiting.id, file.Id())) return true;
    }
    return false;
}

} // namespace

bool RestartStillNeeded() {
    bool waits = false;
    for (int32_t i = 0; i < g_scan.filesWaiting; i++) {
        auto& entry = g_scan.fileWaiting[i];
        const WaitingFile& file = entry.file;
        if (!file.path[0]) continue; // left its folder: said already
        // The handle still reaches the checked file, by its one name (the
        // restart deletes no other), and the path in the waiting folder
        // names it, through no link.
        NativeFileNames native;
        if ((file.held == INVALID_HANDLE_VALUE ||
             (IsFile(file.held, file.id) && NameCount(file.held) == 1)) &&
            PathNamesFile(file.path, file.id)) {
            waits = waits || entry.counts;
            continue;
        }
        PostLogLine("%s     %s Unable to remove", entry.checkedPath, entry.name);
        entry.file.path[0] = 0;
        entry.counts = false;
    }
    return g_scan.restartNeeded && (g_scan.restartOtherwise || waits);
}

void ForgetWaitingFiles() {
    for (int32_t i = 0; i < g_scan.filesWaiting; i++) {
        HANDLE& held = g_scan.fileWaiting[i].file.held;
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    }
    g_scan.filesWaiting = 0;
}

FileUnderCheck OpenFileUnderCheck(const char* path) { return OpenForCheck(path); }

bool DeleteFileUnderCheck(const FileUnderCheck& file, const char* path, DWORD* names) {
    const CheckedFile checked = FileProver::Held(file);
    *names = 1;
    const bool marked =
        checked.Handle() != INVALID_HANDLE_VALUE && MarkCountingNames(checked, names);
    _close(file.Fd()); // the file goes as its handle closes
    NativeFileNames native;
    return marked && NameIsGone(path);
}

bool ReadAt(int fd, uint32_t position, void* buffer, unsigned count) {
    if (position > 0x7FFFFFFFu) return false;
    const long offset = (long)position;
    if (_lseek(fd, offset, SEEK_SET) != offset) return false;
    return _read(fd, buffer, count) == (int)count;
}

void DisposeInfected(const DisposalStyle& style, const char* path, const char* name,
                     const FileUnderCheck* file) {
    const bool removes = g_scan.action == ACTION_DELETE || g_scan.action == ACTION_DELETE_TOO;
    if (file && !removes) _close(file->Fd()); // nothing else goes through the handle
    switch (g_scan.action) {
    case ACTION_DELETE:
    case ACTION_DELETE_TOO:
        style.removeFile(path, name, file);
        break;
    case ACTION_RENAME:
        RenameInfected(style, path, name, file);
        break;
    case ACTION_REPORT_ONLY:
        PostLogLine(style.reportOnly, g_scan.statusText, g_scan.detectionName);
        break;
    default:
        break;
    }
}

void ReleaseMatchedImage() {
    if (g_matchedImage.held) _close(g_matchedImage.file.Fd());
    g_matchedImage.held = false;
}

bool MatchedImageIs(const FileId& id) {
    const CheckedFile held = FileProver::Held(g_matchedImage.file);
    return g_matchedImage.held && held.Known() && SameId(held.Id(), id);
}

bool ReadFileHeader(int fd, PeImageInfo* image) {
    uint8_t pointer[2], signature[4];
    if (!ReadAt(fd, pe::kDosNewHeader, pointer, sizeof pointer)) return false;
    image->headerOffset = Le16(pointer);
    if (!ReadAt(fd, image->headerOffset, signature, sizeof signature)) return false;
    if (memcmp(signature, "PE\0\0", 4) != 0) return false;
    return ReadAt(fd, image->headerOffset + pe::kNtFileHeader, image->fileHeader,
                  sizeof image->fileHeader);
}

bool ReadSectionTable(int fd, PeImageInfo* image) {
    if (!ReadAt(fd, image->headerOffset + pe::kNtOptionalHeader, image->optionalHeader,
                sizeof image->optionalHeader))
        return false;
    const uint32_t count = SectionCount(*image);
    if (count > kMaxSections) return false;
    memset(image->sections, 0, sizeof image->sections);
    if (count == 0) return true;
    return ReadAt(fd, image->headerOffset + kSectionTableOffset, image->sections,
                  count * pe::kSectionHeaderSize);
}

int SectionOfRva(const PeImageInfo& image, uint32_t rva) {
    // The count comes from the file header; never look past the 20 headers
    // the buffer holds, whoever filled it.
    uint32_t count = SectionCount(image);
    if (count > kMaxSections) count = kMaxSections;
    if (count == 0) return -1;
    uint32_t i = 0;
    while (i < count && SectionEnd(image, i) <= rva)
        i++;
    return (int)(i == count ? count - 1 : i); // beyond every section: the last one
}

uint32_t RvaToFileOffset(const PeImageInfo& image, uint32_t rva, int fd) {
    uint32_t offset = rva;
    const int i = SectionOfRva(image, rva);
    if (i >= 0)
        offset = rva + Section(image, (uint32_t)i, pe::kPointerToRawData) -
                 Section(image, (uint32_t)i, pe::kVirtualAddress);
    const long length = _filelength(fd);
    if (length < 0 || (uint64_t)offset >= (uint64_t)length) offset = rva;
    return offset ? offset : SizeOfHeaders(image);
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
        /* Deliberate: 0 after the disposal walk has disposed of the file, as
           for a file that matched nothing. The walk then offers the file to
           any later check of its list; pinned by
           FileCheckTest.MemoryKillDisposalDisposesWithoutMatching. */
        return 0;
    }
    BeginCheck();
    const FileUnderCheck file = OpenForCheck(path);
    if (file.Fd() < 0) {
        // A file that is there and cannot be read is not passed over in
        // silence: its security may shut the program out, or its owner hold
        // it without sharing. One gone since it was listed is no file.
        if (!NameIsGone(path)) PostLogLine("%s     Unable to check", path);
        return 0;
    }
    return CheckOpened(path, file);
}

int32_t CheckHeldFile(const char* shown, HANDLE handle, bool deletable) {
    CheckScanStateRules();
    BeginCheck();
    const FileUnderCheck file = FromHandle(handle, deletable);
    return file.Fd() < 0 ? 0 : CheckOpened(shown, file, false);
}

namespace {

/* The check of the file open as `file`, named `path` in its lines; a path
   the rules by path follow only where `named` (else it only shows the file,
   and those rules have none: the autostart cleanup, the list of variants
   matched, a service's command). */
int32_t CheckOpened(const char* path, const FileUnderCheck& file, bool named) {
    // The walk may meet a file this run left waiting for the restart again,
    // in its waiting folder: it has had its count and its line.
    if (LeftWaiting(path, FileProver::Held(file))) {
        _close(file.Fd());
        return 0;
    }
    ForgetCurrentFile();
    if (named) CopyText(g_scan.currentFile, sizeof g_scan.currentFile, path);

    const VariantSignature* rec = MatchingRecord(file.Fd(), _filelength(file.Fd()));
    if (!rec) {
        ForgetCurrentFile();
        _close(file.Fd());
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
    if (!file.Kept()) _close(file.Fd());
    const CheckedFile held = FileProver::Held(file);
    CleanSystemEntries(name, held.Known() ? &held.Id() : nullptr);
    CopyText(g_scan.detectionName, sizeof g_scan.detectionName, name);
    CopyText(g_scan.statusText, sizeof g_scan.statusText, path);
    // Never cut: a shortened path would name some other file.
    if (named && strlen(path) < sizeof g_scan.provedVariant)
        CopyText(g_scan.provedVariant, sizeof g_scan.provedVariant, path);
    else
        g_scan.provedVariant[0] = 0;
    if (g_scan.memoryScanMode) {
        g_scan.fileMatched = true;
        if (file.Kept()) {
            g_matchedImage.held = true;
            g_matchedImage.file = file;
        }
        CopyText(g_matchedImage.path, sizeof g_matchedImage.path, path);
        g_matchedImage.named = named;
        return 1;
    }
    DisposeInfected(kFileCheckDisposal, path, name, file.Kept() ? &file : nullptr);
    ForgetCurrentFile();
    return 1;
}

} // namespace

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
