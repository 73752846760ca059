/*
** The name a file opens by as the file it is.
**
** Win32 reads a path before the file system sees it: a last part whose name,
** up to its first dot or colon and without trailing blanks, is CON, PRN,
** AUX, NUL, COM1 to COM9 or LPT1 to LPT9 (with any extension: "nul.exe",
** "aux.tar.gz") names that device in every folder, whatever file of that
** name the folder holds ("Naming Files, Paths, and Namespaces"). Windows 8
** and later read CONIN$ and CONOUT$ so too; they are taken as devices here
** everywhere. A "\\?\" path is handed to the file system as written, so on
** NT a file of such a name is opened by the "\\?\" form of its drive path.
** Windows 9x has no such form, and the 8.3 name of "aux.exe" is that name
** again: there such a file is reached by no name, and is not opened at all.
*/
#ifndef CLEANPHANTAXIS_FILE_NAMES_H
#define CLEANPHANTAXIS_FILE_NAMES_H

#include "platform/win32.h"

/* Whether the drive path `path` names a named stream of a file
   ("C:\x:evil.exe"): a colon after its drive's. */
bool NamesStream(const char* path);

/* Whether the last part of `path` names a DOS device. */
bool NamesDosDevice(const char* path);

/* The name by which `path` opens as the file it names: `path` itself, or on
   NT the "\\?\" form of a drive path whose last part names a device. Null
   where no name reaches the file: such a path on 9x, or one too long for the
   form (the ANSI functions take MAX_PATH characters). */
class FileName {
  public:
    explicit FileName(const char* path);
    const char* get() const { return name_; }

  private:
    char prefixed_[MAX_PATH];
    const char* name_;
};

#endif
