/*
** e2e_holder: holds one file open the way a running program holds its data
** file: for reading, sharing reading only (no write, no delete sharing), so
** that DeleteFileA on it fails with a sharing violation while this runs.
** It waits until it is terminated.
**
**   e2e_holder <path>
*/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    Sleep(INFINITE);
    return 0;
}
