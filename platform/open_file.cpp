/*
** The door's opens: the only CreateFileA, CreateFileW and _open of the
** program outside actions/.
*/
#include "platform/open_file.h"
#include "platform/resolve.h"

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

HANDLE OpenExisting(const char* path, FileAccess access, FileSharing sharing) {
    return CreateFileA(path, AccessOf(access), SharingOf(sharing), NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

WideOpener FindWideOpener() {
    WideOpener opener;
    // The door's own lookup, not an entry of the table: the one function
    // found at run time that could write, found here alone.
    if (HMODULE kernel = LoadSystemLibrary("Kernel32.dll"))
        opener.open_ = reinterpret_cast<WideOpener::Fn>(
            reinterpret_cast<void (*)()>(GetProcAddress(kernel, "CreateFileW")));
    return opener;
}

HANDLE WideOpener::operator()(const WCHAR* path, FileAccess access, FileSharing sharing) const {
    if (!open_) return INVALID_HANDLE_VALUE;
    return open_(path, AccessOf(access), SharingOf(sharing), NULL, OPEN_EXISTING,
                 FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

int OpenDescriptorReadOnly(const char* path) { return _open(path, _O_RDONLY | _O_BINARY); }
