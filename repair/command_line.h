/*
** A command line read as Windows reads it to find the program it starts,
** for a service's command and an autostart value alike.
*/
#ifndef CLEANPHANTAXIS_COMMAND_LINE_H
#define CLEANPHANTAXIS_COMMAND_LINE_H

#include <stddef.h>

/* Where the program's name may end in `text` (past its opening quote where
   `quoted`), in the order CreateProcess tries the readings (lpCommandLine,
   learn.microsoft.com/windows/win32/api/processthreadsapi/nf-processthreadsapi-
   createprocessa): a quoted name once, to its closing quote or else the end;
   an unquoted one to each blank or tab in turn, then whole, none empty nor
   longer than a path may be (MAX_PATH - 1). */
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
   False where it does not fit with room for that extension. */
bool ReadingPath(const char* text, size_t end, bool dropDots, char* path, size_t size);

/* The drive path `path` ("x:\\...") without its "." and ".." folders, in
   place, as Windows reads every path it opens, never past the root and
   whether or not the folders exist (RtlDosPathNameToNtPathName_U gives
   "c:\\bar" for "c:/foo/../bar", "c:\\" for "c:/..": Wine's dlls/ntdll/
   tests/path.c, test_RtlDosPathNameToNtPathName_U). */
void DropDotFolders(char* path);

/* Whether `path` is an existing file (not a folder), by the real names. */
bool IsExistingFile(const char* path);

#endif
