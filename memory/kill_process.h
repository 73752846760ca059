/*
** Termination of the process that runs a given image file.
*/
#ifndef CLEANPHANTAXIS_KILL_PROCESS_H
#define CLEANPHANTAXIS_KILL_PROCESS_H

#include <stdint.h>

/* 1 when the attempt to terminate the process running `path` completed. */
int32_t KillProcessByImage(const char* path);

#endif
