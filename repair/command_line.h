/*
** A command line read as Windows reads it to find the program it starts,
** for a service's command and an autostart value alike.
*/
#ifndef CLEANPHANTAXIS_COMMAND_LINE_H
#define CLEANPHANTAXIS_COMMAND_LINE_H

#include "platform/win32.h"

#include <stddef.h>

/* Where the program's name may end in `text` (past its opening quote where
   `quoted`), in the order CreateProcess tries the readings (lpCommandLine,
   learn.microsoft.com/windows/win32/api/processthreadsapi/nf-processthreadsapi-
   createprocessa): a quoted name once, to its closing quote or else the end;
   an unquoted one to each blank or tab in turn, then whole, none empty nor
   longer than a path may be (MAX_PATH - 1). A name without a folder is
   the caller's to search for, in the order of those remarks, every folder
   of it: once the first file of the name is gone, the next is started. */
struct ProgramReadings {
    const char* text;
    bool quoted;
    size_t at = 0; // where the next unquoted reading is looked for
    bool done = false;
    /* The next reading, text[0, *end); false past the last. */
    bool Next(size_t* end);
};

/* The reading text[0, end) as the path Windows opens for it, in `path`:
   with `dropDots`, its "." and ".." folders dropped (DropDotFolders);
   ".exe" added where it names a folder and its last name has no extension.
   False where that path is longer than a path may be (Naming Files,
   "Maximum Path Length Limitation": MAX_PATH with the terminator) or does
   not fit `size`: no longer reading is then taken for it. */
bool ReadingPath(const char* text, size_t end, bool dropDots, char* path, size_t size);

/* The drive path `path` ("x:\\...") without its "." and ".." folders, in
   place, as Windows reads every path it opens, never past the root and
   whether or not the folders exist (RtlDosPathNameToNtPathName_U gives
   "c:\\bar" for "c:/foo/../bar", "c:\\" for "c:/..": Wine's dlls/ntdll/
   tests/path.c, test_RtlDosPathNameToNtPathName_U). */
void DropDotFolders(char* path);

/* Whether `path` is an existing file (not a folder), by the real names. */
bool IsExistingFile(const char* path);

/* Whether `path` is rooted without a drive ("\\x" or "/x"): on the current
   drive (naming-a-file: "a path from the root directory of the current
   drive"), the system drive for the logon shell and the service manager. */
bool IsRootedWithoutDrive(const char* path);

/* `path` in `out`, such a rooted one with the system drive in front. False where the Windows folder
 * is unknown or `out` too small. */
bool OnSystemDrive(const char* path, char* out, size_t size);

/* How many characters of `path` are a "\\?\" or "\??\" in front of a
   drive path (Naming Files: "\\?\" passes the path that follows as it is),
   which names that path: 4, else 0. */
size_t LongPrefix(const char* path);

/* The next name of a command line at `p` (lower case), as the shell cuts
   it: inside quotes, or up to a blank, a tab or one of `ends`; only its last
   part after a backslash, the file's own name, goes to `name`, or, with
   `whole`, all of it. Returns where the name ended; `name` is empty when it
   does not fit. */
const char* NextName(const char* p, const char* ends, char* name, size_t size, bool whole = false);

/* Whether `name` is the file name `fileName`, whole: as written, or with
   `extension` added where it has none (".exe" for a program, ".dll" for a
   library a host loads). */
bool IsFileName(const char* name, const char* fileName, const char* extension);

/* Whether the program's name `name` is a host that loads the library it is
   told: rundll32, or rundll of Windows 9x ("rundll32 library,entry
   arguments": the Win32 Rundll and Rundll32 Interface, Microsoft Knowledge
   Base Q164787, which loads the library with LoadLibrary). */
bool IsHost(const char* name);

/* Where the program's name ends in `text` (past its opening quote where
   `quoted`): at its first reading that is an existing file by a full drive
   path as Windows reads it ("/" as "\\", rooted on the system drive, past
   "\\\\?\\"), else at `otherwise`. A relative or UNC reading is never looked for:
   it would be found in this program's own current folder, which is not
   where Windows looks, or make it wait on another machine. */
size_t FileReadingEnd(const char* text, bool quoted, size_t otherwise);

/* For a reader that has not read the command's program itself: its name
   ends at FileReadingEnd, else at the first reading. */
const size_t kFirstFileReading = (size_t)-1;

/* The library a host command (lower case) is told to load, whole as
   written, with each "/" read as a backslash, in `library`; in `host` the
   host's program as written: the command's text, past its blanks and
   opening quote, to `end`, where the reading (ProgramReadings) that gave
   the program ended ("c:\program files\host tools\rundll32.exe" where
   neither "c:\program.exe" nor "c:\program files\host.exe" stands). The
   library follows that reading. False when the program is no host.
   Q164787: the library's name holds no blank, comma or quote, and a comma
   ends it; a quoted one is read up to its closing quote all the same. */
bool HostedLibrary(const char* text, char* host, size_t hostSize, char* library, size_t size,
                   size_t end = kFirstFileReading);

/* The library `library` (a bare name) in the folder of the host program
   `hostPath`, in `found`, ".dll" added where it has none: the first place
   the loader looks. False when no such file lies there. */
bool LibraryBesideHost(const char* hostPath, const char* library, char* found, size_t size);

/* The library the host command `text` (a Run value's data or a service's
   command, lower case) is told to load, in `found`: written with a path,
   the file that path names, whether or not it exists; a bare one, the file
   the loader finds for the host, in the host's own folder first
   (LoadLibrary's search order), then as for System32's host (SearchedFile).
   A value of the 32-bit `view` names it as a 32-bit program does. False
   for a command that is no host's, or a library the loader finds nowhere.
   A relative path is never taken for a file. `end` as for HostedLibrary. */
bool HostedFile(const char* text, REGSAM view, char* found, size_t size,
                size_t end = kFirstFileReading);

#endif
