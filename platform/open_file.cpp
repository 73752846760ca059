/*
** The door's opens: the only CreateFileA, CreateFileW and _open of the
** program outside actions/.
*/
#include "platform/open_file.h"
#include "platform/resolve.h"

#ifndef WINAPI
#define WINAPI
#endif

DWORD AccessOf(FileAccess access) {
    switch (access) {
    case FileAccess::Identity:
        return 0;
    case FileAccess::Attributes:
        return FILE_READ_ATTRIBUTES;
    case FileAccess::Reading:
        return GENERIC_READ;
    case FileAccess::Checking:
        return GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES;
    }
    return 0;
}

DWORD SharingOf(FileSharing sharing) {
    return sharing == FileSharing::Everything
               ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
               : FILE_SHARE_READ | FILE_SHARE_WRITE;
}

/* kernel32's CreateFileW, which the table gives this file alone. */
struct WideDoor {
    static auto Find() { return Resolve("Kernel32.dll", Resolvable::CreateFileW); }
};

HANDLE OpenExisting(const char* path, FileAccess access, FileSharing sharing) {
    return CreateFileA(path, AccessOf(access), SharingOf(sharing), NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

WideOpener FindWideOpener() {
    WideOpener opener;
    opener.open_ = WideDoor::Find();
    return opener;
}

HANDLE WideOpener::operator()(const WCHAR* path, FileAccess access, FileSharing sharing) const {
    if (!open_) return INVALID_HANDLE_VALUE;
    return open_(path, AccessOf(access), SharingOf(sharing), NULL, OPEN_EXISTING,
                 FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

int OpenDescriptorReadOnly(const char* path) { return _open(path, _O_RDONLY | _O_BINARY); }
