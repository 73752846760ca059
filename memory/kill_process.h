/*
** Termination of the process that runs a given image file, so that the file
** check can delete the file. Each platform offers a different way to learn
** which file a process runs: Windows 9x compares the full image path of each
** tool-help entry, NT 2000 and later the full image path that psapi.dll (and
** from Vista on QueryFullProcessImageNameA) reports, NT 4.0 the instance names
** of the "Process" object in the registry's performance data. Only a process
** proved to run the file is terminated; where none is, nothing is.
*/
#ifndef CLEANPHANTAXIS_KILL_PROCESS_H
#define CLEANPHANTAXIS_KILL_PROCESS_H

#include <stddef.h>
#include <stdint.h>

/* 1 when the attempt to terminate the process running `path` completed.
   The 9x, performance-data and Vista methods show "Could not kill process"
   when they terminated nothing; on a platform that is neither family nothing
   is tried and the answer is 1. */
int32_t KillProcessByImage(const char* path);

/* Windows 9x: terminates the first process in snapshot order whose image
   is the file `path` (its full path, long or short form, any case). 1 when
   it terminated it. */
int32_t KillByFileNameToolhelp(const char* path);

/* NT 4.0: terminates every process whose whole performance instance name is
   the base name of `path` (its file name without the last four characters),
   never one of Windows' own programs (System, smss, csrss, winlogon,
   services, lsass, wininit, svchost, explorer, spoolss). 1 when at least one termination
   succeeded. */
int32_t KillByBaseNamePerfData(const char* path);

/* NT 2000/XP/2003: terminates every process whose image is the file `path`
   (ignoring case, long or short form). True whenever the processes could be
   listed. */
bool KillByPathPsapi(const char* path);
/* Vista and later: the same, 1 when it terminated at least one. */
int32_t KillByFullPath(const char* path);

/* One row of the process table read from the performance data. */
struct PerfProcessEntry {
    uint32_t processId; // 0 in the data becomes 0xFFFFFFFE
    char name[17];      // instance name of at most 16 characters, else empty
};

enum { PERF_TABLE_ROOM = 255, PERF_TABLE_ROWS_MAX = 254 };

/* Reads the process table out of a performance data block of `size` bytes
   whose first object is the process object; `counterIndex` is the title
   index of its "ID Process" counter. Fills at most 254 rows of `table` (room
   for 255) and returns how many. Every offset and count taken from the block
   is checked against `size`: a block that points outside itself, or lacks
   the signature or the counter, gives 0 rows. */
int ReadPerfProcessTable(const uint8_t* block, size_t size, uint32_t counterIndex,
                         PerfProcessEntry* table);

#endif
