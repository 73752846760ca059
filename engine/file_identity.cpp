/*
** The checked file's handle and identity.
*/
#include "engine/file_identity.h"
#include "platform/file_names.h"
#include "platform/open_file.h"
#include "platform/platform.h"
#include "actions/files.h"
#include "platform/wow64.h"

#include <ctype.h>

namespace {

// A link, or a name that does not open at all. A reparse point whose tag is
// no name surrogate (a sync client's folder, a deduplicated one) points
// nowhere else: the folder is an ordinary one.
bool LinkOrGone(const char* path) {
    const FileName name(path);
    if (!name.get()) return true;
    path = name.get();
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    WIN32_FIND_DATAA entry;
    memset(&entry, 0, sizeof entry); // Wine leaves the tag unwritten: then none, a link
    HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE) return true;
    FindClose(search);
    const DWORD tag = entry.dwReserved0;
    return !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || tag == 0 ||
           (tag & 0x20000000) != 0;
}

bool IsDrivePath(const char* p) {
    return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':' &&
           p[2] == '\\';
}

// Whether the drive path `path` opens, and runs through no link: every
// folder after the drive's root, then the file itself.
bool WithoutLinks(const char* path) {
    char prefix[MAX_PATH];
    const size_t length = strlen(path);
    if (length < 4 || length >= sizeof prefix || !IsDrivePath(path)) return false;
    NativeFileNames native;
    for (size_t i = 3; i <= length; i++) {
        if (i < length && path[i] != '\\') continue;
        memcpy(prefix, path, i);
        prefix[i] = 0;
        if (LinkOrGone(prefix)) return false;
    }
    return true;
}

/* `path` opened by the name that reaches it as a file (see file_names.h),
   for backup semantics; a path no name reaches opens nothing, as a file its
   security shuts out. On NT no open waits on another program's oplock: a
   file under one refuses the open (ERROR_SHARING_VIOLATION), as a file its
   owner holds without sharing does, and is logged as one not checked. */
HANDLE OpenByName(const char* path, FileAccess access, FileSharing sharing) {
    const FileName name(path);
    if (!name.get()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    NativeFileNames native;
    bool tried;
    HANDLE file = OpenExistingWithoutWaiting(name.get(), access, sharing, &tried);
    if (tried) return file;
    return OpenExisting(name.get(), access, sharing);
}

} // namespace

/* NT 4.0 too: its ntdll has NtSetInformationFile (FileBasicInformation,
   FileDispositionInformation), and its NTFS has hard links (made through the
   backup API), so a name may come to name another file between the check
   and the disposal unless the checked handle stays open in between. */
bool CheckedFileHandles() { return GetPlatform() == PLATFORM_NT; }

HANDLE OpenCheckedFile(const char* path) {
    return OpenByName(path, FileAccess::Checking, FileSharing::ReadWrite);
}

HANDLE OpenFileForReading(const char* path) {
    return OpenByName(path, FileAccess::Reading, FileSharing::Everything);
}

int OpenDescriptorForReading(const char* path) {
    // An open that reached a device rather than a file on a disk (a name of
    // a device the name rule does not know: on 9x that of any driver
    // CONFIG.SYS loaded) is never read as a file.
    if (GetPlatform() != PLATFORM_NT) {
        const FileName name(path);
        if (!name.get()) return -1;
        int fd;
        {
            NativeFileNames native;
            fd = OpenDescriptorReadOnly(name.get());
        }
        if (fd >= 0 && GetFileType((HANDLE)_get_osfhandle(fd)) != FILE_TYPE_DISK) {
            _close(fd);
            return -1;
        }
        return fd;
    }
    HANDLE file = OpenFileForReading(path);
    if (file == INVALID_HANDLE_VALUE) return -1;
    const int fd =
        GetFileType(file) == FILE_TYPE_DISK ? _open_osfhandle((intptr_t)file, _O_RDONLY) : -1;
    if (fd < 0) CloseHandle(file);
    return fd;
}

