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
/* The file system of a mapped drive's root ("C:\\"): "NTFS", with
   FILE_PERSISTENT_ACLS among its flags, on NT, else "FAT32" without it (FAT
   keeps no security: "the NTFS file system preserves and enforces ACLs, and
   the FAT file system does not", Microsoft's GetVolumeInformationA page).
   Only the flags and the name are given. */
BOOL GetVolumeInformationA(LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial,
                           LPDWORD maxComponent, LPDWORD flags, LPSTR fsName, DWORD fsNameSize);
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
struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryA(LPCSTR path);

/* ---- reparse points, volume mount points and a file's own record ---- */

#define FILE_ATTRIBUTE_SPARSE_FILE 0x00000200
#define FILE_ATTRIBUTE_COMPRESSED 0x00000800
#define FILE_ATTRIBUTE_OFFLINE 0x00001000
#define FILE_ATTRIBUTE_ENCRYPTED 0x00004000
#define FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS 0x00400000
#define FILE_ATTRIBUTE_RECALL_ON_OPEN 0x00040000
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003u
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu
#define IO_REPARSE_TAG_DEDUP 0x80000013u
#define IO_REPARSE_TAG_CLOUD 0x9000001Au
#define ERROR_NOT_A_REPARSE_POINT 4390L
#define ERROR_FILENAME_EXCED_RANGE 206L

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard, GetFileExMaxInfoLevel };
struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};

namespace simwin {

/* kernel32's export of GetFileAttributesExA (Windows 98, NT 4.0 and later)
   or GetVolumeNameForVolumeMountPointA (2000 and later), when this Windows
   has it; null for any other name. */
FARPROC FilesExport(const std::string& function);

/* Mounts the volume whose root is the host folder `volumeRoot` (a mapped
   drive's root, or a volume without a letter) at the folder `winPath`: a
   reparse point with IO_REPARSE_TAG_MOUNT_POINT through which paths reach
   the volume, and which GetVolumeNameForVolumeMountPointA names. */
void MountVolume(const std::string& winPath, const std::string& volumeRoot);
/* Gives the existing folder or file `winPath` a reparse point with `tag`
   that leaves it an ordinary one (a cloud-sync or deduplication tag). */
void TagReparsePoint(const std::string& winPath, DWORD tag);
/* Makes `winPath` a file symbolic link to the file `target`: listed with
   length 0 and IO_REPARSE_TAG_SYMLINK, opened as its target. */
void MakeFileLink(const std::string& winPath, const std::string& target);
/* The length the file's directory entry lists from now on, whatever the
   file holds: NTFS's copy in a hard link's entry when the file is written
   through another name. */
void SetListedLength(const std::string& winPath, uint64_t length);
/* Adds attribute bits a sync client sets (FILE_ATTRIBUTE_OFFLINE,
   FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS, FILE_ATTRIBUTE_RECALL_ON_OPEN) to a
   file or folder; a folder's listing shows them with its directory bit. */
void AddAttributes(const std::string& winPath, DWORD bits);

} // namespace simwin

/* Threads (see simwin::OplockWaits). */
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define ERROR_NOT_FOUND 1168L
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD id);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

/* File handles (see the block "File handles" in files.cpp). */
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_ALL 0x10000000u
#define DELETE 0x00010000u
#define WRITE_DAC 0x00040000u
#define WRITE_OWNER 0x00080000u
#define OWNER_SECURITY_INFORMATION 0x00000001u
#define DACL_SECURITY_INFORMATION 0x00000004u
#define FILE_READ_DATA 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define OPEN_EXISTING 3
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define ERROR_DIR_NOT_EMPTY 145L

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
/* FILE_TYPE_CHAR for a handle CreateFileA opened on a DOS device's name,
   FILE_TYPE_DISK for a file (Microsoft's GetFileType page). */
#define FILE_TYPE_UNKNOWN 0x0000
#define FILE_TYPE_DISK 0x0001
#define FILE_TYPE_CHAR 0x0002
DWORD GetFileType(HANDLE file);
void* LocalFree(void* memory);

