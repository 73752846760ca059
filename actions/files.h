/*
** The room's file actions: every change the program makes to a file, and
** the proof each one takes.
**
** The proof of a file is what the file check (engine/file_check.cpp) found
** when it read it:
**  - on 2000 and later, a handle it opened on the file and the file's
**    identity (engine/file_identity.h: volume and index); likewise on NT
**    4.0, through ntdll's NtSetInformationFile. What goes through
**    the handle needs no other proof; what must go by path first makes sure,
**    here, that the path still names that identity through no link.
**  - on 9x (no identities worth the name, no links), the path the check
**    read, taken as it is.
*/
#ifndef CLEANPHANTAXIS_ACTIONS_FILES_H
#define CLEANPHANTAXIS_ACTIONS_FILES_H

#include "platform/win32.h"
#include <stdint.h>

struct FileId;

/* ---- through a handle to the checked file ---- */

/* Through the handle: clears read-only, hidden and system; marks the file to
   be deleted when its last handle closes. Both resolved at run time:
   SetFileInformationByHandle (Vista and later), else NtSetInformationFile. */
bool ClearAttributesOf(HANDLE file);
bool MarkForDeletion(HANDLE file);

/* ---- by path, re-checked against the checked identity ---- */

/* Renames or moves `path` to `newPath` (MoveFileExA without flags) only
   while `path` names the file `id` through no link; true when `newPath`
   then names that file. Should the path have been changed in the instant
   before the move, what was moved is not that file: it gets its name back,
   and the result is false. */
bool MoveCheckedFile(const char* path, const char* newPath, const FileId& id);

/* True when the deletion of `path` at the next restart is arranged. On NT
   2000 and later the file is first taken over by the Administrators and
   moved into a folder of its own in the Windows folder, which only
   administrators and the system can write, and that path is scheduled; `path` must name the file
   `checked` (when given) through no link, else nothing is arranged.
   `escapable` (when given) is set when the moved file is still open through
   a handle with DELETE access from before the take-over: its holder can
   rename it out of the folder before the restart, so the delete is arranged
   but not sure to happen. */
bool ScheduleDeleteOnRestart(const char* path, const FileId* checked = nullptr,
                             bool* escapable = nullptr);
/* False when `path` is on a drive where no file can wait for the restart
   out of every user's reach (on 2000 and later, a drive other than the
   Windows folder's, or a volume that keeps no security, such as FAT):
   nothing is scheduled there. */
bool HasWaitingPlace(const char* path);
/* True when the line destination=source stands in the [rename] section of
   the Windows folder's wininit.ini, which Windows 9x processes at start. */
bool AddWininitRename(const char* destination, const char* source);

/* ---- by the path the check read (9x, NT 4.0, or a file it could not
   open so) ---- */

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
/* The legacy check's delete: the path as the walk gave it, with no attribute
   reset; true once the name is gone. */
bool DeleteLegacyByPath(const char* path);

#endif