bool IsFile(HANDLE file, const FileId& id) {
    FileId now;
    return IdentityOf(file, &now) && now.volume == id.volume && now.indexHigh == id.indexHigh &&
           now.indexLow == id.indexLow;
}

HANDLE ReopenCheckedFile(const char* path, const FileId& id) {
    HANDLE file = OpenCheckedFile(path);
    if (file != INVALID_HANDLE_VALUE && !IsFile(file, id)) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

bool IdentityOf(HANDLE file, FileId* id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    id->volume = info.dwVolumeSerialNumber;
    id->indexHigh = info.nFileIndexHigh;
    id->indexLow = info.nFileIndexLow;
    return true;
}

DWORD NameCount(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) && info.nNumberOfLinks > 1 ? info.nNumberOfLinks
                                                                              : 1;
}

DWORD NameCountAt(const char* path) {
    if (!CheckedFileHandles()) return 1;
    HANDLE file = OpenByName(path, FileAccess::Attributes, FileSharing::Everything);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const DWORD names = NameCount(file);
    CloseHandle(file);
    return names;
}

bool IdentityAt(const char* path, FileId* id) {
    HANDLE file = OpenByName(path, FileAccess::Attributes, FileSharing::Everything);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = IdentityOf(file, id);
    CloseHandle(file);
    return known;
}

bool PathNamesFile(const char* path, const FileId& id) {
    FileId now;
    return WithoutLinks(path) && IdentityAt(path, &now) && now.volume == id.volume &&
           now.indexHigh == id.indexHigh && now.indexLow == id.indexLow;
}

bool NameIsGone(const char* path) {
    const FileName name(path);
    if (!name.get() || GetFileAttributesA(name.get()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    // A name that reaches a device the name rule does not know (a driver 9x
    // loaded) has no attributes, yet lists the device, by the device's name
    // without the extension (Wine's FindFirstFileExW): not gone.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(name.get(), &found);
    if (search == INVALID_HANDLE_VALUE) return true;
    FindClose(search);
    found.cFileName[sizeof found.cFileName - 1] = 0;
    const char* last = strrchr(path, '\\');
    return _stricmp(found.cFileName, last ? last + 1 : path) == 0;
}

bool StillNamedAt(const char* path, const FileId& id) {
    NativeFileNames native;
    HANDLE file = OpenByName(path, FileAccess::Attributes, FileSharing::Everything);
    if (file == INVALID_HANDLE_VALUE) return !NameIsGone(path);
    const bool same = IsFile(file, id);
    CloseHandle(file);
    return same;
}

bool SameIdentity(const char* a, const char* b) {
    // A serial and an index are proof only within one volume (hard links and
    // 8.3 aliases never leave theirs): a volume the user brings (a disk
    // image, a stick, a clone) may claim those of any other, so two drive
    // letters, or a path without one, are never one file by identity; nor
    // is a path through a link, which any user may point from a folder of
    // their own to such a volume (mounted or not) under the same letter.
    if (!IsDrivePath(a) || !IsDrivePath(b) ||
        toupper((unsigned char)a[0]) != toupper((unsigned char)b[0]) || !WithoutLinks(a) ||
        !WithoutLinks(b))
        return false;
    HANDLE fileA = OpenFileForReading(a);
    if (fileA == INVALID_HANDLE_VALUE) return false;
    HANDLE fileB = OpenFileForReading(b);
    FileId idA, idB;
    const bool same = fileB != INVALID_HANDLE_VALUE && IdentityOf(fileA, &idA) &&
                      IdentityOf(fileB, &idB) && idA.volume == idB.volume &&
                      idA.indexHigh == idB.indexHigh && idA.indexLow == idB.indexLow;
    CloseHandle(fileA);
    if (fileB != INVALID_HANDLE_VALUE) CloseHandle(fileB);
    return same;
}

bool IdentityLasts(char drive) {
    const char root[] = {drive, ':', '\\', 0};
    DWORD flags = 0;
    return isalpha((unsigned char)drive) &&
           GetVolumeInformationA(root, NULL, 0, NULL, NULL, &flags, NULL, 0) &&
           (flags & FILE_PERSISTENT_ACLS);
}