namespace simwin {

/* Maps drive `letter` to the host folder `hostRoot` (created if missing). */
void MapDrive(char letter, const std::string& hostRoot, UINT type = DRIVE_FIXED);
/* Makes the mapped drive a FAT volume: a file's index (GetFileInformation-
   ByHandle) comes from its folder and its entry there, so it changes when
   the file moves to another folder, and a new file in a freed entry takes
   the old file's index, as Windows documents for FAT; a folder with a file
   open below it cannot be renamed (ERROR_ACCESS_DENIED). */
void SetFatVolume(char letter);
/* Every root path GetDriveTypeA was asked about, in order. */
const std::vector<std::string>& DriveQueries();

/* Host path of a Windows path: each existing component is matched without
   regard to case; missing components are kept as written. A path with one
   leading backslash ("\SystemRoot\x") is rooted on the current drive, C:.
   Empty when the drive is not mapped or the path is not absolute. */
std::string HostPath(const std::string& winPath);
/* The same without the device rule: a folder of a path is never read as a
   device (Wine's path.c: c:\nul\foo is no device). */
std::string FolderHostPath(const std::string& winPath);
/* Whether Win32 reads the last part of `win` as a DOS device (files.cpp). */
bool NamesDevice(const std::string& win);
/* Windows 9x: CONFIG.SYS loaded a character driver of this name (as
   "CONFIG$" or "EMMXXXX0"), which then names its device in every folder. */
void LoadDosDriver(const std::string& name);
/* Another program takes an oplock of this kind on the file and never
   acknowledges a break: a batch oplock (FSCTL_REQUEST_BATCH_OPLOCK), a filter
   oplock (FSCTL_REQUEST_FILTER_OPLOCK, Windows 2000 and later) or a
   Read-Handle lease (FSCTL_REQUEST_OPLOCK, Windows 7 and later). Whether
   Windows grants it (files.cpp: an exclusive kind only while no other handle
   to the file is open). OplockWaits counts the calls that waited for the
   owner's acknowledgment (files.cpp: which opens and which changes break
   which kind); each such call then goes on in the model. */
enum class Oplock { Batch, Filter, ReadHandle };
bool HoldOplock(const std::string& winPath, Oplock kind = Oplock::Batch);
int OplockWaits();
/* A thread the program starts runs only at a wait of at least this long: the
   scheduler gives a processor to the highest-priority ready threads ("Scheduling
   Priorities"), so a machine another program keeps busy at HIGH_PRIORITY_CLASS,
   which needs no privilege, may not run a new normal thread for seconds. */
extern DWORD threadStartDelay;
/* The time limit of each WaitForSingleObject since the last Reset. */
const std::vector<DWORD>& WaitLimits();
/* Threads the program starts (CreateThread) wait with it on one thread: a
   thread runs at the first wait on it; a call of it that would wait on an
   oplock instead leaves it blocked there, its wait timing out, until
   CancelSynchronousIo cancels that call (it then fails with
   STATUS_CANCELLED, having changed nothing). A wait without a limit on a
   blocked thread counts as an oplock wait (files.cpp). */

/* The Windows path of a host path under a mapped drive ("C:\\x\\a.exe"),
   each name as the ANSI functions give it, or with `exact` as stored (the
   Unicode name, here UTF-8); empty when no drive holds it. */
std::string WindowsPathOf(const std::string& hostPath, bool exact = false);
/* A Windows path (UTF-8) as the ANSI functions give it: a character outside
   the code page by its best fit, or "?". */
std::string AnsiPathOf(const std::string& winPath);
/* The host name an open host descriptor's file has now, wherever it was
   renamed to; empty once it is deleted. */
std::string CurrentHostName(int hostFd);

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

/* What Windows 9x's WININIT does at the next start: carries out the
   [rename] section of wininit.ini in the Windows folder ("NUL=file" deletes
   the file, "new=old" renames old to new, replacing it) and renames the
   file to wininit.bak. Returns the text it carried out, empty when there was
   no wininit.ini. Works on the files directly: no call is counted or fails. */
std::string RunWininit();

/* Whether the volumes keep 8.3 names (default true). Without them, as on an
   NTFS volume where their generation is turned off, listings give no
   cAlternateFileName and GetShortPathNameA gives long names unchanged. */
void SetShortNames(bool enabled);

/* Makes `winPath` a directory link to the folder `target` (both Windows
   paths), as a junction or directory symbolic link: on NT its listing and
   GetFileAttributesA carry FILE_ATTRIBUTE_REPARSE_POINT with the directory
   bit, its listing the tag in dwReserved0 (a junction's unless `symbolic`),
   and paths through it reach the target. */
void MakeDirLink(const std::string& winPath, const std::string& target, bool symbolic = false);

/* File handles. SetFileInformationByHandle (kernel32, Vista and later),
   NtSetInformationFile (ntdll, NT) and ConvertStringSecurityDescriptorTo-
   SecurityDescriptorA (advapi32, 2000 and later) are reached only through
   GetProcAddress; this gives what it hands out for them. */
FARPROC FileExport(const std::string& library, const std::string& function);
/* The security a folder was created with, as the text of the descriptor the
   program built (empty: the default security of the parent). */
std::string FolderSecurity(const std::string& winPath);
/* Gives a folder (a drive's root, "D:\\") the security the descriptor text
   `sddl` describes, as the Windows that formatted its volume or an
   administrator did. GetFileSecurityA (advapi32) reads a folder's back, and
   ConvertSecurityDescriptorToStringSecurityDescriptorA gives its text; a
   folder given none and created with none reads as Everyone's full
   control, what Windows 2000 gives a drive's root. */
void SetFolderSecurity(const std::string& winPath, const std::string& sddl);
/* The security SetKernelObjectSecurity (advapi32) last gave a file, as the
   text of the descriptor, wherever the file has moved since (empty: none). */
std::string FileSecurity(const std::string& winPath);
/* The host file a handle (or a descriptor made from one) refers to, its
   name now; empty when it is not a file handle. */
std::string HandleHostPath(HANDLE file);
/* The open file handle behind a run-time descriptor made by _open_osfhandle,
   shared with crt.cpp: reads go to its host descriptor. */
int HandleHostFd(HANDLE file);
/* A handle on a copy of a descriptor's host descriptor, for _get_osfhandle:
   of FILE_TYPE_CHAR for a device's; it holds off no other open. */
HANDLE DescriptorHandle(int hostFd, bool device);
/* Whether opening the host file with these rights and this sharing would
   conflict with the handles open on it (and what Windows would answer). */
DWORD SharingError(const std::string& hostPath, DWORD access, DWORD share);

/* Gives the file or folder a DACL that denies Administrators every right,
   as its owner may (NT; 9x keeps no security). See the block "File
   handles" in files.cpp for what that refuses. */
void DenyAdministrators(const std::string& winPath);
/* Encrypts the file as another user does (EFS, 2000 and later): it lists
   FILE_ATTRIBUTE_ENCRYPTED, and an open that asks for its data is refused
   with ERROR_ACCESS_DENIED, backup intent or not, the run-time's too; opens
   for attributes or deleting alone are not (see SecurityError). */
void EncryptForAnotherUser(const std::string& winPath);
/* What Windows answers an open of the host file with these rights and
   CreateFileA flags, for its security: 0 when it is granted, else
   ERROR_ACCESS_DENIED. */
DWORD SecurityError(const std::string& hostPath, DWORD access, DWORD flags);

/* Whether an open run-time descriptor of this process refers to the file;
   Windows refuses to delete or rename such a file. */
bool IsOpenByDescriptor(const std::string& hostPath);
/* Run-time descriptors and find searches still open. */
size_t OpenDescriptorCount();

} // namespace simwin

#endif
