/*
** Deleting an in-use file at the next restart.
*/
#ifndef CLEANPHANTAXIS_DELETE_ON_RESTART_H
#define CLEANPHANTAXIS_DELETE_ON_RESTART_H

#include <stdint.h>

/* True when the deletion of `path` at the next restart is arranged. */
bool ScheduleDeleteOnRestart(const char* path);

#endif
