/*
** A command line read as Windows reads it to find the program it starts:
** the one reader that a service's command and an autostart value both use,
** each keeping only its own choice of which reading counts.
*/
#ifndef CLEANPHANTAXIS_COMMAND_LINE_H
#define CLEANPHANTAXIS_COMMAND_LINE_H

#include <stddef.h>

/* Where the program's name may end in a command line, in the order
   CreateProcess tries the readings (lpCommandLine remarks): a quoted name
   once, up to its closing quote or, where none follows, the end; an
   unquoted one up to each blank or tab in turn, then whole, none longer
   than a path may be (MAX_PATH - 1 characters) and none empty. `text` is
   the command past its opening quote where `quoted`. */
class ProgramReadings {
  public:
    ProgramReadings(const char* text, bool quoted) : text_(text), quoted_(quoted) {}
    /* The next reading, text[0, *end); false past the last. */
    bool Next(size_t* end);

  private:
    const char* text_;
    bool quoted_;
    size_t at_ = 0;
    bool done_ = false;
};

/* The reading text[0, end) as the path Windows opens for it, in `path`:
   with `dropDots`, its "." and ".." folders dropped (DropDotFolders);
   ".exe" added where it names a folder and its last name has no extension.
   False where it does not fit with room for that extension. */
bool ReadingPath(const char* text, size_t end, bool dropDots, char* path, size_t size);

/* The drive path `path` ("x:\\...") without its "." and ".." folders, in
   place, as Windows reads every path it opens: "." is the folder itself
   and ".." the one above, never past the root, whether or not the folders
   before it exist (RtlDosPathNameToNtPathName_U, which CreateProcess and
   CreateFile reach, gives "c:\\bar" for "c:/foo/../bar", "c:\\foo" for
   "c:/./foo" and "c:\\" for "c:/..": Wine's dlls/ntdll/tests/path.c,
   test_RtlDosPathNameToNtPathName_U). */
void DropDotFolders(char* path);

/* Whether `path` is an existing file (not a folder), by the real names. */
bool IsExistingFile(const char* path);

#endif
