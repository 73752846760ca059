/*
** Deleting an in-use file at the next restart.
*/
#ifndef CLEANPHANTAXIS_DELETE_ON_RESTART_H
#define CLEANPHANTAXIS_DELETE_ON_RESTART_H

#include <stdint.h>

struct FileId;

/* True when the deletion of `path` at the next restart is arranged. On NT
   2000 and later the file is first moved into a folder of its own on its
   volume that only administrators and the system can write, and that path is
   scheduled; `path` must name the file `checked` (when given) through no
   link, else nothing is arranged. */
bool ScheduleDeleteOnRestart(const char* path, const FileId* checked = nullptr);
/* True when the line destination=source stands in the [rename] section of
   the Windows folder's wininit.ini, which Windows 9x processes at start. */
bool AddWininitRename(const char* destination, const char* source);

#endif
