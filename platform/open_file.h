/*
** The one door through which code outside actions/ opens a file by name.
** What it may ask for is a type of its own: an existing file, with backup
** semantics, for its identity, its attributes, reading, or the file check's
** handle (reading, and the access the room's actions then use on it). A
** write, a truncation, a new file or a delete on close cannot be asked for,
** so no code outside this file and actions/ imports CreateFileA or _open.
*/
#ifndef CLEANPHANTAXIS_OPEN_FILE_H
#define CLEANPHANTAXIS_OPEN_FILE_H

#include "platform/win32.h"

enum class FileAccess {
    Identity,   // no access: what no sharing refuses
    Attributes, // FILE_READ_ATTRIBUTES
    Reading,    // GENERIC_READ
    Checking,   // GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, for the room's actions
};
enum class FileSharing {
    ReadWrite,  // FILE_SHARE_READ | FILE_SHARE_WRITE, as the run-time's own open
    Everything, // and FILE_SHARE_DELETE
};

/* The access rights and sharing modes these stand for (also for the
   room's open of the same kinds that waits on no oplock, actions/files.h). */
DWORD AccessOf(FileAccess access);
DWORD SharingOf(FileSharing sharing);

/* CreateFileA(path, access, sharing, NULL, OPEN_EXISTING,
   FILE_FLAG_BACKUP_SEMANTICS, NULL). */
HANDLE OpenExisting(const char* path, FileAccess access, FileSharing sharing);
/* The same by a Unicode name, through kernel32's CreateFileW as
   FindWideOpener found it; empty, it opens nothing. */
class WideOpener {
  public:
    explicit operator bool() const { return open_ != nullptr; }
    HANDLE operator()(const WCHAR* path, FileAccess access, FileSharing sharing) const;

  private:
    typedef HANDLE(WINAPI* Fn)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    Fn open_ = nullptr;
    friend WideOpener FindWideOpener();
};
/* Finds kernel32's CreateFileW (at run time: not every Windows 9x has it).
   It loads a library: never while a NativeFileNames lives. */
WideOpener FindWideOpener();
/* The run-time's _open(path, _O_RDONLY | _O_BINARY). */
int OpenDescriptorReadOnly(const char* path);

#endif
