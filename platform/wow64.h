/*
** The 32-bit program on 64-bit Windows (WoW64).
**
** There a 32-bit program sees C:\Windows\System32 as the SysWOW64 folder and
** the machine's Software keys in their Wow6432Node view. The family may have
** been put there by a 32-bit or by a 64-bit program, so under WoW64 the scan
** works with the names a 64-bit program uses: the walk's file operations run
** with the redirection off (C:\Windows\System32 is then the real system
** folder and SysWOW64 is reached by its own name, each file once), and the
** autostart keys are read in both registry views.
**
** Everything here is resolved at run time: Windows 9x, NT 4.0 and 2000 lack
** these functions and the two view bits, and there nothing changes.
*/
#ifndef CLEANPHANTAXIS_WOW64_H
#define CLEANPHANTAXIS_WOW64_H

#include "platform/win32.h"
#include <stdint.h>

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif
#ifndef KEY_WOW64_32KEY
#define KEY_WOW64_32KEY 0x0200
#endif

/* Finds out whether the program runs under WoW64 (g_scan.wow64) and, there,
   resolves IsWow64Process and the redirection switch, kept here for the rest
   of the process. Called at the start of a run, before anything here is
   asked. */
void DetectWow64();

/* While one lives, under WoW64, file names mean what they mean to a 64-bit
   program. Hold one only around file system calls: with the redirection off
   Windows would load a library from the wrong folder, so nothing that may
   load one (message boxes, window messages, LoadLibraryA) may run meanwhile.
   Without WoW64 it does nothing. */
class NativeFileNames {
  public:
    NativeFileNames();
    ~NativeFileNames();
    NativeFileNames(const NativeFileNames&) = delete;
    NativeFileNames& operator=(const NativeFileNames&) = delete;

  private:
    void* previous_;
    bool off_;
};

/* The registry views an autostart key is read in: under WoW64 the 32-bit
   view (KEY_WOW64_32KEY) and then the 64-bit one (KEY_WOW64_64KEY), else
   only the program's own (0, no view bit at all). Returns how many. */
int RegistryViews(REGSAM views[2]);

/* `path` as a 32-bit program means it, in the names a 64-bit program uses:
   under WoW64 a path in the system folder (GetSystemDirectoryA) is moved to
   the Windows folder's SysWOW64 (but for the few folders WoW64 shares, such
   as drivers\etc), and one in its Sysnative alias to the system
   folder; letter case is ignored. Anything else, and everything without
   WoW64, is copied. False, with `out` empty, when the result does not fit. */
bool NativePath(const char* path, char* out, size_t size);

/* What a 64-bit program's environment gives the variable `name` where this
   32-bit program's gives another folder: for ProgramFiles and
   CommonProgramFiles, the 64-bit folders. From Windows 7 on this program
   has them as ProgramW6432 and CommonProgramW6432; before (XP x64, Server
   2003 x64, Vista x64) it has neither, and they are read where the system
   takes them from, ProgramFilesDir and CommonFilesDir of Software\Microsoft\
   Windows\CurrentVersion in the 64-bit view. False for any other name,
   without WoW64, and when neither says. */
bool NativeFolderVariable(const char* name, char* out, size_t size);

#endif
