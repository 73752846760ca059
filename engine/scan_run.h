/*
** The scan run: memory scan, every fixed drive (or one folder), statistics,
** and the restart question.
**
**   SCAN (ui/main_dialog.cpp): scanning = 1, target "!:", action DELETE,
**   |  a one-shot timer; its handler calls RunScan
**   v
**   RunScan
**   |- DetectWow64                       g_scan.wow64 and the redirection switch
**   |- ScanMemory                        memoryScanMode on
**   |   |- ScanProcessesToolhelp (9x) or ScanProcessesPsapi (NT)
**   |   |   for each running program:
**   |   |   |- WalkDirectory(image)      CheckFile matches: fileMatched
**   |   |   '- a variant: terminate (NT: stop its service, delete its keys),
**   |   |      WalkDirectory(image) again with pendingMemoryAction: CheckFile
**   |   |      disposes of the file
**   |   '- NT and a variant found: the restart question
**   |      (memoryRestartNeeded), then the program ends (exit code 0)
**   |                                    memoryScanMode off
**   |- for each fixed drive C: to Z: (or the one folder):
**   |   |- WalkDirectory("X:\*.*")       every file: CheckFile; a match repairs
**   |   |                                (hosts file, autostart values) and
**   |   |                                disposes (restartNeeded when a file
**   |   |                                waits for the restart)
**   |   '- WalkDirectory("X:\Program Files\*.*") when the tree walk missed it
**   |- keepLog = true; the statistics
**   |- status "Scanning completed" (or "Scanning terminated")
**   '- restartNeeded: the restart question
*/
#ifndef CLEANPHANTAXIS_SCAN_RUN_H
#define CLEANPHANTAXIS_SCAN_RUN_H

#include <stdint.h>

int32_t RunScan();

#endif
