/*
** The one door between engine code and the operating system.
**
** Engine, memory and repair code call Win32 and C run-time operations by
** their real names and signatures. On Windows this header brings in the SDK
** and the Microsoft run-time headers; on the host it brings in simwin, our
** model of the same operations over a world that the tests build.
*/
#ifndef CLEANPHANTAXIS_PLATFORM_WIN32_H
#define CLEANPHANTAXIS_PLATFORM_WIN32_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <tlhelp32.h>
#include <winsvc.h>
#include <winperf.h>
#include <io.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#else
#include "simwin/simwin.h"
#endif

/* The directory walk: reparse tags and the attribute bits of files a sync
   client keeps online only, for SDK headers older than them. */
#ifndef FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
#define FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS 0x00400000
#endif
#ifndef FILE_ATTRIBUTE_RECALL_ON_OPEN
#define FILE_ATTRIBUTE_RECALL_ON_OPEN 0x00040000
#endif
#ifndef IO_REPARSE_TAG_MOUNT_POINT
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003u
#endif

#endif
