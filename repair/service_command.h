/*
** A service's registered command as the service manager reads it: the one
** reading that both the stop of a service and the removal of its keys use,
** so that the two never disagree about which program a service runs.
*/
#ifndef CLEANPHANTAXIS_SERVICE_COMMAND_H
#define CLEANPHANTAXIS_SERVICE_COMMAND_H

#include <stddef.h>

/* The file the service manager starts for `command` (an ImagePath of either
   string type, or the binary path QueryServiceConfigA gives), as a drive
   path in `file`: the command expanded in the machine's environment, its
   program found as CreateProcess finds it for the service manager (quoted
   or not, blanks and arguments, a bare name searched for, a rooted path on
   the system drive, ".exe" added to a name without an extension). False
   when it starts no file that exists. */
bool ServiceCommandFile(const char* command, char* file, size_t size);

/* Whether `command` starts the file `image`: ServiceCommandFile's file is
   `image` by name or, where the two paths differ in form (a short name, a
   hard link, another spelling), by the file's identity. */
bool ServiceCommandRunsFile(const char* command, const char* image);

/* The file a name without a path starts, found as CreateProcess (or, for a
   library, LoadLibrary) finds it: in the caller's folder (with `shell`,
   Explorer's, the Windows folder; else System32, where the service manager
   and rundll32 lie), System32, System, the Windows folder, then the
   machine's Path; `extension` added to a name without one. False when
   none exists. */
bool SearchedFile(const char* name, const char* extension, bool shell, char* file, size_t size);

/* Whether two existing files are one: by name, or by the file's identity. */
bool SameFileAs(const char* a, const char* b);

#endif
