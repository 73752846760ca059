/*
** The checked file as a file, not a name: on Windows 2000 and later the file
** check opens a file once, for reading and deleting, and what it deletes is
** the file it read, whatever its path names by then.
**
** A path can be changed under the program: any user may move a folder aside
** and put a directory link (a junction) to another folder in its place. What
** must go by path (a rename, the move before a delete at restart, the search
** for the process that holds the file) first makes sure the path still names
** the checked file and runs through no link. Windows 9x and NT 4.0 have no
** junctions; there, and for a file that cannot be opened so, files go by path.
*/
#ifndef CLEANPHANTAXIS_FILE_IDENTITY_H
#define CLEANPHANTAXIS_FILE_IDENTITY_H

#include "platform/win32.h"
#include <stddef.h>

/* What tells one file from every other: the volume's serial number and the
   file's index on it (hard links to one file share it). */
struct FileId {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

/* Whether files are opened and deleted through handles: the NT family. */
bool CheckedFileHandles();

/* Opens `path` (a real name, see NativeFileNames) for reading, for deleting
   and for its attributes, sharing as the run-time's own open does (read and
   write); INVALID_HANDLE_VALUE when it cannot be. This open and every other
   of a file the program reads, proves or deletes asks for backup semantics
   (FILE_FLAG_BACKUP_SEMANTICS): with the privileges EnableBackupPrivileges
   enables, a file whose security shuts Administrators out opens too. */
HANDLE OpenCheckedFile(const char* path);
/* Opens `path` for reading only, sharing reading, writing and deleting: a
   file its owner holds open for deleting (sharing everything) is read all
   the same, and what a later step does to it goes by its identity. */
HANDLE OpenFileForReading(const char* path);
/* A run-time descriptor that reads `path`; on NT through OpenFileForReading
   (the run-time's own open does not share deleting), on 9x, which has no
   delete sharing, through the run-time. -1 when it cannot be opened, and
   where the open reached no file on a disk (GetFileType). */
int OpenDescriptorForReading(const char* path);
/* Opens `path` as OpenCheckedFile does, but only when what opens is the
   file `id` (by whatever name): INVALID_HANDLE_VALUE otherwise. */
HANDLE ReopenCheckedFile(const char* path, const FileId& id);
bool IdentityOf(HANDLE file, FileId* id);
/* How many names the file of a handle has (its hard links), as the file
   system counts them; 1 when it does not say (FAT has one name per file). A
   file with more than one is not gone when one of its names goes. */
DWORD NameCount(HANDLE file);
/* NameCount of the file `path` names now, on the NT family; 1 elsewhere
   (9x has no hard links) and when it does not open. */
DWORD NameCountAt(const char* path);
/* Whether a handle is open on the file `id`: the same index on the same
   volume. */
bool IsFile(HANDLE file, const FileId& id);

/* Whether `path` still names the file `id`: no folder on it, nor the file
   itself, is a link, and the file it opens is that one. */
/* The identity of the file `path` names now, read through an open for its
   attributes alone (which no sharing refuses); false when it opens nothing. */
bool IdentityAt(const char* path, FileId* id);
bool PathNamesFile(const char* path, const FileId& id);

/* Whether `path` names nothing any more: a file that other handles hold open
   when it is deleted keeps its name until the last of them closes, and
   meanwhile every open of it fails with ERROR_ACCESS_DENIED (Microsoft's
   DeleteFile remarks), so only "no such file or folder" says it is gone.
   Under WoW64, as the redirection stands (see NativeFileNames). */
bool NameIsGone(const char* path);

/* Whether the file `id`, deleted through a handle now closed, still stands
   at `path`: the path opens as that file, or opens as nothing because a
   delete is pending there. A path that names another file by now (its
   folder moved aside) says nothing of it: false then. */
bool StillNamedAt(const char* path, const FileId& id);

/* Whether both paths open, and open one file: two drive paths on one drive
   letter, neither through a link, the same volume and index. */
bool SameIdentity(const char* a, const char* b);

/* Whether a file index on the volume of drive `drive` names one file for
   as long as that file lives, so that an identity read earlier proves the
   file later: only on a volume that keeps security (FILE_PERSISTENT_ACLS:
   NTFS, whose index is the file's record with its reuse count). FAT and
   exFAT keep neither: their index comes from the file's folder entry, which
   a new file takes once the old one has moved away (Microsoft's
   BY_HANDLE_FILE_INFORMATION remarks), and any user may do both there. */
bool IdentityLasts(char drive);

#endif
