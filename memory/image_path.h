/*
** Image paths as Windows reports them, and whether two paths name one file
** (a registered service command: repair/service_command.h). A process or service is acted on only when its
** image is the very file that was checked, never because a name resembles it.
*/
#ifndef CLEANPHANTAXIS_IMAGE_PATH_H
#define CLEANPHANTAXIS_IMAGE_PATH_H

#include <stddef.h>

/* The drive path ("X:\...") of an image path as the system reports it:
   "\SystemRoot\..." lies in the Windows folder, "\??\X:\..." and
   "\\?\X:\..." (a program started by that form) name the path they wrap.
   Any other form is no file this program can read (Windows would take
   "\foo" on the current drive): false, with `out` empty. */
bool DrivePathOf(const char* reported, char* out, size_t size);

/* Whether two drive paths name one file: equal ignoring case, equal in
   their short (8.3) forms, or, where both open on one drive letter, the same
   file by identity (volume serial number and file index: hard links). Two
   drive letters are never proved one volume by the serial a volume reports
   of itself. Under WoW64 both are read in the names a 64-bit program uses. */
bool SameFile(const char* a, const char* b);

#endif
