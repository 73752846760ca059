/*
** e2e_walk: the baselines of the Wine benchmark (bench_wine.sh).
**
**   e2e_walk <root, e.g. C:> [twice] [read] [candidates] [record] [opened] [text]
**            [peek] [window]
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
**   candidates  the same reads, but only of files whose listed length some
**           record of the built-in table accepts (the engine's own test), as
**           the program's walk did before it asked the file for its length;
**   record  the same, with each file's length taken from its own record
**           (GetFileAttributesExA), as the program's walk now does;
**   opened  the same, with each file opened for its length (_open,
**           _filelength, _close), as the program does without that record;
**   text    a status line (a static control in a window) gets every entry's
**           path (SetWindowTextA), and nothing else: the control is only
**           marked for repainting;
**   peek    the message queue is checked before and after every entry
**           (PeekMessageA, TranslateMessage, DispatchMessageA), with no text
**           to show;
**   window  both, the way the program's walk keeps its window alive: the
**           pumps then also dispatch the status line's repaint.
** Prints "files <n> ms <elapsed> opened <files opened> read <bytes read>",
** the elapsed time measured around the walk alone.
*/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include "engine/file_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool g_twice = false, g_read = false, g_candidates = false, g_text = false, g_peek = false;
bool g_record = false, g_openForLength = false;
HWND g_status = nullptr;
long g_files = 0, g_opened = 0;
long long g_bytesRead = 0;

void Pump() {
    if (!g_peek) return;
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void Show(const std::string& path) {
    if (g_text) SetWindowTextA(g_status, path.c_str());
}

bool ReadAt(int fd, long at, void* buffer, unsigned size) {
    if (_lseek(fd, at, SEEK_SET) != at) return false;
    int n = _read(fd, buffer, size);
    if (n > 0) g_bytesRead += n;
    return n == static_cast<int>(size);
}

/* The header reads of the file check. */
void ReadHeaders(const std::string& path) {
    int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    g_opened++;
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
            unsigned long long length =
                static_cast<unsigned long long>(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow;
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (g_record && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
                length =
                    static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
            if (g_openForLength) {
                int file = _open(path.c_str(), _O_RDONLY | _O_BINARY);
                g_opened++;
                if (file != -1) {
                    length = static_cast<unsigned long long>(_filelength(file));
                    _close(file);
                }
            }
            if (g_read && (!g_candidates || CheckFileCouldHandle(length))) ReadHeaders(path);
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

/* The engine is linked for the file check's length test only; through the
   file check the linker also reaches the walk, which names the question
   dialog of the program's window. This walk never asks. */
int AskUser(const char*, const char*, UINT) { return IDNO; }

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr,
                "usage: e2e_walk <root> [twice] [read] [candidates] [record] [opened] [text] "
                "[peek] [window]\n");
        return 2;
    }
    for (int i = 2; i < argc; i++) {
        if (!strcmp(argv[i], "twice")) g_twice = true;
        if (!strcmp(argv[i], "read")) g_read = true;
        if (!strcmp(argv[i], "candidates")) g_read = g_candidates = true;
        if (!strcmp(argv[i], "record")) g_read = g_candidates = g_record = true;
        if (!strcmp(argv[i], "opened")) g_read = g_candidates = g_openForLength = true;
        if (!strcmp(argv[i], "text")) g_text = true;
        if (!strcmp(argv[i], "peek")) g_peek = true;
        if (!strcmp(argv[i], "window")) g_text = g_peek = true;
    }
    HWND frame = nullptr;
    if (g_text || g_peek) {
        frame = CreateWindowExA(0, "STATIC", "e2e_walk", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                600, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        g_status = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT, 20, 60, 540,
                                   30, frame, nullptr, GetModuleHandleA(nullptr), nullptr);
        for (int i = 0; i < 50; i++) {
            MSG msg;
            if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Walk(argv[1]);
    QueryPerformanceCounter(&end);
    double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                static_cast<double>(frequency.QuadPart);
    printf("files %ld ms %.0f opened %ld read %lld\n", g_files, ms, g_opened, g_bytesRead);
    if (frame) DestroyWindow(frame);
    return 0;
}
