/*
** The file check: reads a file's PE headers, compares the two windows of each
** variant record, and disposes of an infected file by the scan's action.
*/
#ifndef CLEANPHANTAXIS_FILE_CHECK_H
#define CLEANPHANTAXIS_FILE_CHECK_H

#include "engine/file_identity.h"
#include "engine/pe_layout.h"
#include "platform/win32.h"
#include <stdint.h>

/* What the check reads of a file's headers (see pe_layout.h). */
struct PeImageInfo {
    uint16_t headerOffset;                         // low 16 bits of the DOS header's e_lfanew
    uint8_t fileHeader[pe::kFileHeaderSize];       // IMAGE_FILE_HEADER
    uint8_t optionalHeader[96];                    // the optional header up to its data directories
    uint8_t sections[20 * pe::kSectionHeaderSize]; // up to 20 IMAGE_SECTION_HEADERs
};

/* The file under check open as a handle (2000 and later), with the
   descriptor the check reads through; closing the descriptor closes the
   handle. What the room's actions take of it is the proof the check makes
   from it (CheckedFile, actions/files.h): so its handle and identity are
   the check's alone to fill (FileProver, engine/file_check.cpp). One made
   elsewhere is no file: nothing open, identity unknown. */
class FileUnderCheck {
  public:
    FileUnderCheck() = default;
    int Fd() const { return fd_; }
    /* Whether the file is known beyond its path (2000 and later): it stays
       open until its disposal, and nothing goes by a path that does not
       name it. */
    bool Kept() const { return handle_ != INVALID_HANDLE_VALUE || known_; }

  private:
    int fd_ = -1;
    HANDLE handle_ = INVALID_HANDLE_VALUE; // open for deleting; INVALID_HANDLE_VALUE: it is not
    FileId id_ = {0, 0, 0};                // the file's identity, all 0 when unknown
    bool known_ = false;
    friend struct FileProver;
};

int32_t CheckFile(const char* checkName, const char* path);
/* `path` opened as CheckFile opens a file (on the NT family a handle for
   deleting, or for reading where the file refuses that, with the identity
   read through it; on 9x the run-time's read-only open), for a check that
   reads it and disposes of it in its own way (the legacy check). */
FileUnderCheck OpenFileUnderCheck(const char* path);
/* The delete through the handle the check opened the file by, with no
   attribute reset; the file is closed. True once `path` no longer names a
   file; false where the check holds no handle for deleting. `names` is how
   many names the file had (1 when not read): a file of more than one stays
   under the others, removed or not. */
bool DeleteFileUnderCheck(const FileUnderCheck& file, const char* path, DWORD* names);
/* CheckFile on a file no path of this program reaches (a running image whose
   path is longer than 259 characters and has no short form), open as
   `handle` through its Unicode name, for deleting where `deletable`; `shown`
   (at most 259 characters) names it in the lines and in the disposal walk's
   CheckFile, and nothing else: a shortened path may name a file of anyone's
   making, so no rule by path (autostart values, services, the files matched,
   a rename, the restart's delete) takes it; the file goes through the handle
   or stays. The handle is the check's from here on. */
int32_t CheckHeldFile(const char* shown, HANDLE handle, bool deletable);
/* False when CheckFile, given a file of this listed length, could only open
   it, read its headers and return 0: no record's size filter accepts the
   length and no memory-kill disposal is pending. Lengths of 2 GB and more
   are always handed to the check. */
bool CheckFileCouldHandle(uint64_t listedLength);
/* Closes the handle a memory-scan match kept for the image's disposal walk;
   the process scan calls it once it is done with that process, whether or
   not the disposal walk came. */
void ReleaseMatchedImage();
/* Re-checks the files waiting in a waiting folder (g_scan.fileWaiting): one
   whose folder no longer holds it gets "Unable to remove" (once) and counts
   no more. True while a restart is still needed: a listed file still waits,
   or a deletion that is not listed. */
bool RestartStillNeeded();
/* Closes the handles the waiting files are held by and empties the list. */
void ForgetWaitingFiles();
/* Whether the image a memory-scan match keeps open is the file `id`. */
bool MatchedImageIs(const FileId& id);
bool ReadFileHeader(int fd, PeImageInfo* image);
bool ReadSectionTable(int fd, PeImageInfo* image);
/* The section of `image` the check maps `rva` through: the first of at most
   20 whose end lies above it, else the last; -1 when there is none. */
int SectionOfRva(const PeImageInfo& image, uint32_t rva);
/* The file position the check reads `rva` of `image` at, in the open file. */
uint32_t RvaToFileOffset(const PeImageInfo& image, uint32_t rva, int fd);

/* Reads exactly `count` bytes at absolute file position `position`. The
   run-time library's offsets are 32-bit signed longs on Windows, so a
   position of 2 GB or more is a negative offset there and the seek fails;
   the same is done here on every platform. */
bool ReadAt(int fd, uint32_t position, void* buffer, unsigned count);

/* The name a renamed infected file takes: the character after the last "."
   of its file name becomes "V" (b.exe -> b.Vxe). False when the file name has
   no such character or the result does not fit `size`. */
bool RenamedPath(const char* path, char* out, size_t size);

/* What sets one check's disposal apart from another's: how it deletes a file
   (and the lines it posts for that) and the wording of its report-only line
   (a format taking the status text and the detection name). */
struct DisposalStyle {
    void (*removeFile)(const char* path, const char* name, const FileUnderCheck* file);
    /* The rename of a file no handle was kept for. */
    bool (*renameByPath)(const char* path, const char* renamed);
    const char* reportOnly;
};

/* Disposes of an infected file by g_scan.action, in `style`: one log line,
   none for an unknown action. `file`, when given, is the checked file still
   open: it is deleted through its handle, renamed only while its path names
   it, and closed in every case. */
void DisposeInfected(const DisposalStyle& style, const char* path, const char* name,
                     const FileUnderCheck* file = nullptr);

#endif
