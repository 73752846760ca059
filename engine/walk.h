/*
** The directory walk: visits every entry below a search pattern, shows it in
** the status line, hands each file to the file checks, and pumps the window's
** messages between entries so that the user can stop the scan.
*/
#ifndef CLEANPHANTAXIS_WALK_H
#define CLEANPHANTAXIS_WALK_H

#include "platform/win32.h"
#include <stdint.h>

/* A check: (detection name, full path) -> non-zero when it handled the file. */
typedef int32_t (*FileCheckFn)(const char* name, const char* path);
/* Whether a check could do anything for a file of the length the folder
   listing gives (nFileSizeHigh:nFileSizeLow); false lets the walk skip it. */
typedef bool (*ListedLengthFn)(uint64_t listedLength);

struct FileCheck {
    const char* name; // null ends the list
    FileCheckFn check;
    ListedLengthFn couldHandle; // optional: null means every length
};

/* The checks the walk applies to every file, in order. */
extern const FileCheck FileCheckList[];
/* The list the walk uses: FileCheckList (tests may point it elsewhere). */
extern const FileCheck* g_fileChecks;

/* 0 when stopped, -1 for a pattern without ".", else g_scan.filesScanned. */
int32_t WalkDirectory(const char* pattern);

/* What decides, among several files an image path may reach, which one
   a caller means. */
struct ImagePathProof {
    /* Whether `candidate`, a drive path, is that very file. */
    virtual bool IsImage(const char* candidate) const = 0;

  protected:
    ~ImagePathProof() = default;
};

/* Makes the drive path `path` (a running program's image, as the ANSI
   functions report it) reach the file it names, in place. The ANSI form
   gives a character outside the code page by its best fit, so a folder may
   list several entries under one part's name (a fullwidth "e" beside a real
   "e"), and a long name may reach another entry or none (trailing dots or
   blanks): each entry listed under the name is reached by its long name
   where a lookup of that name finds exactly it, else by its 8.3 name. Where
   that gives one path and leaves no entry unreached, it is the file; else
   `proof` (where given) decides, and only a path it accepts alone is
   taken. False, with `path` unchanged, otherwise. */
bool ReachImagePath(char* path, size_t size, const ImagePathProof* proof = nullptr);

/* Takes at most one message from the queue and handles it. */
void PumpMessages();

/* The display form of a path: at most `maximum` characters. `dest` must hold
   maximum + 1 bytes, or the whole source when it is shorter. */
void ShortenPath(const char* source, char* dest, int16_t maximum);

#endif
