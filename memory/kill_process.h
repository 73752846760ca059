/*
** Termination of the process that runs a given image file, so that the file
** check can delete the file. Each platform offers a different way to learn
** which file a process runs: Windows 9x compares the full image path of each
** tool-help entry, NT the image path of each listed process (the kernel's
** name of the image from XP on, the loader's record on 2000 and on an NT 4.0
** where psapi.dll is installed; see ListProcessesPsapi). A name is no proof:
** an NT 4.0 without psapi.dll terminates nothing, and the file waits for the
** restart. Only a process proved to run the file is terminated; where none
** is, nothing is.
*/
#ifndef CLEANPHANTAXIS_KILL_PROCESS_H
#define CLEANPHANTAXIS_KILL_PROCESS_H

#include <stddef.h>
#include <stdint.h>

struct FileId;

/* 1 when the attempt to terminate the process running `path` completed.
   On NT the image is the file `id` (the checked file's identity), else the
   file `path` names as the search starts; compared by identity, never by
   path.
   The 9x and Vista methods show "Could not kill process"
   when they terminated nothing; on a platform that is neither family nothing
   is tried and the answer is 1. */
int32_t KillProcessByImage(const char* path, const FileId* id = nullptr);

/* Windows 9x: terminates the first process in snapshot order whose image
   is the file `path` (its full path, long or short form, any case). 1 when
   it terminated it. */
int32_t KillByFileNameToolhelp(const char* path);

/* NT 4.0 (with psapi.dll), 2000, XP, 2003: terminates every process whose
   image is the file `id`, by default the file `path` names (see
   KillProcessByImage). True whenever the processes could be listed. */
bool KillByPathPsapi(const char* path, const FileId* id = nullptr);
/* Vista and later: the same, 1 when it terminated at least one. */
int32_t KillByFullPath(const char* path, const FileId* id = nullptr);

#endif
