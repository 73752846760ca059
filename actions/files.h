/*
** The room's file actions: every change the program makes to a file, and
** the proof each one takes.
**
** The proof of a file is what the file check (engine/file_check.cpp) found
** when it read it:
**  - on 2000 and later, a handle it opened on the file and the file's
**    identity (engine/file_identity.h: volume and index); likewise on NT
**    4.0, through ntdll's NtSetInformationFile. What goes through the
**    handle needs no other proof; a file reopened by path is used only when
**    its handle is proved to be that identity. That is a CheckedFile, and
**    only the file check makes one.
**  - on 9x (no identities worth the name, no links), the path the check
**    read, taken as it is.
*/
#ifndef CLEANPHANTAXIS_ACTIONS_FILES_H
#define CLEANPHANTAXIS_ACTIONS_FILES_H

#include "engine/file_identity.h"
#include "platform/open_file.h"
#include "platform/win32.h"
#include <stdint.h>

/* A file the check read, on the NT family: the handle it holds on it for
   deleting (INVALID_HANDLE_VALUE once closed, or where the file refused the
   delete and was only read), and the identity it read through the handle it
   read by (Known() false when none could be read). Only the file check
   (FileProver, engine/file_check.cpp) makes one, from its own open or from
   a reopen proved to be that identity. */
class CheckedFile {
  public:
    HANDLE Handle() const { return handle_; }
    bool Known() const { return known_; }
    const FileId& Id() const { return id_; }
    // One proof of one open: handed on, never duplicated.
    CheckedFile(const CheckedFile&) = delete;
    CheckedFile& operator=(const CheckedFile&) = delete;
    CheckedFile(CheckedFile&&) = default;
    CheckedFile& operator=(CheckedFile&&) = default;

  private:
    CheckedFile(HANDLE handle, const FileId& id, bool known)
        : handle_(handle), id_(id), known_(known) {}
    HANDLE handle_;
    FileId id_;
    bool known_;
    friend struct FileProver;     // engine/file_check.cpp
    friend struct ProofsForTests; // tests/world.h: the tests' one door
};

/* ---- the check's opens on NT ---- */

/* Opens the existing drive path `name` ("X:\\..." or "\\\\?\\X:\\...") on NT
   through NtCreateFile, as CreateFileA would for backup semantics, except
   that an open which breaks another program's oplock never waits for its
   owner: with FILE_COMPLETE_IF_OPLOCKED it completes at once with
   STATUS_OPLOCK_BREAK_IN_PROGRESS (Microsoft's ZwCreateFile page), and such
   a file is closed again and refused with ERROR_SHARING_VIOLATION; a failed
   open sets the error CreateFileA would (RtlNtStatusToDosError). It opens,
   never creates (FILE_OPEN). *tried false: the door's OpenExisting is to
   open it (9x, no such ntdll function, or a path NtCreateFile does not
   take). The room's own later opens of a checked file (to take it over,
   move it, hold it where it waits for the restart) go the same way. */
HANDLE OpenExistingWithoutWaiting(const char* name, FileAccess access, FileSharing sharing,
                                  bool* tried);
/* The same for the Unicode drive path `path` in its "\\\\?\\X:\\..." form (up
   to 32,766 characters): the memory scan's opens of a process's images by
   the kernel's names. *tried false: the door's WideOpener is to open it. */
HANDLE OpenWideWithoutWaiting(const WCHAR* path, FileAccess access, FileSharing sharing,
                              bool* tried);
/* Looks the ntdll functions of that open up again: each scan run does it
   before anything turns the WoW64 redirection off (a library loaded while
   it is off may come from the other half of the system). */
void ResolveFileOpens();

/* ---- through the handle of the checked file ---- */

/* Through the proof's handle: clears read-only, hidden and system; marks the
   file to be deleted when its last handle closes (false without a handle).
   Both resolved at run time: SetFileInformationByHandle (Vista and later),
   else NtSetInformationFile. */
bool ClearAttributesOf(const CheckedFile& file);
bool MarkForDeletion(const CheckedFile& file);
/* Whether a change through `file` (the delete mark, a rename, a change of
   security) was left to a thread of its own past its time limit: another
   program's lease held it up and the cancel did not end it. Such a handle
   is left open: its close would wait for the change. */
