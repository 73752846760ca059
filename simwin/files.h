/*
** simwin: drives, paths and files. Drive letters map to host folders, each
** with a drive type; Windows paths resolve without regard to letter case.
*/
#ifndef SIMWIN_FILES_H
#define SIMWIN_FILES_H

#include "simwin/base.h"
#include <string>
#include <vector>

UINT GetDriveTypeA(LPCSTR rootPath);
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE search);
DWORD GetFileAttributesA(LPCSTR path);
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
BOOL DeleteFileA(LPCSTR path);
BOOL MoveFileA(LPCSTR existing, LPCSTR newName);
BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists);
BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags);
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);
BOOL CreateDirectoryA(LPCSTR path, void* security);
BOOL RemoveDirectoryA(LPCSTR path);

namespace simwin {

/* Maps drive `letter` to the host folder `hostRoot` (created if missing). */
void MapDrive(char letter, const std::string& hostRoot, UINT type = DRIVE_FIXED);
/* Every root path GetDriveTypeA was asked about, in order. */
const std::vector<std::string>& DriveQueries();

/* Host path of a Windows path: each existing component is matched without
   regard to case; missing components are kept as written. A path with one
   leading backslash ("\SystemRoot\x") is rooted on the current drive, C:.
   Empty when the drive is not mapped or the path is not absolute. */
std::string HostPath(const std::string& winPath);

/* Test helpers working on Windows paths (folders are made as needed). */
void WriteFile(const std::string& winPath, const std::string& bytes);
void WriteFile(const std::string& winPath, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& winPath);
std::string ReadFile(const std::string& winPath);
void MakeDir(const std::string& winPath);

/* MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT: the files it registered for
   deletion at the next restart (paths as given), and the renames it
   registered (existing, new name), in order. Nothing happens to them; like
   Windows it also lists them in the registry value PendingFileRenameOperations
   of HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager. */
const std::vector<std::string>& PendingDeletions();
const std::vector<std::pair<std::string, std::string>>& PendingRenames();
/* Every MoveFileExA call as it was asked, in order, refused ones included. */
struct MoveFileExCall {
    std::string existing;
    std::string newName; // empty for no new name (a null pointer)
    DWORD flags;
};
const std::vector<MoveFileExCall>& MoveFileExCalls();
/* Whether delayed moves are accepted; when not, MoveFileExA refuses them with
   ERROR_ACCESS_DENIED, as for a user without administrator rights. Default
   true. (MoveFileExA does not exist on 9x: ERROR_CALL_NOT_IMPLEMENTED.) */
void AllowDelayedMoves(bool allow);

/* Whether the volumes keep 8.3 names (default true). Without them, as on an
   NTFS volume where their generation is turned off, listings give no
   cAlternateFileName and GetShortPathNameA gives long names unchanged. */
void SetShortNames(bool enabled);

/* Makes `winPath` a directory link to the folder `target` (both Windows
   paths), as a junction or directory symbolic link: on NT its listing and
   GetFileAttributesA carry FILE_ATTRIBUTE_REPARSE_POINT with the directory
   bit, and paths through it reach the target. */
void MakeDirLink(const std::string& winPath, const std::string& target);

/* Whether an open run-time descriptor of this process refers to the file;
   Windows refuses to delete or rename such a file. */
bool IsOpenByDescriptor(const std::string& hostPath);
/* Run-time descriptors and find searches still open. */
size_t OpenDescriptorCount();

} // namespace simwin

#endif
