/*
** Deleting an in-use file at the next restart.
*/
#ifndef CLEANPHANTAXIS_DELETE_ON_RESTART_H
#define CLEANPHANTAXIS_DELETE_ON_RESTART_H

#include <stdint.h>

/* True when the deletion of `path` at the next restart is arranged. */
bool ScheduleDeleteOnRestart(const char* path);
/* True when the line destination=source stands in the [rename] section of
   the Windows folder's wininit.ini, which Windows 9x processes at start. */
bool AddWininitRename(const char* destination, const char* source);

#endif