bool ChangeLeftOn(HANDLE file);
/* Starts the list ChangeLeftOn reads afresh, for a system whose handle
   values start again (a test's new world); the records stay with their
   threads. A left handle is never closed, so Windows never reuses its value. */
void ForgetLeftChanges();

/* ---- by path, re-checked against the checked identity ---- */

/* Only while `path` names the checked file (by its identity) through no
   link: renames or moves that file, opened at `path` for deleting and proved
   once more to be it, to
   `newPath` through that handle (SetFileInformationByHandle on Vista and
   later, else NtSetInformationFile; both resolved at run time): nothing else
   moves, whatever a folder of `path` names by then. A `newPath` in the same
   folder as `path` is given as a name alone, so the file keeps its real
   folder. Never replaces a file; NT only. */
bool MoveCheckedFile(const char* path, const char* newPath, const CheckedFile& checked);

/* True when the deletion of `path` at the next restart is arranged. On NT
   nothing is arranged without `checked` or with one of unknown identity; on
   2000 and later `path` must name the file `checked` through no link, else
   nothing is arranged, and the file is first taken over by the Administrators and moved
   into a folder of its own, which only administrators and the system can
   write, in the Windows folder or at the root of another drive whose
   security leaves its children to them, and that path is scheduled. On 9x the path the
   check read is the proof (a wininit.ini entry).
   `escapable` (when given) is set when the moved file is still open through
   a handle with DELETE access from before the take-over: its holder can
   rename it out of the folder before the restart, so the delete is arranged
   but not sure to happen.
   `waiting` gets the moved file (see WaitingFile) and with it the handle
   that keeps others from opening it for deleting; the caller closes that
   handle. Untouched where the file was not moved. Without it, on 2000 and
   later, nothing is moved nor scheduled: a waiting file nobody holds may be
   moved out again. Nor is a file of more than one name (hard links). */
struct WaitingFile;
bool ScheduleDeleteOnRestart(const char* path, const CheckedFile* checked = nullptr,
                             bool* escapable = nullptr, WaitingFile* waiting = nullptr);
/* A file moved into a waiting folder (2000 and later): its path there, the
   identity the check proved, and the program's handle on it, opened for
   DELETE without sharing the delete (INVALID_HANDLE_VALUE when another
   handle had DELETE access, which refuses that open). A handle opened before
   the take-over keeps the access it was granted, WRITE_DAC too, so its
   holder may give the file back a security that lets him open it for
   deleting; while the program's handle is open Windows refuses him that
   open all the same, for sharing, whatever the security says. Only the
   program's own exit ends that. */
struct WaitingFile {
    HANDLE held;
    FileId id;
    char path[MAX_PATH];
};
/* False when `path` is on a drive where no file can wait for the restart
   out of every user's reach (on 2000 and later, a volume that keeps no
   security, such as FAT, or a drive other than the Windows folder's whose
   root lets others than administrators and the system own it, delete its
   children or change its security): nothing is scheduled there. */
bool HasWaitingPlace(const char* path);
/* True when the line destination=source stands in the [rename] section of
   the Windows folder's wininit.ini, which Windows 9x processes at start;
   false on every other family, which reads no such file. */
bool AddWininitRename(const char* destination, const char* source);

/* ---- by the path the check read (Windows 9x only: false on NT) ---- */

/* Under WoW64 the path is a real name (see NativeFileNames); the redirection
   is back on between the calls, when a process is terminated or a line
   posted. */
bool ClearAttributesByPath(const char* path);
/* What a delete by path came to. Windows takes the delete of a file that
   other handles hold open, sharing the delete, and only marks it: the name
   stays until the last of them closes, and a holder with DELETE access may
   take the mark back (Microsoft's DeleteFile remarks). A delete is done only
   once the name is gone (NameIsGone). */
enum class PathDelete { Refused, Marked, Done };
PathDelete DeleteByPath(const char* path);
bool RenameByPath(const char* path, const char* renamed);
/* The legacy check's delete and rename on 9x (false on NT, where it goes
   through the handle it read the file by): the path as it was given, the
   delete with no attribute reset; a delete is true once the name is gone. */
bool DeleteLegacyByPath(const char* path);
bool RenameLegacyByPath(const char* path, const char* renamed);

#endif
