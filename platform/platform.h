/*
** Platform detection: which family of Windows runs, and on NT which generation.
*/
#ifndef CLEANPHANTAXIS_PLATFORM_H
#define CLEANPHANTAXIS_PLATFORM_H

#include <stdint.h>

enum : int32_t { PLATFORM_NONE = 0, PLATFORM_OTHER = 1, PLATFORM_WIN9X = 4, PLATFORM_NT = 5 };
enum : int32_t { NTGEN_NONE = 0, NTGEN_4 = 5, NTGEN_5 = 6 };

int32_t GetPlatform();
int32_t GetNtGeneration();

/* NT: enables SeBackupPrivilege and SeRestorePrivilege in the program's
   token, which Administrators hold but do not enable. With them, an open
   for backup semantics (FILE_FLAG_BACKUP_SEMANTICS) reads, deletes and
   takes over a file whose security shuts Administrators out, as any owner
   may make it, and a folder so shut is listed (FindFirstFile opens the
   folder for backup intent). Windows 9x keeps no security: nothing to do. */
void EnableBackupPrivileges();

#endif
