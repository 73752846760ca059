/*
** e2e_walk: the baselines of the Wine benchmark (bench_wine.sh).
**
**   e2e_walk <root, e.g. C:> [twice] [read] [window]
**
** Without options, a bare recursive FindFirstFileA/FindNextFileA walk: no
** window, no file opened, every folder listed once. The options add, one
** by one, the work that the program's walk does per entry, so that the
** benchmark can tell where the program's time goes:
**   twice   every folder is listed twice, files first, then subfolders;
**   read    every file is opened and its headers read and closed, with the
**           run-time library calls the file check uses (_open, _filelength,
**           _lseek, _read, _close): the DOS header's pointer, the PE
**           signature and file header, the optional header and the section
**           table when the file is a PE file;
**   window  a status line (a static control in a window) gets every entry's
**           path, and the message queue is pumped before and after every
**           entry (PeekMessageA, TranslateMessage, DispatchMessageA), the
**           way the program's walk keeps its window alive.
** Prints "files <n> ms <elapsed>", the elapsed time measured around the
** walk alone.
*/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool g_twice = false, g_read = false;
HWND g_status = nullptr;
long g_files = 0;

void Pump() {
    if (!g_status) return;
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void Show(const std::string& path) {
    if (g_status) SetWindowTextA(g_status, path.c_str());
}

bool ReadAt(int fd, long at, void* buffer, unsigned size) {
    return _lseek(fd, at, SEEK_SET) == at && _read(fd, buffer, size) == static_cast<int>(size);
}

/* The header reads of the file check. */
void ReadHeaders(const std::string& path) {
    int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd == -1) return;
    unsigned char buffer[800];
    unsigned short peOffset = 0;
    if (_filelength(fd) > 0 && ReadAt(fd, 60, &peOffset, 2) && ReadAt(fd, peOffset, buffer, 4) &&
        memcmp(buffer, "PE\0\0", 4) == 0 && ReadAt(fd, peOffset + 4, buffer, 20)) {
        unsigned sections = buffer[2] | buffer[3] << 8;
        if (ReadAt(fd, peOffset + 24, buffer, 96) && sections <= 20)
            ReadAt(fd, peOffset + 248, buffer, sections * 40);
    }
    _close(fd);
}

void Walk(const std::string& folder) {
    std::vector<std::string> subfolders;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        bool dots = !strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..");
        std::string path = folder + "\\" + fd.cFileName;
        Pump();
        Show(path);
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            g_files++;
            if (g_read) ReadHeaders(path);
        } else if (!dots && !g_twice) {
            subfolders.push_back(path);
        }
        Pump();
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    if (g_twice) {
        h = FindFirstFileA((folder + "\\*.*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return;
        do {
            Pump();
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && strcmp(fd.cFileName, ".") &&
                strcmp(fd.cFileName, ".."))
                Walk(folder + "\\" + fd.cFileName);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    for (const std::string& s : subfolders)
        Walk(s);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: e2e_walk <root> [twice] [read] [window]\n");
        return 2;
    }
    bool window = false;
    for (int i = 2; i < argc; i++) {
        if (!strcmp(argv[i], "twice")) g_twice = true;
        if (!strcmp(argv[i], "read")) g_read = true;
        if (!strcmp(argv[i], "window")) window = true;
    }
    HWND frame = nullptr;
    if (window) {
        frame = CreateWindowExA(0, "STATIC", "e2e_walk", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                600, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        g_status = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT, 20, 60, 540,
                                   30, frame, nullptr, GetModuleHandleA(nullptr), nullptr);
        for (int i = 0; i < 50; i++)
            Pump();
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Walk(argv[1]);
    QueryPerformanceCounter(&end);
    double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                static_cast<double>(frequency.QuadPart);
    printf("files %ld ms %.0f\n", g_files, ms);
    if (frame) DestroyWindow(frame);
    return 0;
}
