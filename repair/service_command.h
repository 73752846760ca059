/*
** A service's registered command as the service manager reads it: the one
** reading that both the stop of a service and the removal of its keys use,
** so that the two never disagree about which program a service runs.
*/
#ifndef CLEANPHANTAXIS_SERVICE_COMMAND_H
#define CLEANPHANTAXIS_SERVICE_COMMAND_H

#include "engine/file_identity.h"

#include <stddef.h>

/* The file the service manager starts for `command` (an ImagePath of either
   string type, or the binary path QueryServiceConfigA gives), as a drive
   path in `file`: the command expanded in the machine's environment, its
   first reading (ProgramReadings) that is a file as CreateProcess finds it
   for the service manager (a bare name searched for, a rooted path on the
   system drive, a drive-relative one from that drive's current folder).
   False when it starts no file that exists. */
bool ServiceCommandFile(const char* command, char* file, size_t size);

/* The program file a service's command is compared with: a path (SameFile:
   by name, by short name, or by identity on one drive letter, all as the
   path names them now), or, where `id` is set, the identity a listing
   proved on drive `drive`, which the file the command names must have there
   (PathNamesFile) while the path is not looked at: a name the variant left
   can be made a link to any other program once its process has ended. As
   with SameIdentity, a file on another drive letter is never the image by
   identity: a volume a user brings may claim any serial and index. */
struct CommandImage {
    const char* path;
    const FileId* id;
    char drive;
    bool Is(const char* file) const;
};

/* Whether `command` starts the file `image`: ServiceCommandFile's file is
   `image` (see CommandImage). */
bool ServiceCommandRunsFile(const char* command, const char* image);
bool ServiceCommandRunsFile(const char* command, const CommandImage& image);

/* Whether `command` is a registration of `image` itself: it starts `image`
   (ServiceCommandRunsFile) and no other reading of it names another file
   that exists and is no variant (IsVariant): a longer one, an unquoted
   command read up to a later blank or whole. Where one does (an unquoted
   "C:\Program Files\Vendor\svc.exe -k" that starts a planted
   "C:\Program.exe"), the service manager runs `image`, but the command was
   written for the other file and starts it again once `image` is gone:
   false, with that file in `other` (`size` at least 1); "" in `other`
   otherwise, wherever that file lies: beside `image` too. A host's command
   (HostedFile: "rundll32.exe evil.dll,Run") is the registration of the
   library it loads, as its Run value would be: of `image` where that is the
   library, else of the library, in `other` where it exists. */
bool ServiceCommandRegistersFile(const char* command, const CommandImage& image, char* other,
                                 size_t size);

/* The file a name without a path starts, found as CreateProcess (or, for a
   library, LoadLibrary) finds it: in the caller's folder (with `shell`,
   Explorer's, the Windows folder; else System32, where the service manager
   and rundll32 lie), System32, System, the Windows folder, then the
   machine's Path; `extension` added to a name without one. False when
   none exists. */
bool SearchedFile(const char* name, const char* extension, bool shell, char* file, size_t size);

/* Whether `path` is the file `file` or another this run matched as a
   variant (RememberMatched): such a file is no other program, however
   many users' profiles hold a copy, nor at a longer reading of a service's
   command. The file `path` opens now is compared by its identity, on the
   drive it was recorded on and through no link (a serial and an index
   prove nothing across volumes, see SameIdentity). */
bool IsVariant(const char* path, const char* file);

/* Records the file the check held, `id`, as matched this run: each once,
   every one while memory lasts. Only where the check's path
   (g_scan.currentFile) names that file now through no link: its drive
   letter then tells whose volume the identity is on. */
void RememberMatched(const FileId* id);

/* Forgets the files matched this run and frees their records. */
void ForgetMatched();

#endif
